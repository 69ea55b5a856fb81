#include "app/clientcore.h"
#include "mediaprobe.h"
#include "platform/alert.h"
#include "platform/messages.h"
#include "recorder/recordsound.h"
#include "recorder/soundblocks.h"
#include "recorder/wmvwriter.h"
#include "testenvironment.h"

#include <QAudioDevice>
#include <QElapsedTimer>
#include <QFile>
#include <QIODevice>
#include <QMediaDevices>
#include <QMutex>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cmath>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString kProfile = u"{29B00C2B-09A9-48BD-AD09-CDAE117D1DA7}"_s;

// What the sources of one test went through, seen from the test's thread.
struct SourceLog {
    std::atomic<int> created{0};
    std::atomic<int> started{0};
    std::atomic<int> stopped{0};
    std::atomic<int> destroyed{0};
    std::atomic<int> readyReads{0};
    std::atomic<int> destroyedOffThread{0}; // not on the thread that made it
};

// Passes everything to a real source and notes each step; a step can be
// made to fail with a given code and text instead.
class LoggedSource final : public SoundSource {
public:
    LoggedSource(std::unique_ptr<SoundSource> inner, SourceLog& log,
                 std::optional<Failure> openFailure = {}, std::optional<Failure> startFailure = {})
        : m_inner(std::move(inner)), m_log(log), m_openFailure(std::move(openFailure)),
          m_startFailure(std::move(startFailure)), m_thread(QThread::currentThread()) {
        ++m_log.created;
    }
    ~LoggedSource() override {
        m_log.destroyedOffThread += QThread::currentThread() != m_thread;
        ++m_log.destroyed;
    }
    std::optional<Failure> open() override {
        return m_openFailure ? m_openFailure : m_inner->open();
    }
    std::optional<Failure> start() override {
        if (m_startFailure)
            return m_startFailure;
        if (auto failure = m_inner->start())
            return failure;
        ++m_log.started;
        QObject::connect(m_inner->device(), &QIODevice::readyRead, m_inner->device(),
                         [log = &m_log] { ++log->readyReads; });
        return std::nullopt;
    }
    QIODevice* device() const override { return m_inner->device(); }
    QAudioFormat format() const override { return m_inner->format(); }
    void stop() override {
        ++m_log.stopped;
        m_inner->stop();
    }

private:
    std::unique_ptr<SoundSource> m_inner;
    SourceLog& m_log;
    std::optional<Failure> m_openFailure;
    std::optional<Failure> m_startFailure;
    QThread* m_thread;
};

// Every block that reached the writer, counted on the audio thread.
struct HandOverLog {
    std::atomic<int> blocks{0};
    std::atomic<int> wrongSize{0};
    RecordSound::HandOverTap tap() {
        return [this](const unsigned char*, int byteCount) {
            wrongSize += byteCount != kSoundBlockBytes;
            ++blocks;
        };
    }
};

QByteArray grayFrame() {
    return QByteArray(320 * 240 * 3, char(0x60));
}

const unsigned char* bytes(const QByteArray& data) {
    return reinterpret_cast<const unsigned char*>(data.constData());
}

// Holds the audio thread inside a tap once asked to, until opened; it is
// opened when it goes, so a failing check never leaves the thread held.
class ThreadGate {
public:
    ~ThreadGate() { open(); }
    // The audio thread: waits here once after holdNext().
    void pass() {
        if (m_holdNext.exchange(false)) {
            m_entered.release();
            m_release.acquire();
        }
    }
    void holdNext() { m_holdNext = true; }
    bool waitUntilHeld() { return m_entered.tryAcquire(1, 5000); }
    void open() {
        if (!m_opened.exchange(true))
            m_release.release();
    }

private:
    QSemaphore m_entered;
    QSemaphore m_release;
    std::atomic<bool> m_holdNext{false};
    std::atomic<bool> m_opened{false};
};
} // namespace

// The audio thread with the test tone in place of a microphone and real
// writers fed frames by the test, as the recording session feeds them.
class TestRecordSound : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void recordingWithSound_data();
    void recordingWithSound();
    void secondRecordingAfterStop();
    void startWhileCapturingDoesNothing();
    void stopAndEndWhileIdle();
    void nothingReachesWriterAfterStop();
    void heldUpHandOverStillFinishesFile();
    void sessionHoldsTheLastReference();
    void stepFailures_data();
    void stepFailures();
    void missingMicrophone();
    void destroyedWhileCapturing();

