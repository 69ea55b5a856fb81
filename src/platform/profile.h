#pragma once

#include <QString>

// Names and defaults of every settings value the program keeps, all in the
// one section "Settings".
inline constexpr char kSettingsSection[] = "Settings";
inline constexpr char kSettingX[] = "x";
inline constexpr char kSettingY[] = "y";
inline constexpr char kSettingX2[] = "x2";
inline constexpr char kSettingY2[] = "y2";
inline constexpr char kSettingNotifyPopup[] = "NotifyPopup";
inline constexpr char kSettingAllowAll[] = "AllowALL";
inline constexpr char kSettingSaveSent[] = "SaveSent";
inline constexpr char kSettingUid[] = "uid";
// The camera and microphone chosen on the Devices page, by device ID (empty
// for the system's default), each with the name it had when chosen, so a
// device that has gone away can still be named.
inline constexpr char kSettingCamera[] = "camera";
inline constexpr char kSettingCameraName[] = "cameraName";
inline constexpr char kSettingMicrophone[] = "microphone";
inline constexpr char kSettingMicrophoneName[] = "microphoneName";

// The per-user settings store: a QSettings in the native format under the
// company name and the application name. On Linux this is
// ~/.config/<company>/<application>.conf. A value that is missing, of the
// wrong type or out of its range reads as the caller's default.
class Profile {
public:
    explicit Profile(QString company = QStringLiteral("ZEB"),
                     QString application = executableBaseName());

    int GetProfileInt(const QString& section, const QString& entry, int defaultValue) const;
    bool WriteProfileInt(const QString& section, const QString& entry, int value);
    QString GetProfileString(const QString& section, const QString& entry,
                             const QString& defaultValue = {}) const;
    bool WriteProfileString(const QString& section, const QString& entry, const QString& value);

    const QString& company() const { return m_company; }
    const QString& application() const { return m_application; }

    // The executable's file name without its extension; settings of a
    // renamed executable live under its new name.
    static QString executableBaseName();

private:
    QString m_company;
    QString m_application;
};
