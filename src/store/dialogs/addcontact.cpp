#include "store/dialogs/addcontact.h"

#include "platform/dialogbuttons.h"
#include "platform/helpers.h"
#include "platform/messagebox.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

CAddContact::CAddContact(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Add Contact"));
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("name"));
    m_email = new QLineEdit(this);
    m_email->setObjectName(QStringLiteral("email"));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Name: "), m_name);
    form->addRow(QStringLiteral("E-Mail:"), m_email);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(okCancelButtons(this));
}

void CAddContact::showEvent(QShowEvent* event) {
    if (!m_opened) {
        m_opened = true;
        m_email->setText(m_strEmail);
        m_name->setFocus();
    }
    QDialog::showEvent(event);
}

void CAddContact::accept() {
    m_strName = withoutTrailingBlanks(m_name->text());
    m_strEmail = withoutTrailingBlanks(m_email->text());
    if (m_strEmail.isEmpty()) {
        showMessageBox(this, QStringLiteral("You must enter an e-mail address"),
                       QStringLiteral("ZEB"), QMessageBox::Critical);
        return;
    }
    QDialog::accept();
}