private:
    QString videoPath(int n = 1) const { return m_env.tempFolder() + u"/vnote%1.wmv"_s.arg(n); }
    std::shared_ptr<CWmvWriter> newWriter(int n = 1) const {
        return std::make_shared<CWmvWriter>(videoPath(n), kProfile, 20);
    }
    // Makes the recorder's sources loggable, each from `make`.
    void
    logSources(RecordSound& recorder,
               std::function<std::unique_ptr<SoundSource>()> make = &SoundSource::createDefault) {
        recorder.setSourceFactory(
            [this, make] { return std::make_unique<LoggedSource>(make(), m_sources); });
    }
    // Starts a recording on a fresh thread and waits until sound flows.
    void start(RecordSound& recorder, std::shared_ptr<CWmvWriter> writer);
    // The stop of the recording session: both messages, then the wait.
    void stop(RecordSound& recorder) {
        recorder.PostThreadMessage(WM_RECORD_STOP);
        recorder.PostThreadMessage(WM_RECORD_END);
        recorder.waitUntilStopped();
    }
    // Frames every 100 ms, as timer 2 grabs them, `count` in all; returns
    // half a frame after the last so the sound runs up to the frame's end.
    void feedFrames(CWmvWriter& writer, int count);

    TestEnvironment m_env;
    SourceLog m_sources;
    QStringList m_alerts;
    QMutex m_alertMutex;
};

void TestRecordSound::init() {
    m_sources.created = 0;
    m_sources.started = 0;
    m_sources.stopped = 0;
    m_sources.destroyed = 0;
    m_sources.readyReads = 0;
    m_sources.destroyedOffThread = 0;
    m_alerts.clear();
    setAlertHandler([this](const QString& text, const QString& caption, AlertIcon icon) {
        QMutexLocker lock(&m_alertMutex);
        m_alerts << text + u'|' + caption + u'|' + QString::number(int(icon));
    });
}

void TestRecordSound::cleanup() {
    setAlertHandler({});
    qputenv("CLIPNOTE_MICROPHONE", "test");
}

void TestRecordSound::start(RecordSound& recorder, std::shared_ptr<CWmvWriter> writer) {
    QVERIFY(recorder.CreateThread());
    QVERIFY(recorder.threadCreated());
    recorder.setWriter(std::move(writer));
    recorder.PostThreadMessage(WM_RECORD_START);
    QTRY_COMPARE(recorder.recording(), 1);
    QCOMPARE(recorder.finished(), 0);
}

void TestRecordSound::feedFrames(CWmvWriter& writer, int count) {
    const QByteArray frame = grayFrame();
    int written = 0;
    QTimer frames;
    frames.setTimerType(Qt::PreciseTimer);
    frames.setInterval(100);
    QTimer end;
    end.setTimerType(Qt::PreciseTimer);
    end.setSingleShot(true);
    end.setInterval(50);
    QSignalSpy ended(&end, &QTimer::timeout);
    auto write = [&] {
        QCOMPARE(writer.WriteFrame(320, 240, bytes(frame), 24), S_OK);
        if (++written == count) {
            frames.stop();
            end.start();
        }
    };
    connect(&frames, &QTimer::timeout, write);
    write();
    frames.start();
    QVERIFY(ended.wait(count * 100 + 5000));
}

void TestRecordSound::recordingWithSound_data() {
    QTest::addColumn<QAudioFormat>("deviceFormat"); // invalid: the default source
    QTest::newRow("test tone of CLIPNOTE_MICROPHONE") << QAudioFormat();
    QTest::newRow("device refusing the format: 48 kHz stereo 16-bit")
        << soundFormat(48000, 2, QAudioFormat::Int16);
    QTest::newRow("device refusing the format: 44.1 kHz float")
        << soundFormat(44100, 1, QAudioFormat::Float);
}

