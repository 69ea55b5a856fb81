#pragma once

#include <QDialog>

class QLineEdit;

// Changes the signed-in user's password. Both entries are cut of trailing
// blanks and must match exactly before anything is sent.
class CChangePW : public QDialog {
    Q_OBJECT

public:
    explicit CChangePW(QWidget* parent = nullptr);

    // New passwords are at most this many characters long.
    static constexpr int kMaxPasswordLength = 16;

protected:
    void accept() override;

private:
    QLineEdit* m_newPassword;
    QLineEdit* m_confirm;
};
