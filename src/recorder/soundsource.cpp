#include "recorder/soundsource.h"

#include "recorder/devicechoice.h"
#include "recorder/soundblocks.h"
#include "recorder/testtone.h"

#include <QAudioDevice>
#include <QAudioSource>
#include <QMediaDevices>

#include <algorithm>
#include <cmath>

namespace {

QString errorText(QAudio::Error error) {
    switch (error) {
    case QAudio::NoError:
        return QStringLiteral("No error has occurred.");
    case QAudio::OpenError:
        return QStringLiteral("An error occurred opening the audio device.");
    case QAudio::IOError:
        return QStringLiteral("An error occurred during read/write of audio device.");
    case QAudio::UnderrunError:
        return QStringLiteral("Audio data is not being fed to the audio device fast enough.");
    case QAudio::FatalError:
        return QStringLiteral("A non-recoverable error has occurred, the audio device is not "
                              "usable at this time.");
    }
    return QStringLiteral("Unknown audio device error.");
}

// The size of the device's own buffer: the ring of blocks, in the format
// the device gives.
qint32 ringBytes(const QAudioFormat& format) {
    constexpr qint64 ringMicroseconds =
        qint64(kSoundBlockCount) * kSoundBlockBytes * 1000000 / kSoundSampleRate;
    return format.bytesForDuration(ringMicroseconds);
}

class MicrophoneSource final : public SoundSource {
public:
    explicit MicrophoneSource(QString id) : m_id(std::move(id)) {}

    std::optional<Failure> open() override {
        const QAudioDevice input =
            deviceWithId(QMediaDevices::audioInputs(), m_id, QMediaDevices::defaultAudioInput());
        if (input.isNull())
            return Failure{QAudio::OpenError, QStringLiteral("No audio input device is present.")};
        m_format = recordingSoundFormat();
        if (!input.isFormatSupported(m_format))
            m_format = input.preferredFormat();
        if (!SoundBlocks::convertible(m_format))
            return unusableFormat();
        m_input = std::make_unique<QAudioSource>(input, m_format);
        m_input->setBufferSize(ringBytes(m_format));
        return std::nullopt;
    }

    std::optional<Failure> start() override {
        m_device = m_input->start();
        if (!m_device || m_input->error() != QAudio::NoError) {
            const QAudio::Error error =
                m_input->error() != QAudio::NoError ? m_input->error() : QAudio::OpenError;
            m_input->stop();
            m_device = nullptr;
            return Failure{std::uint32_t(error), errorText(error)};
        }
        return std::nullopt;
    }

    QIODevice* device() const override { return m_device; }
    QAudioFormat format() const override { return m_format; }

    void stop() override {
        if (m_input)
            m_input->stop();
        m_device = nullptr;
    }

private:
    QString m_id;
    QAudioFormat m_format;
    std::unique_ptr<QAudioSource> m_input;
    QIODevice* m_device = nullptr; // belongs to m_input
};

class ToneSource final : public SoundSource {
public:
    explicit ToneSource(const QAudioFormat& format) : m_format(format) {}

    std::optional<Failure> open() override {
        if (!SoundBlocks::convertible(m_format))
            return unusableFormat();
        m_tone = std::make_unique<TestToneDevice>(m_format);
        return std::nullopt;
    }

    std::optional<Failure> start() override {
        if (!m_tone->start())
            return Failure{QAudio::OpenError, errorText(QAudio::OpenError)};
        return std::nullopt;
    }

    QIODevice* device() const override { return m_tone.get(); }
    QAudioFormat format() const override { return m_format; }

    void stop() override {
        if (m_tone)
            m_tone->stop();
    }

private:
    QAudioFormat m_format;
    std::unique_ptr<TestToneDevice> m_tone;
};

} // namespace

SoundSource::Failure SoundSource::unusableFormat() {
    return Failure{QAudio::OpenError,
                   QStringLiteral("The audio input device offers no format that can be recorded.")};
}

std::unique_ptr<SoundSource> SoundSource::createDefault() {
    if (qEnvironmentVariable("CLIPNOTE_MICROPHONE") == QLatin1String("test"))
        return createTestTone(recordingSoundFormat());
    return createMicrophone();
}

std::unique_ptr<SoundSource> SoundSource::create(const QString& deviceId) {
    if (deviceId.isEmpty())
        return createDefault();
    if (deviceId == QLatin1String(kTestToneId) && testDeviceWanted(DeviceKind::Microphone))
        return createTestTone(recordingSoundFormat());
    return std::make_unique<MicrophoneSource>(deviceId);
}

std::unique_ptr<SoundSource> SoundSource::createMicrophone() {
    return std::make_unique<MicrophoneSource>(QString());
}

std::unique_ptr<SoundSource> SoundSource::createTestTone(const QAudioFormat& format) {
    return std::make_unique<ToneSource>(format);
}

float SoundSource::peakLevel(const QAudioFormat& format, const char* data, qint64 size) {
    const int sampleBytes = format.bytesPerSample();
    if (sampleBytes <= 0 || !data)
        return 0;
    float peak = 0;
    for (qint64 at = 0; at + sampleBytes <= size; at += sampleBytes)
        peak = std::max(peak, std::abs(format.normalizedSampleValue(data + at)));
    return std::min(peak, 1.0f);
}