void TestRecordSound::recordingWithSound() {
    QFETCH(QAudioFormat, deviceFormat);
    RecordSound recorder;
    if (deviceFormat.isValid())
        logSources(recorder, [deviceFormat] { return SoundSource::createTestTone(deviceFormat); });
    else
        logSources(recorder);
    HandOverLog handed;
    recorder.setHandOverTap(handed.tap());

    std::shared_ptr<CWmvWriter> writer = newWriter();
    QElapsedTimer sinceStart;
    sinceStart.start();
    start(recorder, writer);
    const qint64 flowingAfter = sinceStart.elapsed();
    feedFrames(*writer, 15);
    stop(recorder);
    const qint64 stoppedAfter = sinceStart.elapsed();
    const int blocks = handed.blocks.load();
    writer.reset();
    QTRY_COMPARE(recorder.finished(), 1);
    QCOMPARE(recorder.recording(), 0);
    QCOMPARE(m_sources.stopped.load(), 1);
    QCOMPARE(m_alerts, QStringList());

    // 600 bytes every 27 ms or so, paced by real time from the start on.
    QCOMPARE(handed.wrongSize.load(), 0);
    const double perBlockMs = 1000.0 * kSoundBlockBytes / kSoundSampleRate;
    const QString counted =
        u"%1 blocks in %2 to %3 ms"_s.arg(blocks).arg(flowingAfter).arg(stoppedAfter);
    QVERIFY2(blocks <= stoppedAfter / perBlockMs + 1, qPrintable(counted));
    QVERIFY2(blocks >= (stoppedAfter - flowingAfter) / perBlockMs - 4, qPrintable(counted));

    const Probe info = probe(videoPath());
    QCOMPARE(info.errors, QString());
    const Stream* video = info.stream(u"video"_s);
    const Stream* audio = info.stream(u"audio"_s);
    QVERIFY(video && audio);
    QCOMPARE(video->decoded, 15);
    QCOMPARE(audio->codec, u"wmav2"_s);
    QCOMPARE(audio->fields[u"sample_rate"_s].toString(), u"22050"_s);
    QCOMPARE(audio->fields[u"channels"_s].toInt(), 1);
    // The last frame lasts one nominal frame, 50 ms at 20 frames a second.
    const double videoEnd = video->packets.last() + 0.05;
    QVERIFY2(std::abs(audio->end - videoEnd) <= 0.1,
             qPrintable(u"sound ends at %1, picture at %2"_s.arg(audio->end).arg(videoEnd)));
    // The tone runs without a gap from the first frame to the stop.
    const QPair<double, double> quiet = longestSilence(videoPath(), *audio, 0.0);
    QVERIFY2(quiet.first < 0 || quiet.second - quiet.first <= 0.06 || quiet.first >= videoEnd - 0.1,
             qPrintable(u"quiet from %1 to %2"_s.arg(quiet.first).arg(quiet.second)));
}

void TestRecordSound::secondRecordingAfterStop() {
    RecordSound recorder;
    logSources(recorder);
    HandOverLog handed;
    recorder.setHandOverTap(handed.tap());
    for (int n = 1; n <= 2; ++n) {
        std::shared_ptr<CWmvWriter> writer = newWriter(n);
        start(recorder, writer);
        // Each start clears finished, so the stop after it has to wait again.
        QCOMPARE(recorder.finished(), 0);
        feedFrames(*writer, 5);
        stop(recorder);
        writer.reset();
        QTRY_COMPARE(recorder.finished(), 1);
    }
    QCOMPARE(m_sources.created.load(), 2);
    QCOMPARE(m_sources.destroyed.load(), 2);
    for (int n = 1; n <= 2; ++n) {
        const Probe info = probe(videoPath(n));
        QCOMPARE(info.errors, QString());
        QVERIFY2(info.stream(u"audio"_s) && info.stream(u"audio"_s)->decoded > 0,
                 qPrintable(videoPath(n)));
    }
}

void TestRecordSound::startWhileCapturingDoesNothing() {
    RecordSound recorder;
    logSources(recorder);
    start(recorder, newWriter());
    recorder.PostThreadMessage(WM_RECORD_START);
    recorder.PostThreadMessage(WM_RECORD_END);
    QTRY_COMPARE(recorder.finished(), 1);
    QCOMPARE(m_sources.created.load(), 1);
    QCOMPARE(m_sources.started.load(), 1);
    QCOMPARE(m_sources.stopped.load(), 1);
    QCOMPARE(recorder.recording(), 0);
}

