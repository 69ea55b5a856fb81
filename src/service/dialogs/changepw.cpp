#include "service/dialogs/changepw.h"

#include "app/clientcore.h"
#include "platform/dialogbuttons.h"
#include "platform/helpers.h"
#include "platform/messagebox.h"
#include "platform/waitcursor.h"
#include "service/replytext.h"
#include "service/serviceaddress.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

CChangePW::CChangePW(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Change Password"));
    m_newPassword = new QLineEdit(this);
    m_newPassword->setObjectName(QStringLiteral("newPassword"));
    m_confirm = new QLineEdit(this);
    m_confirm->setObjectName(QStringLiteral("confirmPassword"));
    for (QLineEdit* e : {m_newPassword, m_confirm}) {
        e->setEchoMode(QLineEdit::Password);
        e->setMaxLength(kMaxPasswordLength);
    }
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("New Password: "), m_newPassword);
    form->addRow(QStringLiteral("Confirm New Password: "), m_confirm);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(okCancelButtons(this));
}

void CChangePW::accept() {
    WaitCursor wait;
    const QString password = withoutTrailingBlanks(m_newPassword->text());
    const QString confirm = withoutTrailingBlanks(m_confirm->text());
    const QString caption = QStringLiteral("ZEB");
    if (password != confirm) {
        wait.restore();
        showMessageBox(this, QStringLiteral("Password not confirmed!"), caption,
                       QMessageBox::Critical);
        return;
    }
    ClientCore* core = ClientCore::instance();
    const QString reply = core->GetPage(
        pagePath(QStringLiteral("zeb/chgpw.asp"),
                 {{QStringLiteral("UID"), core->m_strUserId}, {QStringLiteral("PW"), password}}));
    wait.restore();
    if (isOkReply(reply)) {
        // The service ended this run's other sessions: the worker signs in
        // again with the new password.
        core->setPassword(password);
        showMessageBox(this, QStringLiteral("Your password has been sucessfully changed!"), caption,
                       QMessageBox::Information);
        QDialog::accept();
        return;
    }
    showMessageBox(this,
                   QStringLiteral("Error changing password! Please try again later or contact ") +
                       QLatin1String(kAccountsAddress),
                   caption, QMessageBox::Critical);
}
