#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

// The sign-in dialog. OK sends the user ID and password to the service's
// login page; on "OK" the user ID becomes the signed-in user and is kept as
// the default of the next run. Any other reply is shown as it came.
class CLogin : public QDialog {
    Q_OBJECT

public:
    explicit CLogin(QWidget* parent = nullptr);

    // For a run whose session the service ended: the user ID is this run's
    // and cannot be changed (the window's folders are that user's), and no
    // new account is offered.
    void signInAgainAs(const QString& userId);

protected:
    void accept() override;

private Q_SLOTS:
    void OnCreateAccount();
    void OnForgotPassword();

private:
    QLineEdit* m_userId;
    QLineEdit* m_password;
    QPushButton* m_login;
};
