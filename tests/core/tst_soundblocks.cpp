#include "recorder/soundblocks.h"
#include "recorder/testtone.h"

#include <QBuffer>
#include <QTest>

#include <cmath>

namespace {

// `seconds` of the test tone: 440 Hz at half of full scale.
QByteArray tone(const QAudioFormat& format, double seconds) {
    const int frames = int(std::lround(seconds * format.sampleRate()));
    QByteArray data(frames * format.bytesPerFrame(), '\0');
    TestToneDevice::writeTone(format, 0, frames, data.data());
    return data;
}

struct Collected {
    QByteArray sound;
    QList<int> sizes;
};

// Feeds the bytes in pieces of the given sizes, over and over, to the end.
Collected feed(const QAudioFormat& format, const QByteArray& input, const QList<int>& pieces) {
    Collected out;
    SoundBlocks blocks(format, [&](const unsigned char* block, int byteCount) {
        out.sizes.append(byteCount);
        out.sound.append(reinterpret_cast<const char*>(block), byteCount);
    });
    qsizetype at = 0;
    for (int i = 0; at < input.size(); ++i) {
        const qsizetype size = std::min<qsizetype>(pieces[i % pieces.size()], input.size() - at);
        blocks.push(input.constData() + at, size);
        at += size;
    }
    return out;
}

// Upward crossings of the middle line per second of 8-bit unsigned sound.
double frequencyOf(const QByteArray& sound) {
    int crossings = 0;
    for (qsizetype i = 1; i < sound.size(); ++i)
        crossings += quint8(sound[i - 1]) < 128 && quint8(sound[i]) >= 128;
    return crossings * double(kSoundSampleRate) / sound.size();
}

int peakDeviation(const QByteArray& sound) {
    int peak = 0;
    for (char c : sound)
        peak = std::max(peak, std::abs(int(quint8(c)) - 128));
    return peak;
}

} // namespace

// Captured sound of any format a device gives, turned into the 600-byte
// blocks of 22,050 Hz 8-bit mono sound the writer takes.
class TestSoundBlocks : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void conversion_data();
    void conversion();
    void recordingFormatPassesUnchanged();
    void readFromDevice_data();
    void readFromDevice();
    void unusableFormats_data();
    void unusableFormats();
};

void TestSoundBlocks::conversion_data() {
    QTest::addColumn<QAudioFormat>("format");
    QTest::addColumn<QList<int>>("pieces"); // byte counts the device hands over in turn
    QTest::newRow("recording format, device-sized pieces")
        << soundFormat(22050, 1, QAudioFormat::UInt8) << QList<int>{600};
    QTest::newRow("recording format, ragged pieces")
        << soundFormat(22050, 1, QAudioFormat::UInt8) << QList<int>{1, 599, 1000, 37};
    QTest::newRow("48 kHz stereo 16-bit, frames split")
        << soundFormat(48000, 2, QAudioFormat::Int16) << QList<int>{4096, 3, 1, 1021, 7};
    QTest::newRow("44.1 kHz mono float")
        << soundFormat(44100, 1, QAudioFormat::Float) << QList<int>{1764, 5};
    QTest::newRow("22.05 kHz stereo 32-bit")
        << soundFormat(22050, 2, QAudioFormat::Int32) << QList<int>{8, 13, 200000};
    QTest::newRow("8 kHz mono 8-bit")
        << soundFormat(8000, 1, QAudioFormat::UInt8) << QList<int>{160};
    QTest::newRow("48 kHz six channels float, one large piece")
        << soundFormat(48000, 6, QAudioFormat::Float) << QList<int>{1 << 22};
}

