#include "mainwnd/trayicon.h"

#include "platform/messages.h"

#include <QCoreApplication>
#include <QSystemTrayIcon>

TrayIcon::TrayIcon(QObject* owner, const QIcon& normal, const QIcon& alert)
    : QObject(owner), m_owner(owner), m_normalIcon(normal), m_alertIcon(alert) {}

TrayIcon::~TrayIcon() {
    remove();
}

void TrayIcon::add() {
    if (m_added)
        return;
    m_added = true;
    m_alert = false;
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_tray = new QSystemTrayIcon(m_normalIcon, this);
    m_tray->setToolTip(QStringLiteral("ZEB"));
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { onActivated(reason); });
    m_tray->show();
}

void TrayIcon::modify(bool alert) {
    if (!m_added)
        return;
    m_alert = alert;
    if (m_tray)
        m_tray->setIcon(alert ? m_alertIcon : m_normalIcon);
}

void TrayIcon::remove() {
    if (!m_added)
        return;
    m_added = false;
    delete m_tray;
    m_tray = nullptr;
}

namespace {
std::optional<bool> g_trayPresence;
} // namespace

void TrayIcon::setTrayPresenceForTesting(std::optional<bool> present) {
    g_trayPresence = present;
}

bool TrayIcon::isVisibleInTray() const {
    if (g_trayPresence)
        return m_added && *g_trayPresence;
    // The tray may have gone since the icon was put there.
    return m_tray && m_tray->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::onActivated(int reason) {
    // The tray reports a finished left click as a trigger; the other buttons
    // are passed on too, and the window ignores them.
    int mouseMessage = 0;
    switch (reason) {
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::DoubleClick:
        mouseMessage = WM_LBUTTONUP;
        break;
    case QSystemTrayIcon::Context:
        mouseMessage = WM_RBUTTONUP;
        break;
    default:
        return;
    }
    QCoreApplication::postEvent(m_owner,
                                new PrivateEvent(WM_TRAY_NOTIFY, kTrayIconId, mouseMessage));
}
