#include "store/options/notifysettings.h"

#include "platform/profile.h"

CNotifySettings::CNotifySettings(QWidget* parent)
    : CCheckBoxPage(QStringLiteral("Receiving"), QStringLiteral("When I receive a message..."),
                    QStringLiteral("Popup notification window"), QStringLiteral("notifyPopup"),
                    kSettingNotifyPopup, parent) {}
