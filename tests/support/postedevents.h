#pragma once

#include "platform/messages.h"

#include <QEvent>
#include <QList>

// Stands in for the main window (a QObject or a QWidget): keeps every
// private message posted to it, in order, and handles nothing else itself.
template <typename Base> class PostedEventLog : public Base {
public:
    struct Posted {
        int message;
        int wParam;
        int lParam;
    };
    QList<Posted> posted;

protected:
    bool event(QEvent* event) override {
        if (event->type() >= QEvent::User && event->type() <= QEvent::MaxUser) {
            const auto* e = static_cast<const PrivateEvent*>(event);
            posted.append({e->message(), int(e->wParam()), int(e->lParam())});
            return true;
        }
        return Base::event(event);
    }
};
