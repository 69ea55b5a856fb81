#include "mediaprobe.h"
#include "platform/alert.h"
#include "recorder/wmvwriter.h"
#include "testenvironment.h"

#include <QFile>
#include <QTest>

#include <atomic>
#include <cmath>
#include <memory>
#include <numbers>
#include <thread>
#include <tuple>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

const QString kProfile = u"{29B00C2B-09A9-48BD-AD09-CDAE117D1DA7}"_s;
const QString kSucceeded = u"Method Succeeded"_s;
constexpr int kRate = 22050;
constexpr int kBuffer = 600;

// A tick counter the test moves by hand, so every stamp is known in advance.
struct FakeClock {
    std::shared_ptr<std::atomic<std::uint32_t>> now =
        std::make_shared<std::atomic<std::uint32_t>>(5000);
    CWmvWriter::TickSource source() const {
        return [n = now] { return n->load(); };
    }
    void advance(std::uint32_t ms) { now->fetch_add(ms); }
};

// A bottom-up frame of a bar that moves with the frame number.
QByteArray movingPattern(int width, int height, int frame, int bytesPerPixel = 3) {
    QByteArray pixels(width * height * bytesPerPixel, '\0');
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < bytesPerPixel; ++c) {
                const bool bar = x >= (frame * 16) % width && x < (frame * 16) % width + 24;
                pixels[(y * width + x) * bytesPerPixel + c] =
                    char(bar ? 230 : (x + y + c * 40) & 0x7f);
            }
    return pixels;
}

// 8-bit unsigned samples of a 440 Hz tone, continuing from `phase`.
QByteArray tone(int samples, long long& phase) {
    QByteArray data(samples, '\0');
    for (int i = 0; i < samples; ++i, ++phase)
        data[i] =
            char(128 + std::lround(90 * std::sin(2 * std::numbers::pi * 440 * phase / kRate)));
    return data;
}

const unsigned char* bytes(const QByteArray& data) {
    return reinterpret_cast<const unsigned char*>(data.constData());
}

// The sound side of a scripted recording: a tone captured from the first
// frame on, handed over in 600-byte buffers as they fill.
struct SoundScript {
    double speed = 1.0;  // captured samples per real sample (a fast or slow device)
    int lostFromMs = -1; // buffers filled in [lostFromMs, lostToMs) never arrive
    int lostToMs = -1;
    int startMs = 0; // the microphone starts this long after the first frame
};

// Frames every frameMs for durationMs and sound as scripted, on a fake clock.
// Returns the writer's clock at the last frame, or 0 when a write failed.
std::uint64_t record(CWmvWriter& writer, FakeClock& clock, int durationMs, int frameMs,
                     const SoundScript& sound) {
    std::uint64_t lastClock = 0;
    long long phase = 0;
    long long captured = 0;
    long long handed = 0;
    for (int t = 0; t <= durationMs; ++t, clock.advance(1)) {
        if (t % frameMs == 0) {
            if (writer.WriteFrame(320, 240, bytes(movingPattern(320, 240, t / frameMs)), 24))
                return 0;
            lastClock = writer.videoClock();
        }
        if (t >= sound.startMs)
            captured = std::llround((t - sound.startMs) * kRate * sound.speed / 1000.0);
        for (; captured - handed >= kBuffer; handed += kBuffer) {
            const QByteArray data = tone(kBuffer, phase);
            if ((t < sound.lostFromMs || t >= sound.lostToMs) &&
                writer.WriteAudio(bytes(data), kBuffer) != S_OK)
                return 0;
        }
    }
    return lastClock;
}

HRESULT writeFrame(CWmvWriter& writer, int width = 320, int height = 240, int bits = 24) {
    return writer.WriteFrame(width, height, bytes(movingPattern(width, height, 0, bits / 8)), bits);
}

