#pragma once

#include <QAudioFormat>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class QIODevice;

// Where the sound of a recording comes from: an audio input, or a test tone
// when CLIPNOTE_MICROPHONE is "test". A source is made, opened, started,
// stopped and destroyed on one thread: the audio thread, or the user-interface
// thread for the Devices page's level meter.
class SoundSource {
public:
    // A refused step: the device's error code and its own words for it.
    struct Failure {
        std::uint32_t code = 0;
        QString text;
    };

    virtual ~SoundSource() = default;

    // Finds the device and settles the format: the recording format when the
    // device takes it, otherwise one the device prefers.
    virtual std::optional<Failure> open() = 0;
    virtual std::optional<Failure> start() = 0;
    // Once started, the captured sound is read here; readyRead tells of more.
    virtual QIODevice* device() const = 0;
    virtual QAudioFormat format() const = 0;
    virtual void stop() = 0;

    // The source CLIPNOTE_MICROPHONE chooses.
    static std::unique_ptr<SoundSource> createDefault();
    // The input of that ID from inputDevices(DeviceKind::Microphone) (the
    // test tone's too), or the default for an empty ID. An input that is not
    // there fails to open.
    static std::unique_ptr<SoundSource> create(const QString& deviceId);
    // The default audio input of the system.
    static std::unique_ptr<SoundSource> createMicrophone();
    // A tone in the given format, paced as real sound.
    static std::unique_ptr<SoundSource> createTestTone(const QAudioFormat& format);

    // The failure of a device whose sound cannot be turned into the
    // recording format.
    static Failure unusableFormat();

    // The loudest sample of a stretch of sound in this format, from 0 for
    // silence to 1 for full scale. A sample cut off at the end is left out.
    static float peakLevel(const QAudioFormat& format, const char* data, qint64 size);
};
