#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

enum class DeviceKind { Camera, Microphone };

// A camera or microphone as the Devices page lists it: the ID the settings
// keep and the name the user sees.
struct InputDevice {
    QString id;
    QString description;
    bool isDefault = false;
    friend bool operator==(const InputDevice&, const InputDevice&) = default;
};

// The generated picture and sound stand in for a camera and a microphone
// when CLIPNOTE_CAMERA or CLIPNOTE_MICROPHONE is "test"; they are then listed
// under these IDs and are the defaults.
inline constexpr char kTestPatternId[] = "test-pattern";
inline constexpr char kTestToneId[] = "test-tone";

bool testDeviceWanted(DeviceKind kind);

// The devices there are right now: the test device first when it is wanted,
// then the machine's own.
QList<InputDevice> inputDevices(DeviceKind kind);
// The device an empty choice stands for; none when there is no device.
std::optional<InputDevice> defaultInputDevice(DeviceKind kind);
std::optional<InputDevice> findInputDevice(DeviceKind kind, const QString& id);

// The QCameraDevice or QAudioDevice of that ID (as text) among `devices`, or
// `fallback` for an empty ID; a null device when there is none.
template <typename Device>
Device deviceWithId(const QList<Device>& devices, const QString& id, const Device& fallback) {
    if (id.isEmpty())
        return fallback;
    const QByteArray wanted = id.toUtf8();
    for (const Device& device : devices) {
        if (device.id() == wanted)
            return device;
    }
    return Device();
}

// Tests list made-up devices of the machine here (the test devices are
// still added); an empty lister asks the machine again.
using DeviceLister = std::function<QList<InputDevice>(DeviceKind kind)>;
void setDeviceLister(DeviceLister lister);

// What the settings keep of a choice. An empty ID is the default device.
struct DeviceChoice {
    QString id;
    QString name;
    // The words for the device in a message: its name, else its ID.
    QString shownName() const { return name.isEmpty() ? id : name; }
};

DeviceChoice readDeviceChoice(DeviceKind kind);
// False when the settings could not be written.
bool writeDeviceChoice(DeviceKind kind, const DeviceChoice& choice);

// Tells that the chosen device cannot be used and the default one is.
QString deviceUnavailableText(DeviceKind kind, const QString& name);