HRESULT writeSound(CWmvWriter& writer) {
    long long phase = 0;
    return writer.WriteAudio(bytes(tone(kBuffer, phase)), kBuffer);
}

} // namespace

// The writer over real encoders: files that ffprobe reads as they should be,
// every failure text, the stream states and the sound time line.
class TestWmvWriter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void scriptedRecordings_data();
    void scriptedRecordings();
    void frameStamps_data();
    void frameStamps();
    void profileIdentifiers_data();
    void profileIdentifiers();
    void openingFailures_data();
    void openingFailures();
    void frameFailures_data();
    void frameFailures();
    void failureAfterFramesKeepsThem();
    void audioFormatFailures_data();
    void audioFormatFailures();
    void audioBufferFailures_data();
    void audioBufferFailures();
    void audioBeforeFirstFrameDropped();
    void closedWriter();
    void closeWithoutFramesLeavesNoFile();
    void videoOnlyProfile();
    void framesOfOtherShapes_data();
    void framesOfOtherShapes();
    void pictureOrientation_data();
    void pictureOrientation();
    void soundFromAnotherThread();

private:
    QString outputPath() const { return m_env.tempFolder() + u"/vnote.wmv"_s; }
    static int fileMode(const QString& path) {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
    }
    bool noFileLeft() const {
        return !QFile::exists(outputPath()) && !QFile::exists(outputPath() + u".part"_s);
    }
    TestEnvironment m_env;
};

void TestWmvWriter::init() {
    CWmvWriter::injectFault(WriterFault::None);
    QFile::remove(outputPath());
}

void TestWmvWriter::cleanup() {
    CWmvWriter::injectFault(WriterFault::None);
    setAlertHandler({});
}

void TestWmvWriter::scriptedRecordings_data() {
    QTest::addColumn<int>("durationMs");
    QTest::addColumn<int>("frameMs");
    QTest::addColumn<double>("speed");
    QTest::addColumn<int>("lostFromMs");
    QTest::addColumn<int>("lostToMs");
    QTest::addColumn<int>("soundStartMs");
    QTest::newRow("steady sound") << 3000 << 100 << 1.0 << -1 << -1 << 0;
    QTest::newRow("frames at the nominal rate") << 2000 << 50 << 1.0 << -1 << -1 << 0;
    QTest::newRow("lost sound buffers") << 3000 << 100 << 1.0 << 1000 << 1600 << 0;
    QTest::newRow("fast sound clock") << 3000 << 100 << 1.08 << -1 << -1 << 0;
    QTest::newRow("slow sound clock") << 3000 << 100 << 0.92 << -1 << -1 << 0;
    QTest::newRow("late microphone") << 3000 << 100 << 1.0 << -1 << -1 << 700;
}