void TestRecordSound::stopAndEndWhileIdle() {
    RecordSound recorder;
    logSources(recorder);
    QVERIFY(recorder.CreateThread());
    recorder.PostThreadMessage(WM_RECORD_STOP);
    recorder.PostThreadMessage(WM_RECORD_END);
    QTRY_COMPARE(recorder.finished(), 1);
    QCOMPARE(recorder.recording(), 0);
    QCOMPARE(m_sources.created.load(), 0);
}

void TestRecordSound::nothingReachesWriterAfterStop() {
    RecordSound recorder;
    logSources(recorder);
    HandOverLog handed;
    recorder.setHandOverTap(handed.tap());
    std::shared_ptr<CWmvWriter> writer = newWriter();
    start(recorder, writer);
    QTRY_VERIFY(handed.blocks.load() >= 3);
    // The wait comes before the audio thread has even seen the stop: sound
    // goes on being captured, yet none of it reaches the writer.
    recorder.waitUntilStopped();
    const int blocks = handed.blocks.load();
    const int readyReads = m_sources.readyReads.load();
    writer.reset();
    QTRY_VERIFY(m_sources.readyReads.load() >= readyReads + 5);
    QCOMPARE(recorder.recording(), 1);
    QCOMPARE(handed.blocks.load(), blocks);
    recorder.PostThreadMessage(WM_RECORD_STOP);
    recorder.PostThreadMessage(WM_RECORD_END);
    QTRY_COMPARE(recorder.finished(), 1);
    QCOMPARE(handed.blocks.load(), blocks);
}

void TestRecordSound::heldUpHandOverStillFinishesFile() {
    // A block whose hand-over waits for the user (the writer's alert) must
    // neither hang the stop nor leave the file unfinished.
    RecordSound recorder;
    logSources(recorder);
    ThreadGate gate;
    recorder.setHandOverTap([&gate](const unsigned char*, int) { gate.pass(); });
    std::shared_ptr<CWmvWriter> writer = newWriter();
    start(recorder, writer);
    feedFrames(*writer, 3);
    gate.holdNext();
    QVERIFY(gate.waitUntilHeld());
    stop(recorder);
    // The audio thread still holds the writer, closed: the file is complete.
    QCOMPARE(writer.use_count(), 2);
    writer.reset();
    const Probe info = probe(videoPath());
    QVERIFY(info.stream(u"video"_s));
    QCOMPARE(info.stream(u"video"_s)->decoded, 3);
    QCOMPARE(recorder.finished(), 0);
    gate.open();
    QTRY_COMPARE(recorder.finished(), 1);
}

void TestRecordSound::sessionHoldsTheLastReference() {
    // Once the audio thread has reported a hand-over done it holds no
    // reference to the writer: the session's is the last, so the writer
    // goes, and its file is finished, on the session's thread before
    // anything looks for the file. The audio thread is held just after
    // such a report while the session stops.
    RecordSound recorder;
    logSources(recorder);
    ThreadGate gate;
    recorder.setHandOverDoneTap([&gate] { gate.pass(); });
    QThread* const session = QThread::currentThread();
    std::atomic<QThread*> destroyedOn{nullptr};
    std::shared_ptr<CWmvWriter> writer(new CWmvWriter(videoPath(), kProfile, 20),
                                       [&destroyedOn](CWmvWriter* w) {
                                           destroyedOn = QThread::currentThread();
                                           delete w;
                                       });
    start(recorder, writer);
    feedFrames(*writer, 3);
    gate.holdNext();
    QVERIFY(gate.waitUntilHeld());
    stop(recorder);
    QCOMPARE(writer.use_count(), 1);
    writer.reset();
    QCOMPARE(destroyedOn.load(), session);
    QVERIFY(QFile::exists(videoPath()));
    gate.open();
    QTRY_COMPARE(recorder.finished(), 1);
}

void TestRecordSound::stepFailures_data() {
    QTest::addColumn<QString>("failingStep");
    QTest::addColumn<quint32>("code");
    QTest::addColumn<QString>("alert");
    QTest::newRow("device not opened") << u"Open"_s << 0x2u << u"RECORD: Open : 2 : bad device|"_s;
    QTest::newRow("device not started, code shown in lowercase hexadecimal")
        << u"Start"_s << 0x1au << u"RECORD: Start : 1a : bad device|"_s;
}

