#pragma once

#include "platform/windowtimers.h"

#include <QDialog>

class QLineEdit;
class QPushButton;

// Creates an account (mode 1) or has a forgotten password mailed (mode 0).
// After its one request the dialog can only be closed: it shows the answer
// and then closes itself.
class CRegister : public QDialog {
    Q_OBJECT

public:
    enum Mode { kForgotPassword = 0, kCreateAccount = 1 };

    explicit CRegister(QWidget* parent = nullptr);

    int m_nMode = kCreateAccount;

protected:
    void showEvent(QShowEvent* event) override;
    void accept() override;
    void timerEvent(QTimerEvent* event) override;

private:
    QLineEdit* m_email;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    WindowTimers m_timers{this};
    bool m_captionSet = false;
};