void TestWmvWriter::scriptedRecordings() {
    QFETCH(int, durationMs);
    QFETCH(int, frameMs);
    QFETCH(double, speed);
    QFETCH(int, lostFromMs);
    QFETCH(int, lostToMs);
    QFETCH(int, soundStartMs);
    FakeClock clock;
    {
        CWmvWriter writer(outputPath(), kProfile, 20, clock.source());
        QCOMPARE(record(writer, clock, durationMs, frameMs,
                        SoundScript{speed, lostFromMs, lostToMs, soundStartMs}),
                 std::uint64_t(durationMs) + 1);
        QCOMPARE(writer.errorText(), kSucceeded);
    }
    const Probe info = probe(outputPath());
    QCOMPARE(info.errors, QString());
    QCOMPARE(info.container, u"asf"_s);
    QCOMPARE(info.streams.size(), 2);
    const Stream* video = info.stream(u"video"_s);
    const Stream* audio = info.stream(u"audio"_s);
    QVERIFY(video && audio);
    QCOMPARE(video->codec, u"wmv2"_s);
    QCOMPARE(video->fields[u"width"_s].toInt(), 320);
    QCOMPARE(video->fields[u"height"_s].toInt(), 240);
    QCOMPARE(video->packets.size(), durationMs / frameMs + 1);
    QCOMPARE(video->decoded, video->packets.size());
    QCOMPARE(audio->codec, u"wmav2"_s);
    QCOMPARE(audio->fields[u"sample_rate"_s].toString(), u"22050"_s);
    QCOMPARE(audio->fields[u"channels"_s].toInt(), 1);

    // The recorded time runs from the first frame to the end of the last
    // one, which lasts one nominal frame (50 ms at 20 frames per second).
    const double videoEnd = video->packets.last() + 0.05;
    QVERIFY2(std::abs(info.duration - (durationMs + 51) / 1000.0) <= 0.1,
             qPrintable(QString::number(info.duration)));
    QVERIFY2(std::abs(audio->packets.first() - video->packets.first()) <= 0.1,
             qPrintable(QString::number(audio->packets.first())));
    QVERIFY2(std::abs(audio->end - videoEnd) <= 0.1, qPrintable(QString::number(audio->end)));

    // Lost or late sound leaves silence exactly where it is missing.
    const QPair<double, double> silence = longestSilence(outputPath(), *audio, 0.01);
    const QString found = u"%1 to %2"_s.arg(silence.first).arg(silence.second);
    if (lostFromMs >= 0 || soundStartMs > 0) {
        const double from = lostFromMs >= 0 ? lostFromMs / 1000.0 : 0.0;
        const double to = (lostFromMs >= 0 ? lostToMs : soundStartMs) / 1000.0;
        QVERIFY2(std::abs(silence.first - from) <= 0.06, qPrintable(found));
        QVERIFY2(std::abs(silence.second - to) <= 0.06, qPrintable(found));
    } else {
        // Nothing is missing: at most a short pad where a slow device fell
        // behind, and the quiet after the last buffer.
        QVERIFY2(silence.first < 0 || silence.first >= videoEnd - 0.1 ||
                     silence.second - silence.first <= 0.07,
                 qPrintable(found));
    }
}

void TestWmvWriter::frameStamps_data() {
    QTest::addColumn<quint32>("startTick");
    QTest::addColumn<QList<int>>("gaps");
    QTest::addColumn<QList<int>>("clocks");
    QTest::addColumn<QList<int>>("fileMs");
    QTest::newRow("first frame at 1 ms, then real gaps")
        << 123456u << QList<int>{100, 100, 37, 250} << QList<int>{1, 101, 201, 238, 488}
        << QList<int>{1, 101, 201, 238, 488};
    QTest::newRow("counter starting at zero")
        << 0u << QList<int>{100, 100} << QList<int>{1, 101, 201} << QList<int>{1, 101, 201};
    QTest::newRow("counter wrapping between frames")
        << 0xFFFFFFC0u << QList<int>{100, 100} << QList<int>{1, 101, 201}
        << QList<int>{1, 101, 201};
    QTest::newRow("two frames in one millisecond")
        << 777u << QList<int>{100, 0, 100} << QList<int>{1, 101, 101, 201}
        << QList<int>{1, 101, 102, 201};
}

void TestWmvWriter::frameStamps() {
    QFETCH(quint32, startTick);
    QFETCH(QList<int>, gaps);
    QFETCH(QList<int>, clocks);
    QFETCH(QList<int>, fileMs);
    FakeClock clock;
    clock.now->store(startTick);
    {
        CWmvWriter writer(outputPath(), kProfile, 20, clock.source());
        QCOMPARE(writer.videoClock(), std::uint64_t(0));
        for (qsizetype i = 0; i < clocks.size(); ++i) {
            clock.advance(i > 0 ? gaps[i - 1] : 0);
            QCOMPARE(writeFrame(writer), S_OK);
            QCOMPARE(writer.videoClock(), std::uint64_t(clocks[i]));
        }
    }
    QList<int> written;
    const Probe info = probe(outputPath());
    for (double t : info.stream(u"video"_s)->packets)
        written.append(int(std::lround(t * 1000)));
    QCOMPARE(written, fileMs);
}

