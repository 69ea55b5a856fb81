#include "store/addcontact.h"

#include "platform/messagebox.h"
#include "platform/trimright.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
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

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, &CAddContact::accept);
    connect(cancel, &QPushButton::clicked, this, &CAddContact::reject);
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
