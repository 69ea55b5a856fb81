#include "platform/profile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>

#include <limits>

namespace {
struct IntRange {
    const char* name;
    int min;
    int max;
};

// Values whose meaningful range is narrower than any 32-bit number.
constexpr IntRange kRanges[] = {
    {kSettingNotifyPopup, 0, 1},
    {kSettingAllowAll, 0, 1},
    {kSettingSaveSent, 0, 1},
};

bool inRange(const QString& entry, qlonglong value) {
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return false;
    for (const IntRange& r : kRanges) {
        if (entry == QLatin1String(r.name))
            return value >= r.min && value <= r.max;
    }
    return true;
}
} // namespace

Profile::Profile(QString company, QString application)
    : m_company(std::move(company)), m_application(std::move(application)) {}

QString Profile::executableBaseName() {
    QString path =
        QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
    if (path.isEmpty())
        path = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const QString base = QFileInfo(path).completeBaseName();
    return base.isEmpty() ? QStringLiteral("clipnote") : base;
}

int Profile::GetProfileInt(const QString& section, const QString& entry, int defaultValue) const {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, m_company, m_application);
    const QVariant v = settings.value(section + QLatin1Char('/') + entry);
    if (!v.isValid())
        return defaultValue;
    bool ok = false;
    const qlonglong n = v.toString().trimmed().toLongLong(&ok);
    if (!ok || !inRange(entry, n))
        return defaultValue;
    return static_cast<int>(n);
}

bool Profile::WriteProfileInt(const QString& section, const QString& entry, int value) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, m_company, m_application);
    settings.setValue(section + QLatin1Char('/') + entry, value);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QString Profile::GetProfileString(const QString& section, const QString& entry,
                                  const QString& defaultValue) const {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, m_company, m_application);
    const QVariant v = settings.value(section + QLatin1Char('/') + entry);
    if (!v.isValid() || !v.canConvert<QString>())
        return defaultValue;
    return v.toString();
}

bool Profile::WriteProfileString(const QString& section, const QString& entry,
                                 const QString& value) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, m_company, m_application);
    settings.setValue(section + QLatin1Char('/') + entry, value);
    settings.sync();
    return settings.status() == QSettings::NoError;
}