void TestWmvWriter::profileIdentifiers_data() {
    QTest::addColumn<QString>("id");
    QTest::addColumn<bool>("known");
    QTest::newRow("as the recorder passes it") << kProfile << true;
    QTest::newRow("lower case") << kProfile.toLower() << true;
    QTest::newRow("without braces") << kProfile.mid(1, kProfile.size() - 2) << true;
    QTest::newRow("unknown") << u"{00000000-0000-0000-0000-000000000000}"_s << false;
    QTest::newRow("one digit off") << u"{29B00C2B-09A9-48BD-AD09-CDAE117D1DA8}"_s << false;
    QTest::newRow("empty") << QString() << false;
}

void TestWmvWriter::profileIdentifiers() {
    QFETCH(QString, id);
    QFETCH(bool, known);
    const QString text = known ? kSucceeded : u"Unable to Load System Profile"_s;
    CWmvWriter writer(outputPath(), id, 20);
    QCOMPARE(writer.errorText(), text);
    // An opening failure shows at the first frame.
    QCOMPARE(writeFrame(writer), known ? S_OK : E_FAIL);
    QCOMPARE(writer.errorText(), text);
}

void TestWmvWriter::openingFailures_data() {
    QTest::addColumn<WriterFault>("fault");
    QTest::addColumn<QString>("path"); // under the temporary folder
    QTest::addColumn<QString>("text");
    QTest::addColumn<HRESULT>("soundResult");
    const QString path = u"vnote.wmv"_s;
    // Failures before writing begins leave the sound closed too; those of
    // the last step leave it begun, so sound is taken and quietly dropped.
    const std::tuple<const char*, WriterFault, QString, HRESULT> rows[] = {
        {"profile manager", WriterFault::CreateProfileManager,
         u"Unable to Create WindowsMedia Profile Manager"_s, E_FAIL},
        {"profile manager 2", WriterFault::QueryProfileManager2,
         u"Unable to Query Interface for ProfileManager2"_s, E_FAIL},
        {"profile version", WriterFault::SetProfileVersion,
         u"Unable to Set System Profile Version"_s, E_FAIL},
        {"profile", WriterFault::LoadProfile, u"Unable to Load System Profile"_s, E_FAIL},
        {"writer object", WriterFault::CreateWriter, u"Unable to Create Media Writer Object"_s,
         E_FAIL},
        {"profile refused", WriterFault::SetProfile, u"Unable to Set System Profile"_s, E_FAIL},
        {"input count", WriterFault::GetInputCount, u"Unable to Get input count For Profile"_s,
         E_FAIL},
        {"input properties", WriterFault::GetInputProps, u"Unable to GetInput Properties"_s,
         E_FAIL},
        {"input type", WriterFault::GetInputType, u"Unable to Get Input Property Type"_s, E_FAIL},
        {"no video input", WriterFault::NoVideoInput, u"Profile Does not Accept Video input"_s,
         E_FAIL},
        {"file name", WriterFault::ConvertFilename, u"Unable to Convert Output Filename"_s, E_FAIL},
        {"output file", WriterFault::SetOutputFilename, u"Unable to Set Output Filename"_s, E_FAIL},
        {"audio codec error", WriterFault::AudioCodecError,
         u"Audio codec error. Unable to Begin Writing."_s, S_OK},
        {"audio codec missing", WriterFault::AudioCodecNotInstalled,
         u"Audio codec not installed. Unable to Begin Writing."_s, S_OK},
        {"begin writing", WriterFault::BeginWriting, u"Unable to Initialize Writing"_s, S_OK},
    };
    for (const auto& [name, fault, text, sound] : rows)
        QTest::newRow(name) << fault << path << text << sound;
    // The same texts from real conditions.
    QTest::newRow("folder does not exist") << WriterFault::None << u"missing/vnote.wmv"_s
                                           << u"Unable to Set Output Filename"_s << E_FAIL;
    QTest::newRow("path too long") << WriterFault::None << QString(2100, u'x')
                                   << u"Unable to Convert Output Filename"_s << E_FAIL;
}

