#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

// "Add Contact": asks for a contact's display name and e-mail address (its
// user ID). The caller presets m_strEmail before opening it and reads both
// members after OK, each without the blanks typed at its end (blanks at the
// start stay). An empty e-mail is refused with a message and the dialog
// stays open; the name may be empty. The dialog itself touches no file.
class CAddContact : public QDialog {
    Q_OBJECT

public:
    explicit CAddContact(QWidget* parent = nullptr);

    QString m_strName;
    QString m_strEmail;

protected:
    void showEvent(QShowEvent* event) override;
    void accept() override;

private:
    QLineEdit* m_name;
    QLineEdit* m_email;
    bool m_opened = false;
};
