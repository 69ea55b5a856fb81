#include "service/dialogs/register.h"

#include "app/clientcore.h"
#include "platform/messagebox.h"
#include "platform/messages.h"
#include "platform/waitcursor.h"
#include "service/replytext.h"
#include "service/serviceaddress.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTimerEvent>
#include <QVBoxLayout>

namespace {
constexpr int kTimerCloseAfterAnswer = 2;
constexpr int kPeriodCloseAfterAnswerMs = 10;
} // namespace

CRegister::CRegister(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Create New Account"));
    m_email = new QLineEdit(this);
    m_email->setObjectName(QStringLiteral("email"));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("E-Mail Address: "), m_email);

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("ok"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);

    connect(m_ok, &QPushButton::clicked, this, &CRegister::accept);
    connect(m_cancel, &QPushButton::clicked, this, &CRegister::reject);
}

void CRegister::showEvent(QShowEvent* event) {
    if (!m_captionSet) {
        m_captionSet = true;
        setWindowTitle(m_nMode == kCreateAccount ? QStringLiteral("Create a New Account")
                                                 : QStringLiteral("Forgot Password"));
    }
    QDialog::showEvent(event);
}

void CRegister::accept() {
    if (!m_ok->isEnabled())
        return;
    WaitCursor wait;
    const QString email = m_email->text();
    // One request only: from here the former Cancel button is the way out.
    m_ok->hide();
    m_cancel->setText(QStringLiteral("OK"));
    m_cancel->setDefault(true);
    m_ok->setEnabled(false);

    ClientCore* core = ClientCore::instance();
    const QString caption = QStringLiteral("Clipnote");
    if (m_nMode == kCreateAccount) {
        const QString reply = core->GetPage(
            pagePath(QStringLiteral("zeb/reg.asp"), {{QStringLiteral("UID"), email}}));
        wait.restore();
        if (isOkReply(reply)) {
            showMessageBox(
                this,
                QStringLiteral("Welcome! Your password has been e-mailed to you. You can "
                               "change your password by going to 'Options' after you "
                               "have logged in."),
                caption, QMessageBox::Information);
        } else {
            showMessageBox(this, replyForDisplay(reply), caption, QMessageBox::Warning);
        }
    } else {
        const QString reply = core->GetPage(
            pagePath(QStringLiteral("zeb/pwmail.asp"), {{QStringLiteral("UID"), email}}));
        wait.restore();
        showMessageBox(this, replyForDisplay(reply), caption, QMessageBox::Warning);
    }
    m_timers.start(kTimerCloseAfterAnswer, kPeriodCloseAfterAnswerMs);
}

void CRegister::timerEvent(QTimerEvent* event) {
    if (m_timers.idFor(event->timerId()) == kTimerCloseAfterAnswer) {
        m_timers.stop(kTimerCloseAfterAnswer);
        close();
        return;
    }
    QDialog::timerEvent(event);
}