void TestWmvWriter::openingFailures() {
    QFETCH(WriterFault, fault);
    QFETCH(QString, path);
    QFETCH(QString, text);
    QFETCH(HRESULT, soundResult);
    const QString target = m_env.tempFolder() + u'/' + path;
    CWmvWriter::injectFault(fault);
    CWmvWriter writer(target, kProfile, 20);
    CWmvWriter::injectFault(WriterFault::None);
    QCOMPARE(writer.errorText(), text);
    QCOMPARE(writeSound(writer), soundResult);
    QCOMPARE(writeFrame(writer), E_FAIL);
    QCOMPARE(writer.errorText(), text);
    QVERIFY(!writer.Close());
    QVERIFY(!QFile::exists(target));
    QVERIFY(noFileLeft());
}

void TestWmvWriter::frameFailures_data() {
    QTest::addColumn<WriterFault>("fault");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("withPixels");
    QTest::addColumn<QString>("text");
    const QString mediaType = u"Unable to Set Media Type"_s;
    QTest::newRow("media type refused")
        << WriterFault::SetMediaType << 320 << 24 << true << mediaType;
    QTest::newRow("12 bits per pixel") << WriterFault::None << 320 << 12 << true << mediaType;
    QTest::newRow("no pixels") << WriterFault::None << 320 << 24 << false << mediaType;
    QTest::newRow("no width") << WriterFault::None << 0 << 24 << true << mediaType;
    QTest::newRow("input properties refused")
        << WriterFault::SetInputProps << 320 << 24 << true
        << u"Unable to Set Input Properties for Media Writer"_s;
    QTest::newRow("sample not allocated")
        << WriterFault::AllocateSample << 320 << 24 << true << u"Unable to Allocate Memory"_s;
    QTest::newRow("buffer not obtained")
        << WriterFault::LockBuffer << 320 << 24 << true << u"Unable to Lock Buffer"_s;
    QTest::newRow("frame not written")
        << WriterFault::WriteSample << 320 << 24 << true << u"Unable to Write Frame"_s;
}

void TestWmvWriter::frameFailures() {
    QFETCH(WriterFault, fault);
    QFETCH(int, width);
    QFETCH(int, bits);
    QFETCH(bool, withPixels);
    QFETCH(QString, text);
    CWmvWriter writer(outputPath(), kProfile, 20);
    QCOMPARE(writer.errorText(), kSucceeded);
    const QByteArray pixels = movingPattern(320, 240, 0, 4);
    CWmvWriter::injectFault(fault);
    QCOMPARE(writer.WriteFrame(width, 240, withPixels ? bytes(pixels) : nullptr, bits), E_FAIL);
    CWmvWriter::injectFault(WriterFault::None);
    QCOMPARE(writer.errorText(), text);
    // The writer is closed: frames fail without a new text, sound is dropped.
    QCOMPARE(writeFrame(writer), E_FAIL);
    QCOMPARE(writer.errorText(), text);
    QCOMPARE(writeSound(writer), S_OK);
}

void TestWmvWriter::failureAfterFramesKeepsThem() {
    FakeClock clock;
    {
        CWmvWriter writer(outputPath(), kProfile, 20, clock.source());
        for (int i = 0; i < 5; ++i, clock.advance(100))
            QCOMPARE(writeFrame(writer), S_OK);
        CWmvWriter::injectFault(WriterFault::WriteSample);
        QCOMPARE(writeFrame(writer), E_FAIL);
        CWmvWriter::injectFault(WriterFault::None);
        QCOMPARE(writer.errorText(), u"Unable to Write Frame"_s);
    }
    const Probe info = probe(outputPath());
    QCOMPARE(info.errors, QString());
    QCOMPARE(info.stream(u"video"_s)->decoded, 5);
}

