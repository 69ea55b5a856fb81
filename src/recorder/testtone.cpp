#include "recorder/testtone.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

namespace {

constexpr double kAmplitude = 0.5; // of full scale

void putSample(const QAudioFormat& format, char* at, double value) {
    switch (format.sampleFormat()) {
    case QAudioFormat::UInt8: {
        const auto sample = static_cast<quint8>(std::lround(128 + 127 * value));
        std::memcpy(at, &sample, sizeof sample);
        break;
    }
    case QAudioFormat::Int16: {
        const auto sample =
            static_cast<qint16>(std::lround(std::numeric_limits<qint16>::max() * value));
        std::memcpy(at, &sample, sizeof sample);
        break;
    }
    case QAudioFormat::Int32: {
        const auto sample =
            static_cast<qint32>(std::lround(std::numeric_limits<qint32>::max() * value));
        std::memcpy(at, &sample, sizeof sample);
        break;
    }
    case QAudioFormat::Float: {
        const auto sample = static_cast<float>(value);
        std::memcpy(at, &sample, sizeof sample);
        break;
    }
    default:
        break;
    }
}

} // namespace

TestToneDevice::TestToneDevice(const QAudioFormat& format, QObject* parent)
    : QIODevice(parent), m_format(format) {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, &TestToneDevice::produce);
}

bool TestToneDevice::start() {
    if (!m_format.isValid() || !open(QIODevice::ReadOnly))
        return false;
    const int frameBytes = m_format.bytesPerFrame();
    m_buffer.assign(static_cast<std::size_t>(m_format.sampleRate()) * frameBytes, '\0');
    m_filled = 0;
    m_readFrom = 0;
    m_framesMade = 0;
    m_clock.start();
    m_timer.start();
    return true;
}

void TestToneDevice::stop() {
    m_timer.stop();
    close();
}

qint64 TestToneDevice::bytesAvailable() const {
    return m_filled - m_readFrom + QIODevice::bytesAvailable();
}

qint64 TestToneDevice::readData(char* data, qint64 maxSize) {
    const qint64 take = std::min(maxSize, m_filled - m_readFrom);
    std::memcpy(data, m_buffer.data() + m_readFrom, static_cast<std::size_t>(take));
    m_readFrom += take;
    return take;
}

qint64 TestToneDevice::writeData(const char*, qint64) {
    return -1;
}

void TestToneDevice::produce() {
    // The sound due is whatever real time has passed since the start, so
    // late timer ticks never make the tone run slow.
    const qint64 due = m_clock.nsecsElapsed() * m_format.sampleRate() / 1000000000;
    qint64 frames = due - m_framesMade;
    if (frames <= 0)
        return;
    // A reader that falls a second behind loses the oldest sound, as with a
    // device whose buffers overflow.
    const int frameBytes = m_format.bytesPerFrame();
    const auto roomFrames = static_cast<qint64>(m_buffer.size()) / frameBytes;
    if (frames > roomFrames) {
        m_framesMade += frames - roomFrames;
        frames = roomFrames;
    }
    const qint64 keep = std::min(m_filled - m_readFrom, (roomFrames - frames) * frameBytes);
    std::memmove(m_buffer.data(), m_buffer.data() + m_filled - keep,
                 static_cast<std::size_t>(keep));
    m_filled = keep;
    m_readFrom = 0;

    writeTone(m_format, m_framesMade, frames, m_buffer.data() + m_filled);
    m_framesMade += frames;
    m_filled += frames * frameBytes;
    emit readyRead();
}

void TestToneDevice::writeTone(const QAudioFormat& format, qint64 firstFrame, qint64 frames,
                               char* out) {
    const int sampleBytes = format.bytesPerSample();
    for (qint64 frame = firstFrame; frame < firstFrame + frames; ++frame) {
        const double value = kAmplitude * std::sin(2 * std::numbers::pi * kFrequencyHz *
                                                   double(frame) / format.sampleRate());
        for (int channel = 0; channel < format.channelCount(); ++channel, out += sampleBytes)
            putSample(format, out, value);
    }
}
