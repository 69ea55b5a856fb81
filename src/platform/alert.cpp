#include "platform/alert.h"

#include <QMutex>

#include <cstdio>

namespace {
QMutex g_mutex;
AlertHandler g_handler;
} // namespace

void setAlertHandler(AlertHandler handler) {
    QMutexLocker lock(&g_mutex);
    g_handler = std::move(handler);
}

void showAlert(const QString& text, const QString& caption, AlertIcon icon) {
    AlertHandler handler;
    {
        QMutexLocker lock(&g_mutex);
        handler = g_handler;
    }
    if (handler) {
        handler(text, caption, icon);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
}