void TestWmvWriter::audioFormatFailures_data() {
    QTest::addColumn<WriterFault>("fault");
    QTest::addColumn<QString>("text");
    QTest::newRow("audio media type")
        << WriterFault::SetAudioMediaType << u"Unable to Set Audio Media Type"_s;
    QTest::newRow("audio input properties")
        << WriterFault::SetAudioInputProps
        << u"Unable to Set Audio Input Properties for Media Writer"_s;
}

void TestWmvWriter::audioFormatFailures() {
    QFETCH(WriterFault, fault);
    QFETCH(QString, text);
    CWmvWriter writer(outputPath(), kProfile, 20);
    QCOMPARE(writeFrame(writer), S_OK);
    // The alert waits for the user; meanwhile the UI thread goes on handing
    // over frames, which must not wait for the audio thread's lock.
    QStringList alerts;
    HRESULT frameDuringAlert = S_OK;
    setAlertHandler([&](const QString& t, const QString& caption, AlertIcon icon) {
        alerts << t + u'|' + caption + u'|' + QString::number(int(icon));
        frameDuringAlert = writeFrame(writer);
    });
    CWmvWriter::injectFault(fault);
    QCOMPARE(writeSound(writer), S_OK);
    CWmvWriter::injectFault(WriterFault::None);
    QCOMPARE(alerts, QStringList{text + u"|Error|"_s + QString::number(int(AlertIcon::Error))});
    QCOMPARE(frameDuringAlert, E_FAIL);
    QCOMPARE(writer.errorText(), text);
    QCOMPARE(writeSound(writer), S_OK);
    QCOMPARE(alerts.size(), 1);
    QCOMPARE(writeFrame(writer), E_FAIL);
    QCOMPARE(writer.errorText(), text);
    // A frame format was declared, so closing finished the file.
    QCOMPARE(probe(outputPath()).stream(u"video"_s)->decoded, 1);
}

void TestWmvWriter::audioBufferFailures_data() {
    QTest::addColumn<WriterFault>("fault");
    QTest::addColumn<QString>("text");
    QTest::newRow("sample not allocated")
        << WriterFault::AllocateAudioSample << u"Unable to Allocate Memory"_s;
    QTest::newRow("buffer not obtained")
        << WriterFault::LockAudioBuffer << u"Unable to Lock Buffer"_s;
    QTest::newRow("sample not written") << WriterFault::WriteAudioSample << kSucceeded;
}

void TestWmvWriter::audioBufferFailures() {
    QFETCH(WriterFault, fault);
    QFETCH(QString, text);
    FakeClock clock;
    CWmvWriter writer(outputPath(), kProfile, 20, clock.source());
    QCOMPARE(writeFrame(writer), S_OK);
    QCOMPARE(writeSound(writer), S_OK);
    CWmvWriter::injectFault(fault);
    QCOMPARE(writeSound(writer), E_FAIL);
    CWmvWriter::injectFault(WriterFault::None);
    QCOMPARE(writer.errorText(), text);
    // These failures leave the writer open.
    clock.advance(100);
    QCOMPARE(writeSound(writer), S_OK);
    QCOMPARE(writeFrame(writer), S_OK);
}

