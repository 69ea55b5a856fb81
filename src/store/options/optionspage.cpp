#include "store/options/optionspage.h"

#include "app/clientcore.h"
#include "platform/profile.h"

COptionsPage::COptionsPage(const QString& title, QWidget* parent)
    : QWidget(parent), m_title(title) {}

void COptionsPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
}

bool COptionsPage::readSetting(const char* entry) {
    const ClientCore* core = ClientCore::instance();
    return !core ||
           core->GetProfileInt(QLatin1String(kSettingsSection), QLatin1String(entry), 1) != 0;
}

void COptionsPage::writeSetting(const char* entry, bool on) {
    if (ClientCore* core = ClientCore::instance())
        core->WriteProfileInt(QLatin1String(kSettingsSection), QLatin1String(entry), on ? 1 : 0);
}
