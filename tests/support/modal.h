#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

// Acts on a modal dialog once it is open. Modal dialogs run their own event
// loop, so a test cannot reach them from the code that opened them; this
// polls from a timer, which also fires inside that nested loop. Gives up
// after timeoutMs (and then calls nothing).
template <typename Dialog>
void whenModal(std::function<void(Dialog*)> action, int timeoutMs = 10000) {
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, action, timeoutMs] {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(dialog);
        } else if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}