void TestRecordSound::stepFailures() {
    QFETCH(QString, failingStep);
    QFETCH(quint32, code);
    QFETCH(QString, alert);
    RecordSound recorder;
    const SoundSource::Failure failure{code, u"bad device"_s};
    recorder.setSourceFactory([&] {
        return std::make_unique<LoggedSource>(
            SoundSource::createDefault(), m_sources,
            failingStep == u"Open"_s ? std::optional(failure) : std::nullopt,
            failingStep == u"Start"_s ? std::optional(failure) : std::nullopt);
    });
    HandOverLog handed;
    recorder.setHandOverTap(handed.tap());
    std::shared_ptr<CWmvWriter> writer = newWriter();
    QVERIFY(recorder.CreateThread());
    recorder.setWriter(writer);
    recorder.PostThreadMessage(WM_RECORD_START);
    QTRY_COMPARE(m_sources.destroyed.load(), 1);
    QCOMPARE(recorder.recording(), 0);
    const QString expected =
        alert + ClientCore::applicationTitle() + u'|' + QString::number(int(AlertIcon::Warning));
    QCOMPARE(m_alerts, QStringList{expected});

    // The recording goes on without sound; stopping it adds nothing.
    feedFrames(*writer, 3);
    stop(recorder);
    QTRY_COMPARE(recorder.finished(), 1);
    QCOMPARE(m_alerts.size(), 1);
    QCOMPARE(handed.blocks.load(), 0);
    QCOMPARE(m_sources.started.load(), 0);
    // A device refused at the start is not left open.
    QCOMPARE(m_sources.destroyed.load(), m_sources.created.load());
    // The next recording tries the device again.
    recorder.setWriter(newWriter(2));
    recorder.PostThreadMessage(WM_RECORD_START);
    QTRY_COMPARE(m_sources.created.load(), 2);
    QTRY_COMPARE(m_alerts.size(), 2);
}

void TestRecordSound::missingMicrophone() {
    if (!QMediaDevices::defaultAudioInput().isNull())
        QSKIP("this machine has a microphone");
    qunsetenv("CLIPNOTE_MICROPHONE");
    RecordSound recorder;
    logSources(recorder);
    std::shared_ptr<CWmvWriter> writer = newWriter();
    QVERIFY(recorder.CreateThread());
    recorder.setWriter(writer);
    recorder.PostThreadMessage(WM_RECORD_START);
    QTRY_COMPARE(m_sources.destroyed.load(), 1);
    QCOMPARE(m_alerts, QStringList{u"RECORD: Open : 1 : No audio input device is present.|"_s +
                                   ClientCore::applicationTitle() + u'|' +
                                   QString::number(int(AlertIcon::Warning))});
    QCOMPARE(recorder.recording(), 0);
    feedFrames(*writer, 3);
    stop(recorder);
    writer.reset();
    QTRY_COMPARE(recorder.finished(), 1);
    QCOMPARE(m_alerts.size(), 1);
    // The picture is kept; the sound stream has nothing in it.
    const Probe info = probe(videoPath());
    QVERIFY(info.stream(u"video"_s));
    QCOMPARE(info.stream(u"video"_s)->decoded, 3);
    QVERIFY(!info.stream(u"audio"_s) || info.stream(u"audio"_s)->decoded == 0);
}

void TestRecordSound::destroyedWhileCapturing() {
    HandOverLog handed;
    std::shared_ptr<CWmvWriter> writer = newWriter();
    {
        RecordSound recorder;
        logSources(recorder);
        recorder.setHandOverTap(handed.tap());
        start(recorder, writer);
        QTRY_VERIFY(handed.blocks.load() > 0);
    }
    // The device was closed on the audio thread, which has ended.
    QCOMPARE(m_sources.destroyed.load(), 1);
    QCOMPARE(m_sources.destroyedOffThread.load(), 0);
    QCOMPARE(writer.use_count(), 1);
}

QTEST_GUILESS_MAIN(TestRecordSound)
#include "tst_recordsound.moc"
