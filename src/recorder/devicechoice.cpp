#include "recorder/devicechoice.h"

#include "app/clientcore.h"
#include "platform/profile.h"

#include <QAudioDevice>
#include <QCameraDevice>
#include <QMediaDevices>

namespace {

DeviceLister& lister() {
    static DeviceLister instance;
    return instance;
}

template <typename Device> InputDevice entry(const Device& device) {
    return InputDevice{QString::fromUtf8(device.id()), device.description(), device.isDefault()};
}

QList<InputDevice> machineDevices(DeviceKind kind) {
    QList<InputDevice> devices;
    if (kind == DeviceKind::Camera) {
        for (const QCameraDevice& device : QMediaDevices::videoInputs())
            devices.append(entry(device));
    } else {
        for (const QAudioDevice& device : QMediaDevices::audioInputs())
            devices.append(entry(device));
    }
    return devices;
}

struct Entries {
    const char* id;
    const char* name;
};

Entries entriesOf(DeviceKind kind) {
    return kind == DeviceKind::Camera ? Entries{kSettingCamera, kSettingCameraName}
                                      : Entries{kSettingMicrophone, kSettingMicrophoneName};
}

} // namespace

bool testDeviceWanted(DeviceKind kind) {
    const char* variable = kind == DeviceKind::Camera ? "CLIPNOTE_CAMERA" : "CLIPNOTE_MICROPHONE";
    return qEnvironmentVariable(variable) == QLatin1String("test");
}

QList<InputDevice> inputDevices(DeviceKind kind) {
    QList<InputDevice> devices = lister() ? lister()(kind) : machineDevices(kind);
    if (testDeviceWanted(kind)) {
        // The test device records when nothing is chosen, so it is the default.
        for (InputDevice& device : devices)
            device.isDefault = false;
        devices.prepend(
            kind == DeviceKind::Camera
                ? InputDevice{QLatin1String(kTestPatternId), QStringLiteral("Test pattern"), true}
                : InputDevice{QLatin1String(kTestToneId), QStringLiteral("Test tone"), true});
    }
    return devices;
}

std::optional<InputDevice> defaultInputDevice(DeviceKind kind) {
    const QList<InputDevice> devices = inputDevices(kind);
    for (const InputDevice& device : devices) {
        if (device.isDefault)
            return device;
    }
    // A system that names no default uses the first it has.
    if (!devices.isEmpty())
        return devices.front();
    return std::nullopt;
}

std::optional<InputDevice> findInputDevice(DeviceKind kind, const QString& id) {
    for (const InputDevice& device : inputDevices(kind)) {
        if (device.id == id)
            return device;
    }
    return std::nullopt;
}

void setDeviceLister(DeviceLister replacement) {
    lister() = std::move(replacement);
}

DeviceChoice readDeviceChoice(DeviceKind kind) {
    const ClientCore* core = ClientCore::instance();
    if (!core)
        return {};
    const Entries entries = entriesOf(kind);
    const QString section = QLatin1String(kSettingsSection);
    return DeviceChoice{core->GetProfileString(section, QLatin1String(entries.id)),
                        core->GetProfileString(section, QLatin1String(entries.name))};
}

bool writeDeviceChoice(DeviceKind kind, const DeviceChoice& choice) {
    ClientCore* core = ClientCore::instance();
    if (!core)
        return false;
    const Entries entries = entriesOf(kind);
    const QString section = QLatin1String(kSettingsSection);
    const bool named = core->WriteProfileString(section, QLatin1String(entries.name), choice.name);
    const bool kept = core->WriteProfileString(section, QLatin1String(entries.id), choice.id);
    return named && kept;
}

QString deviceUnavailableText(DeviceKind kind, const QString& name) {
    if (kind == DeviceKind::Camera)
        return QStringLiteral("The camera \u201C%1\u201D is not available: it may be unplugged or "
                              "in use by another program. The default camera is used instead.")
            .arg(name);
    return QStringLiteral("The microphone \u201C%1\u201D is not available: it may be unplugged or "
                          "in use by another program. The default microphone is used instead.")
        .arg(name);
}
