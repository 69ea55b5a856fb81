#include "service/dialogs/login.h"

#include "app/clientcore.h"
#include "platform/messagebox.h"
#include "platform/waitcursor.h"
#include "service/dialogs/register.h"
#include "service/replytext.h"
#include "service/serviceaddress.h"
#include "store/storenames.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CLogin::CLogin(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Login"));
    m_userId = new QLineEdit(this);
    m_userId->setObjectName(QStringLiteral("userId"));
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("password"));
    m_password->setEchoMode(QLineEdit::Password);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("User ID:"), m_userId);
    form->addRow(QStringLiteral("Password: "), m_password);

    m_login = new QPushButton(QStringLiteral("&Login"), this);
    m_login->setObjectName(QStringLiteral("login"));
    m_login->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    auto* create = new QPushButton(QStringLiteral("Create A New Account (FREE)!"), this);
    create->setObjectName(QStringLiteral("createAccount"));
    create->setAutoDefault(false);
    auto* forgot = new QPushButton(
        QStringLiteral("Forgot your password? Don't worry, we'll e-mail it to you!"), this);
    forgot->setObjectName(QStringLiteral("forgotPassword"));
    forgot->setAutoDefault(false);
    for (QPushButton* b : {create, forgot})
        b->setFlat(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_login);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(create);
    layout->addWidget(forgot);

    connect(m_login, &QPushButton::clicked, this, &CLogin::accept);
    connect(cancel, &QPushButton::clicked, this, &CLogin::reject);
    connect(create, &QPushButton::clicked, this, &CLogin::OnCreateAccount);
    connect(forgot, &QPushButton::clicked, this, &CLogin::OnForgotPassword);

    ClientCore* core = ClientCore::instance();
    m_userId->setText(
        core->GetProfileString(QLatin1String(kSettingsSection), QLatin1String(kSettingUid)));
    if (!m_userId->text().isEmpty())
        m_password->setFocus();
}

void CLogin::signInAgainAs(const QString& userId) {
    m_userId->setText(userId);
    m_userId->setReadOnly(true);
    if (auto* create = findChild<QPushButton*>(QStringLiteral("createAccount")))
        create->hide();
    m_password->clear();
    m_password->setFocus();
}

void CLogin::accept() {
    WaitCursor wait;
    ClientCore* core = ClientCore::instance();
    const QString userId = m_userId->text();
    const QString reply = core->GetPage(
        pagePath(QStringLiteral("zeb/login.asp"),
                 {{QStringLiteral("UID"), userId}, {QStringLiteral("PW"), m_password->text()}}));
    wait.restore();
    if (isOkReply(reply) && !isSafeStoreName(userId)) {
        // The messages of a user live in a folder named by the user ID.
        showMessageBox(this,
                       QStringLiteral("This user ID cannot be used on this computer: it cannot "
                                      "name a folder."),
                       ClientCore::applicationTitle(), QMessageBox::Warning);
        return;
    }
    if (isOkReply(reply)) {
        core->m_strUserId = userId;
        core->setPassword(m_password->text());
        core->WriteProfileString(QLatin1String(kSettingsSection), QLatin1String(kSettingUid),
                                 userId);
        QDialog::accept();
        return;
    }
    showMessageBox(this, replyForDisplay(reply), ClientCore::applicationTitle(),
                   QMessageBox::NoIcon);
}

void CLogin::OnCreateAccount() {
    CRegister dialog(this);
    dialog.m_nMode = CRegister::kCreateAccount;
    dialog.exec();
}

void CLogin::OnForgotPassword() {
    CRegister dialog(this);
    dialog.m_nMode = CRegister::kForgotPassword;
    dialog.exec();
}
