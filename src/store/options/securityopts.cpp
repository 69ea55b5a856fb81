#include "store/options/securityopts.h"

#include "platform/profile.h"
#include "service/dialogs/changepw.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

CSecurityOpts::CSecurityOpts(QWidget* parent) : COptionsPage(QStringLiteral("Security"), parent) {
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("password"));
    m_password->setReadOnly(true);
    m_password->setEchoMode(QLineEdit::Password);
    auto* change = new QPushButton(QStringLiteral("&Change"), this);
    change->setObjectName(QStringLiteral("change"));
    m_allowAnyone = new QRadioButton(QStringLiteral("Allow messages from anyone"), this);
    m_allowAnyone->setObjectName(QStringLiteral("allowAnyone"));
    m_allowContacts =
        new QRadioButton(QStringLiteral("Allow messages only from my contacts"), this);
    m_allowContacts->setObjectName(QStringLiteral("allowContacts"));

    auto* passwordRow = new QHBoxLayout;
    passwordRow->addWidget(new QLabel(QStringLiteral("Password: "), this));
    passwordRow->addWidget(m_password, 1);
    passwordRow->addWidget(change);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(passwordRow);
    layout->addWidget(m_allowAnyone);
    layout->addWidget(m_allowContacts);
    layout->addStretch();

    connect(change, &QPushButton::clicked, this, &CSecurityOpts::OnChange);
}

void CSecurityOpts::OnInitDialog() {
    m_password->setText(QLatin1String(kPlaceholder));
    const bool all = readSetting(kSettingAllowAll);
    m_allowAnyone->setChecked(all);
    m_allowContacts->setChecked(!all);
}

void CSecurityOpts::OnOK() {
    writeSetting(kSettingAllowAll, m_allowAnyone->isChecked());
}

void CSecurityOpts::OnChange() {
    CChangePW dialog(this);
    dialog.exec();
}
