#include "recorder/recordsound.h"

#include "app/clientcore.h"
#include "platform/alert.h"
#include "platform/messages.h"
#include "recorder/soundblocks.h"
#include "recorder/wmvwriter.h"

#include <QCoreApplication>
#include <QIODevice>

#include <chrono>

// The object in the audio thread that the three messages are posted to.
class RecordSound::Receiver : public QObject {
public:
    explicit Receiver(RecordSound& owner) : m_owner(owner) {}

protected:
    bool event(QEvent* event) override {
        const int message = static_cast<int>(event->type());
        if (message == WM_RECORD_START || message == WM_RECORD_STOP || message == WM_RECORD_END) {
            m_owner.handleMessage(message);
            return true;
        }
        return QObject::event(event);
    }

private:
    RecordSound& m_owner;
};

RecordSound::RecordSound(QObject* parent)
    : QThread(parent), m_sourceFactory(&SoundSource::createDefault),
      m_receiver(std::make_unique<Receiver>(*this)) {
    setObjectName(QStringLiteral("RecordSound"));
    m_receiver->moveToThread(this);
}

RecordSound::~RecordSound() {
    {
        std::lock_guard lock(m_writerMutex);
        m_writer.reset();
    }
    quit();
    wait();
}

bool RecordSound::CreateThread() {
    // The device holds half a second of sound, so capture keeps up at low
    // priority; the window and the frame encoder come first.
    if (!isRunning())
        start(QThread::LowPriority);
    return isRunning();
}

void RecordSound::setWriter(std::shared_ptr<CWmvWriter> writer) {
    std::lock_guard lock(m_writerMutex);
    m_writer = std::move(writer);
}

void RecordSound::PostThreadMessage(int message) {
    QCoreApplication::postEvent(m_receiver.get(), new PrivateEvent(message, 0, 0));
}

void RecordSound::waitUntilStopped() {
    std::shared_ptr<CWmvWriter> taken;
    bool settled = true;
    {
        std::unique_lock lock(m_writerMutex);
        taken = std::move(m_writer);
        m_writer.reset();
        settled = m_handOverDone.wait_for(lock, std::chrono::milliseconds(kStopWaitMs),
                                          [this] { return !m_handingOver; });
    }
    // A block held up past the pause keeps its writer alive on the audio
    // thread for a while; the file is finished here all the same.
    if (!settled && taken)
        taken->Close();
}

void RecordSound::setMicrophone(const DeviceChoice& choice) {
    std::lock_guard lock(m_writerMutex);
    m_microphone = choice;
}

void RecordSound::setSourceFactory(SourceFactory factory) {
    m_sourceFactory = factory ? std::move(factory) : SourceFactory(&SoundSource::createDefault);
}

void RecordSound::setHandOverTap(HandOverTap tap) {
    m_tap = std::move(tap);
}

void RecordSound::setHandOverDoneTap(HandOverDoneTap tap) {
    m_doneTap = std::move(tap);
}

void RecordSound::run() {
    exec();
    // A capture still running when the thread ends is closed here, on the
    // thread its device belongs to.
    m_recording = 0;
    closeSource();
}

void RecordSound::handleMessage(int message) {
    switch (message) {
    case WM_RECORD_START:
        startCapture();
        break;
    case WM_RECORD_STOP:
        stopCapture();
        break;
    case WM_RECORD_END:
        endCapture();
        break;
    default:
        break;
    }
}

void RecordSound::startCapture() {
    if (m_recording.load() == 1)
        return;
    m_finished = 0;
    DeviceChoice microphone;
    {
        std::lock_guard lock(m_writerMutex);
        microphone = m_microphone;
    }
    if (!microphone.id.isEmpty()) {
        if (beginCapture(SoundSource::create(microphone.id), false))
            return;
        // Said before the default starts, so no one records in silence
        // unawares or with the wrong microphone.
        showAlert(deviceUnavailableText(DeviceKind::Microphone, microphone.shownName()),
                  ClientCore::applicationTitle(), AlertIcon::Warning);
    }
    beginCapture(m_sourceFactory(), true);
}

bool RecordSound::beginCapture(std::unique_ptr<SoundSource> source, bool reportFailures) {
    const auto fail = [&](const char* step, const SoundSource::Failure& failure) {
        if (reportFailures)
            reportFailure(step, failure);
        closeSource();
        return false;
    };
    m_source = std::move(source);
    if (const auto failure = m_source->open())
        return fail("Open", *failure);
    m_blocks = std::make_unique<SoundBlocks>(
        m_source->format(),
        [this](const unsigned char* block, int byteCount) { handOver(block, byteCount); });
    if (!m_blocks->valid())
        return fail("Open", SoundSource::unusableFormat());
    // A device that fails to start is closed again, so the next recording
    // opens it afresh.
    if (const auto failure = m_source->start())
        return fail("Start", *failure);
    connect(m_source->device(), &QIODevice::readyRead, m_receiver.get(), [this] { readSound(); });
    m_recording = 1;
    return true;
}

void RecordSound::stopCapture() {
    if (m_recording.load() == 0)
        return;
    // The device's sound is read on this thread, so once the flag is down
    // and the device is closed no block of this capture can follow; the
    // partly filled block is dropped.
    m_recording = 0;
    closeSource();
}

void RecordSound::endCapture() {
    if (m_recording.load() == 1)
        stopCapture();
    m_finished = 1;
}

void RecordSound::readSound() {
    if (m_recording.load() == 1 && m_source && m_source->device())
        m_blocks->readFrom(*m_source->device());
}

void RecordSound::handOver(const unsigned char* block, int byteCount) {
    std::shared_ptr<CWmvWriter> writer;
    {
        std::lock_guard lock(m_writerMutex);
        writer = m_writer;
        m_handingOver = writer != nullptr;
    }
    if (!writer)
        return;
    // The writer's result is not looked at: it tells the user of its own
    // failures, and the capture goes on either way.
    writer->WriteAudio(block, byteCount);
    if (m_tap)
        m_tap(block, byteCount);
    // Let go before the session hears the hand-over is done: the session
    // then holds the last reference and destroys the writer on its own
    // thread, not this one at some later moment.
    writer.reset();
    {
        std::lock_guard lock(m_writerMutex);
        m_handingOver = false;
    }
    m_handOverDone.notify_all();
    if (m_doneTap)
        m_doneTap();
}

void RecordSound::reportFailure(const char* step, const SoundSource::Failure& failure) {
    showAlert(QStringLiteral("RECORD: %1 : %2 : %3")
                  .arg(QLatin1String(step), QString::number(failure.code, 16), failure.text),
              ClientCore::applicationTitle(), AlertIcon::Warning);
}

void RecordSound::closeSource() {
    if (m_source)
        m_source->stop();
    m_source.reset();
    m_blocks.reset();
}