void TestWmvWriter::audioBeforeFirstFrameDropped() {
    FakeClock clock;
    {
        CWmvWriter writer(outputPath(), kProfile, 20, clock.source());
        for (int i = 0; i < 3; ++i)
            QCOMPARE(writeSound(writer), E_FAIL);
        QCOMPARE(writer.errorText(), kSucceeded);
        // After the first frame: 300 ms of quiet, then the tone.
        QCOMPARE(writeFrame(writer), S_OK);
        long long phase = 0;
        for (int t = 1, handed = 0; t <= 1000; ++t) {
            clock.advance(1);
            if (t % 100 == 0)
                QCOMPARE(writeFrame(writer), S_OK);
            if (t * kRate / 1000 - handed >= kBuffer) {
                handed += kBuffer;
                const QByteArray data =
                    t <= 300 ? QByteArray(kBuffer, char(128)) : tone(kBuffer, phase);
                QCOMPARE(writer.WriteAudio(bytes(data), kBuffer), S_OK);
            }
        }
    }
    // Had the early tone been kept, the file would open with it.
    const Probe info = probe(outputPath());
    const Stream* audio = info.stream(u"audio"_s);
    QVERIFY(audio);
    const QPair<double, double> silence = longestSilence(outputPath(), *audio, 0.0);
    QVERIFY2(silence.first <= audio->firstDecoded + 0.011,
             qPrintable(QString::number(silence.first)));
    QVERIFY2(std::abs(silence.second - 0.3) <= 0.06, qPrintable(QString::number(silence.second)));
}

void TestWmvWriter::closedWriter() {
    FakeClock clock;
    // The recording is its owner's alone, however open the umask.
    const mode_t umaskBefore = ::umask(0);
    CWmvWriter writer(outputPath(), kProfile, 20, clock.source());
    ::umask(umaskBefore);
    QCOMPARE(writeFrame(writer), S_OK);
    QCOMPARE(fileMode(outputPath() + u".part"_s), 0600);
    clock.advance(100);
    QCOMPARE(writeSound(writer), S_OK);
    QCOMPARE(writeFrame(writer), S_OK);
    QVERIFY(writer.Close());
    QCOMPARE(fileMode(outputPath()), 0600);
    const QByteArray finished = readFile(outputPath());
    QVERIFY(writer.Close());
    QCOMPARE(readFile(outputPath()), finished);
    QCOMPARE(writeFrame(writer), E_FAIL);
    QCOMPARE(writer.errorText(), kSucceeded);
    QCOMPARE(writeSound(writer), S_OK);
    QCOMPARE(probe(outputPath()).stream(u"video"_s)->decoded, 2);
    QVERIFY(!QFile::exists(outputPath() + u".part"_s));
}

void TestWmvWriter::closeWithoutFramesLeavesNoFile() {
    // An earlier recording's file must not survive to be sent in place of
    // this one.
    QVERIFY(writeFile(outputPath(), "an earlier recording"));
    CWmvWriter writer(outputPath(), kProfile, 20);
    QCOMPARE(writer.errorText(), kSucceeded);
    QCOMPARE(writeSound(writer), E_FAIL);
    QVERIFY(!writer.Close());
    QVERIFY(noFileLeft());
}

void TestWmvWriter::videoOnlyProfile() {
    FakeClock clock;
    CWmvWriter::injectFault(WriterFault::NoAudioInput);
    {
        CWmvWriter writer(outputPath(), kProfile, 20, clock.source());
        CWmvWriter::injectFault(WriterFault::None);
        QCOMPARE(writer.errorText(), kSucceeded);
        QCOMPARE(record(writer, clock, 1000, 100, SoundScript{}), std::uint64_t(1001));
    }
    const Probe info = probe(outputPath());
    QCOMPARE(info.streams.size(), 1);
    QCOMPARE(info.streams.first().codec, u"wmv2"_s);
    QCOMPARE(info.streams.first().decoded, 11);
}

