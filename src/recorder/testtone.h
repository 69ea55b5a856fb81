#pragma once

#include <QAudioFormat>
#include <QElapsedTimer>
#include <QIODevice>
#include <QTimer>

#include <vector>

// Stands in for a microphone: a steady 440 Hz tone that becomes readable at
// the pace of real time, a little every period, announced by readyRead like
// the sound of a real device. It gives any format a device might, so the
// conversion a refused recording format needs runs the same way.
class TestToneDevice : public QIODevice {
    Q_OBJECT

public:
    static constexpr int kFrequencyHz = 440;
    // About one recording block at 22,050 Hz.
    static constexpr int kPeriodMs = 27;

    explicit TestToneDevice(const QAudioFormat& format, QObject* parent = nullptr);

    // Opens for reading and starts the clock; the tone runs from this moment.
    bool start();
    void stop();

    // Frames [firstFrame, firstFrame + frames) of the tone, at half of full
    // scale and the same on every channel.
    static void writeTone(const QAudioFormat& format, qint64 firstFrame, qint64 frames, char* out);

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    void produce();

    QAudioFormat m_format;
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::vector<char> m_buffer; // room for a second of sound, made at start
    qint64 m_filled = 0;
    qint64 m_readFrom = 0;
    qint64 m_framesMade = 0;
};
