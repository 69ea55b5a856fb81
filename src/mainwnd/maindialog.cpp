#include "mainwnd/maindialog.h"

#include "app/clientcore.h"
#include "platform/messages.h"
#include "platform/profile.h"
#include "service/login.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimerEvent>

CMainDialog* g_pMainDialog = nullptr;

namespace {
QString settingsSection() {
    return QLatin1String(kSettingsSection);
}
} // namespace

CMainDialog::CMainDialog(QWidget* parent) : QDialog(parent) {
    g_pMainDialog = this;
    setWindowTitle(QStringLiteral("Clipnote"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setMinimumSize(500, 550);
    OnInitDialog();
}

CMainDialog::~CMainDialog() {
    saveWindowRect();
    if (g_pMainDialog == this)
        g_pMainDialog = nullptr;
}

void CMainDialog::OnInitDialog() {
    resize(700, 560);
    placeWindow();
    m_timers.start(kTimerSignIn, kPeriodSignInMs);
}

void CMainDialog::placeWindow() {
    ClientCore* core = ClientCore::instance();
    const int x = core->GetProfileInt(settingsSection(), QLatin1String(kSettingX), 0);
    const int y = core->GetProfileInt(settingsSection(), QLatin1String(kSettingY), 0);
    const int x2 = core->GetProfileInt(settingsSection(), QLatin1String(kSettingX2), 0);
    const int y2 = core->GetProfileInt(settingsSection(), QLatin1String(kSettingY2), 0);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    if (x2 == x || y2 == y || x < 0 || x2 > area.width() || y < 0 || y2 > area.height()) {
        const QSize size = this->size();
        move(area.center() - QPoint(size.width() / 2, size.height() / 2));
        return;
    }
    // The saved rectangle is the window's inner area, which comes back the
    // same under any window manager.
    setGeometry(QRect(QPoint(x, y), QPoint(x2 - 1, y2 - 1)));
}

void CMainDialog::saveWindowRect() {
    ClientCore* core = ClientCore::instance();
    if (!core)
        return;
    const QRect r = geometry();
    core->WriteProfileInt(settingsSection(), QLatin1String(kSettingX), r.left());
    core->WriteProfileInt(settingsSection(), QLatin1String(kSettingY), r.top());
    core->WriteProfileInt(settingsSection(), QLatin1String(kSettingX2), r.left() + r.width());
    core->WriteProfileInt(settingsSection(), QLatin1String(kSettingY2), r.top() + r.height());
}

void CMainDialog::OnCancel() {
    if (workerStopped.load() && !m_ending) {
        m_ending = true;
        QDialog::reject();
    }
    exitRequested = 1;
    if (!m_ending)
        m_timers.start(kTimerExitPoll, kPeriodExitPollMs);
}

void CMainDialog::closeEvent(QCloseEvent* event) {
    // The close box, like Esc, only asks to close; the window ends once the
    // worker has stopped.
    if (!m_ending) {
        event->ignore();
        OnCancel();
        return;
    }
    QDialog::closeEvent(event);
}

void CMainDialog::timerEvent(QTimerEvent* event) {
    switch (m_timers.idFor(event->timerId())) {
    case kTimerSignIn:
        m_timers.stop(kTimerSignIn);
        signIn();
        return;
    case kTimerExitPoll:
        if (workerStopped.load()) {
            m_timers.stop(kTimerExitPoll);
            OnCancel();
        }
        return;
    default:
        QDialog::timerEvent(event);
    }
}

void CMainDialog::signIn() {
    ClientCore* core = ClientCore::instance();
    CLogin login(this);
    if (login.exec() != QDialog::Accepted) {
        exitRequested = 1;
        workerStopped = 1;
        QMetaObject::invokeMethod(this, &CMainDialog::OnCancel, Qt::QueuedConnection);
        return;
    }
    if (!core->enterUserFolder()) {
        exitRequested = 1;
        workerStopped = 1;
        QMetaObject::invokeMethod(this, &CMainDialog::OnCancel, Qt::QueuedConnection);
        return;
    }
    setWindowTitle(QStringLiteral("Clipnote- %1").arg(core->m_strUserId));
    // No Send/Receive worker runs yet, so nothing holds the window open.
    workerStopped = 1;
}