void TestSoundBlocks::conversion() {
    QFETCH(QAudioFormat, format);
    QFETCH(QList<int>, pieces);
    QVERIFY(SoundBlocks::convertible(format));
    const double seconds = 2.0;
    const Collected out = feed(format, tone(format, seconds), pieces);

    // Only whole blocks are handed over; the part of the last one that is
    // not yet full, and what the resampler still holds, wait for more.
    QVERIFY(!out.sizes.isEmpty());
    QVERIFY(std::all_of(out.sizes.begin(), out.sizes.end(),
                        [](int size) { return size == kSoundBlockBytes; }));
    const int expected = int(seconds * kSoundSampleRate);
    QVERIFY2(out.sound.size() <= expected && out.sound.size() > expected - 2 * kSoundBlockBytes,
             qPrintable(QString::number(out.sound.size())));
    // The tone keeps its pitch and its loudness through the conversion.
    QVERIFY2(std::abs(frequencyOf(out.sound) - 440) <= 3,
             qPrintable(QString::number(frequencyOf(out.sound))));
    QVERIFY2(std::abs(peakDeviation(out.sound) - 64) <= 4,
             qPrintable(QString::number(peakDeviation(out.sound))));
}

void TestSoundBlocks::recordingFormatPassesUnchanged() {
    const QAudioFormat format = recordingSoundFormat();
    const QByteArray input = tone(format, 0.5);
    const Collected out = feed(format, input, {333});
    QCOMPARE(out.sound.size(), input.size() / kSoundBlockBytes * kSoundBlockBytes);
    QCOMPARE(out.sound, input.left(out.sound.size()));
}

void TestSoundBlocks::readFromDevice_data() {
    QTest::addColumn<QAudioFormat>("format");
    QTest::newRow("recording format") << recordingSoundFormat();
    QTest::newRow("48 kHz stereo 16-bit") << soundFormat(48000, 2, QAudioFormat::Int16);
}

void TestSoundBlocks::readFromDevice() {
    // A device read whenever it has something gives the same blocks as the
    // bytes pushed by hand, however its reads are cut.
    QFETCH(QAudioFormat, format);
    const QByteArray input = tone(format, 1.0);
    const Collected pushed = feed(format, input, {int(input.size())});
    QVERIFY(!pushed.sizes.isEmpty());
    Collected read;
    SoundBlocks blocks(format, [&](const unsigned char* block, int byteCount) {
        read.sizes.append(byteCount);
        read.sound.append(reinterpret_cast<const char*>(block), byteCount);
    });
    QByteArray shown; // the part the device has received so far
    QBuffer device(&shown);
    QVERIFY(device.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    for (qsizetype at = 0; at < input.size(); at += 1001) {
        shown.append(input.mid(at, 1001));
        blocks.readFrom(device);
        QCOMPARE(device.bytesAvailable(), 0);
    }
    QCOMPARE(read.sizes, pushed.sizes);
    QCOMPARE(read.sound, pushed.sound);
}

void TestSoundBlocks::unusableFormats_data() {
    QTest::addColumn<QAudioFormat>("format");
    QTest::newRow("no sample format") << soundFormat(22050, 1, QAudioFormat::Unknown);
    QTest::newRow("no channels") << soundFormat(22050, 0, QAudioFormat::Int16);
    QTest::newRow("no rate") << soundFormat(0, 1, QAudioFormat::Int16);
    QTest::newRow("rate far below speech") << soundFormat(100, 1, QAudioFormat::Int16);
    QTest::newRow("more channels than a frame holds")
        << soundFormat(48000, 32, QAudioFormat::Float);
}

void TestSoundBlocks::unusableFormats() {
    QFETCH(QAudioFormat, format);
    QVERIFY(!SoundBlocks::convertible(format));
    int handed = 0;
    SoundBlocks blocks(format, [&](const unsigned char*, int) { ++handed; });
    QVERIFY(!blocks.valid());
    const QByteArray noise(100000, char(200));
    blocks.push(noise.constData(), noise.size());
    QCOMPARE(handed, 0);
}

QTEST_GUILESS_MAIN(TestSoundBlocks)
#include "tst_soundblocks.moc"
