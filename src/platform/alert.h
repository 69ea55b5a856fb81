#pragma once

#include <QString>

#include <functional>

// A message for the user from code that has no window of its own (the
// writer, the workers). The widgets library installs a handler that shows a
// message box on the UI thread and waits until it is dismissed; without one
// (the headless companion, core tests) the text goes to standard error.
enum class AlertIcon { None, Information, Warning, Error, Question };

using AlertHandler = std::function<void(const QString& text, const QString& caption, AlertIcon)>;

void showAlert(const QString& text, const QString& caption, AlertIcon icon);
void setAlertHandler(AlertHandler handler);
