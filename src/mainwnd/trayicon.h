#pragma once

#include <QIcon>
#include <QObject>

#include <optional>

class QSystemTrayIcon;

// The notification-area icon of the main window: tip "ZEB", the normal and
// the alert picture (blinking swaps them), no menu. A left click (button up)
// reaches the owner as a posted WM_TRAY_NOTIFY with the tray icon's id, as
// any other mouse message does. Where the desktop has no tray the icon is
// kept as state only, so the program works the same without it.
class TrayIcon : public QObject {
    Q_OBJECT

public:
    TrayIcon(QObject* owner, const QIcon& normal, const QIcon& alert);
    ~TrayIcon() override;

    void add();
    // Shows the alert picture (true) or the normal one (false).
    void modify(bool alert);
    void remove();

    bool isAdded() const { return m_added; }
    bool showsAlert() const { return m_alert; }
    // Whether a real icon stands in a tray, through which the user can
    // bring back a hidden window.
    bool isVisibleInTray() const;
    // Tests stand in for a desktop with a tray (true) or without (false);
    // nullopt asks the desktop again.
    static void setTrayPresenceForTesting(std::optional<bool> present);

private:
    void onActivated(int reason);

    QObject* m_owner;
    QIcon m_normalIcon;
    QIcon m_alertIcon;
    QSystemTrayIcon* m_tray = nullptr;
    bool m_added = false;
    bool m_alert = false;
};
