#include "platform/messagebox.h"

#include "platform/alert.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QMutex>
#include <QThread>

#include <atomic>

namespace {
QMutex g_hookMutex;
MessageBoxHook g_hook;

MessageBoxHook currentHook() {
    QMutexLocker lock(&g_hookMutex);
    return g_hook;
}
} // namespace

void setMessageBoxHook(MessageBoxHook hook) {
    QMutexLocker lock(&g_hookMutex);
    g_hook = std::move(hook);
}

namespace {
std::atomic<quint64> g_boxesShown{0};
}

quint64 messageBoxesShown() {
    return g_boxesShown.load();
}

QMessageBox::StandardButton showMessageBox(QWidget* parent, const QString& text,
                                           const QString& caption, QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons) {
    ++g_boxesShown;
    if (const MessageBoxHook hook = currentHook())
        return hook(MessageBoxCall{text, caption, icon, buttons});
    QMessageBox box(icon, caption, text, buttons, parent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QMessageBox::StandardButton showMessageBoxFromWorker(const QString& text, const QString& caption,
                                                     QMessageBox::Icon icon) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        return showMessageBox(nullptr, text, caption, icon);
    QMessageBox::StandardButton pressed = QMessageBox::NoButton;
    QMetaObject::invokeMethod(
        app, [&] { pressed = showMessageBox(nullptr, text, caption, icon); },
        Qt::BlockingQueuedConnection);
    return pressed;
}

void installAlertBoxes() {
    setAlertHandler([](const QString& text, const QString& caption, AlertIcon icon) {
        QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
        switch (icon) {
        case AlertIcon::Information:
            boxIcon = QMessageBox::Information;
            break;
        case AlertIcon::Warning:
            boxIcon = QMessageBox::Warning;
            break;
        case AlertIcon::Error:
            boxIcon = QMessageBox::Critical;
            break;
        case AlertIcon::Question:
            boxIcon = QMessageBox::Question;
            break;
        case AlertIcon::None:
            break;
        }
        showMessageBoxFromWorker(text, caption, boxIcon);
    });
}
