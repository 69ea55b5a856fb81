#pragma once

#include "store/options/optionspage.h"

class QLineEdit;
class QRadioButton;

// The Security page: whose messages are accepted ("AllowALL") and the way to
// the password change. The password field only shows that a password exists.
class CSecurityOpts : public COptionsPage {
    Q_OBJECT

public:
    explicit CSecurityOpts(QWidget* parent = nullptr);

    // What the read-only password field holds: never the user's password,
    // which the program does not keep.
    static constexpr char kPlaceholder[] = "0000000000000000";

    void OnOK() override;

protected:
    void OnInitDialog() override;

private:
    void OnChange();

    QLineEdit* m_password;
    QRadioButton* m_allowAnyone;
    QRadioButton* m_allowContacts;
};
