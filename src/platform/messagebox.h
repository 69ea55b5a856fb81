#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

// Every message box of the program goes through here, so a test can answer
// it instead of a person and no modal box ever blocks a test run.
struct MessageBoxCall {
    QString text;
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

using MessageBoxHook = std::function<QMessageBox::StandardButton(const MessageBoxCall&)>;

// Shows a modal box and returns the button pressed. Must run on the UI
// thread; workers ask the UI thread to show it (showMessageBoxFromWorker).
QMessageBox::StandardButton showMessageBox(QWidget* parent, const QString& text,
                                           const QString& caption, QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// From a worker thread: shows the box on the UI thread and waits until the
// user dismisses it.
QMessageBox::StandardButton showMessageBoxFromWorker(const QString& text, const QString& caption,
                                                     QMessageBox::Icon icon);

// How many boxes have been shown so far. A box takes the key and button
// events while it is up, so whoever waits for a key to go up can tell that
// the release may have gone to the box.
quint64 messageBoxesShown();

// Tests install a hook that receives each box and returns the button to
// press; an empty hook restores the real boxes.
void setMessageBoxHook(MessageBoxHook hook);

// Routes the alerts of window-less code (writer, workers) to message boxes.
void installAlertBoxes();