void TestWmvWriter::framesOfOtherShapes_data() {
    QTest::addColumn<QList<int>>("shapes"); // width, height, bits for each frame
    QTest::newRow("twice the size") << QList<int>{640, 480, 24, 640, 480, 24};
    QTest::newRow("half the size") << QList<int>{160, 120, 24, 160, 120, 24};
    QTest::newRow("odd size") << QList<int>{321, 241, 24, 321, 241, 24};
    QTest::newRow("tiny") << QList<int>{2, 2, 24};
    QTest::newRow("32 bits") << QList<int>{320, 240, 32, 320, 240, 32};
    QTest::newRow("16 bits") << QList<int>{320, 240, 16};
    QTest::newRow("8 bits") << QList<int>{320, 240, 8};
    QTest::newRow("size changes midway") << QList<int>{320, 240, 24, 640, 480, 24, 320, 240, 32};
}

void TestWmvWriter::framesOfOtherShapes() {
    QFETCH(QList<int>, shapes);
    FakeClock clock;
    {
        CWmvWriter writer(outputPath(), kProfile, 20, clock.source());
        for (qsizetype i = 0; i + 2 < shapes.size(); i += 3, clock.advance(100))
            QCOMPARE(writeFrame(writer, shapes[i], shapes[i + 1], shapes[i + 2]), S_OK);
    }
    const Probe info = probe(outputPath());
    QCOMPARE(info.errors, QString());
    const Stream* video = info.stream(u"video"_s);
    QCOMPARE(video->fields[u"width"_s].toInt(), 320);
    QCOMPARE(video->fields[u"height"_s].toInt(), 240);
    QCOMPARE(video->decoded, int(shapes.size() / 3));
}

void TestWmvWriter::pictureOrientation_data() {
    QTest::addColumn<int>("bits");
    QTest::newRow("24 bits") << 24;
    QTest::newRow("32 bits") << 32;
}

void TestWmvWriter::pictureOrientation() {
    QFETCH(int, bits);
    // Bottom-up BGR: the first rows in memory are the bottom of the picture.
    const int size = bits / 8;
    QByteArray pixels(320 * 240 * size, '\0');
    for (int row = 0; row < 240; ++row)
        for (int x = 0; x < 320; ++x)
            pixels[(row * 320 + x) * size + (row < 120 ? 0 : 2)] =
                char(255); // blue below, red above
    {
        CWmvWriter writer(outputPath(), kProfile, 20);
        QCOMPARE(writer.WriteFrame(320, 240, bytes(pixels), bits), S_OK);
    }
    const QByteArray rgb =
        runTool(u"ffmpeg"_s, u"-map 0:v -frames:v 1 -f rawvideo -pix_fmt rgb24"_s, outputPath());
    QCOMPARE(rgb.size(), 320 * 240 * 3);
    auto at = [&](int y, int channel) { return quint8(rgb[(y * 320 + 160) * 3 + channel]); };
    QVERIFY(at(40, 0) > 180 && at(40, 2) < 80);   // top: red
    QVERIFY(at(200, 2) > 180 && at(200, 0) < 80); // bottom: blue
}

void TestWmvWriter::soundFromAnotherThread() {
    FakeClock clock;
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::atomic<int> written{0};
    {
        CWmvWriter writer(outputPath(), kProfile, 20, clock.source());
        QCOMPARE(writeFrame(writer), S_OK);
        std::thread audio([&] {
            long long phase = 0;
            while (!stop.load()) {
                failures += writer.WriteAudio(bytes(tone(kBuffer, phase)), kBuffer) != S_OK;
                ++written;
                std::this_thread::yield();
            }
        });
        for (int i = 0; i < 20; ++i, clock.advance(100))
            QCOMPARE(writeFrame(writer), S_OK);
        QTRY_VERIFY(written.load() > 50);
        stop = true;
        audio.join();
    }
    QCOMPARE(failures.load(), 0);
    const Probe info = probe(outputPath());
    QCOMPARE(info.errors, QString());
    QCOMPARE(info.stream(u"video"_s)->decoded, 21);
    QVERIFY(info.stream(u"audio"_s)->decoded > 0);
}

QTEST_GUILESS_MAIN(TestWmvWriter)
#include "tst_wmvwriter.moc"
