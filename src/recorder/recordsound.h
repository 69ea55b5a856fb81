#pragma once

#include "recorder/devicechoice.h"
#include "recorder/soundsource.h"

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class CWmvWriter;
class SoundBlocks;

// The audio thread: records the microphone while a message is recorded and
// hands every filled 600-byte block to the writer of the recording. It runs
// its own event loop and answers three posted messages, WM_RECORD_START,
// WM_RECORD_STOP and WM_RECORD_END; the recording session drives it and
// reads its two flags. One object belongs to the main window; its thread is
// started on the first recording and runs until the object is destroyed.
//
// The session, for each recording: CreateThread() unless threadCreated(),
// setWriter(), setMicrophone(), post WM_RECORD_START. To stop: post WM_RECORD_STOP and
// WM_RECORD_END, call waitUntilStopped(), then drop its own reference to the
// writer, which finishes the file.
//
// The device's sound arrives on this thread too, so a stop handled here is
// never overtaken by a block of the stopped capture. The writer is shared so
// that a block still being handed over keeps the object alive until it is
// done, whatever the session does meanwhile.
class RecordSound : public QThread {
    Q_OBJECT

public:
    using SourceFactory = std::function<std::unique_ptr<SoundSource>()>;
    // Sees every block on its way to the writer, on the audio thread.
    using HandOverTap = std::function<void(const unsigned char* block, int byteCount)>;
    // Runs on the audio thread just after a hand-over has been reported
    // done, so a test can hold the thread at that point.
    using HandOverDoneTap = std::function<void()>;

    // A block still being handed over when the session stops is waited for
    // this long at most, the pause the stop has always allowed.
    static constexpr int kStopWaitMs = 500;

    explicit RecordSound(QObject* parent = nullptr);
    ~RecordSound() override;

    // Starts the thread below normal priority, once; false when it could
    // not be started.
    bool CreateThread();
    bool threadCreated() const { return isRunning(); }

    // The writer of the next recording; set before posting WM_RECORD_START.
    void setWriter(std::shared_ptr<CWmvWriter> writer);
    // Posts WM_RECORD_START, WM_RECORD_STOP or WM_RECORD_END to the thread.
    void PostThreadMessage(int message);

    // Called by the session after posting WM_RECORD_STOP and WM_RECORD_END,
    // in place of polling the flags with fixed pauses: from its return on no
    // block reaches the writer and this object holds no reference to it, so
    // the session's own reference is the last one. It waits
    // only for a block being handed over at that moment; if that one is
    // held up longer than kStopWaitMs (an alert on the writer's behalf waits
    // for the user), the writer is closed here so its file is finished.
    void waitUntilStopped();

    // 1 from a successful start until a stop begins.
    int recording() const { return m_recording.load(); }
    // 0 from each start until the end message has been handled.
    int finished() const { return m_finished.load(); }

    // The microphone chosen for the next recording; an empty ID leaves it to
    // the source factory. A chosen microphone that cannot be opened or
    // started is named in a message and the factory's source is used.
    void setMicrophone(const DeviceChoice& choice);

    // The source of each capture without a chosen microphone; the default
    // follows CLIPNOTE_MICROPHONE. Both are set while no capture runs.
    void setSourceFactory(SourceFactory factory);
    void setHandOverTap(HandOverTap tap);
    void setHandOverDoneTap(HandOverDoneTap tap);

protected:
    void run() override;

private:
    class Receiver;

    // These run on the audio thread.
    void handleMessage(int message);
    void startCapture();
    // Opens and starts the source; on failure closes it again, telling the
    // user only when asked to.
    bool beginCapture(std::unique_ptr<SoundSource> source, bool reportFailures);
    void stopCapture();
    void endCapture();
    void readSound();
    void handOver(const unsigned char* block, int byteCount);
    void reportFailure(const char* step, const SoundSource::Failure& failure);
    void closeSource();

    std::atomic<int> m_recording{0};
    std::atomic<int> m_finished{0};

    // The writer and whether a block is being handed to it, guarded together
    // so the session can take the writer away between two blocks.
    std::mutex m_writerMutex;
    std::condition_variable m_handOverDone;
    std::shared_ptr<CWmvWriter> m_writer;
    bool m_handingOver = false;
    DeviceChoice m_microphone; // guarded by m_writerMutex too

    SourceFactory m_sourceFactory;
    HandOverTap m_tap;
    HandOverDoneTap m_doneTap;
    std::unique_ptr<Receiver> m_receiver; // lives in the thread
    std::unique_ptr<SoundSource> m_source;
    std::unique_ptr<SoundBlocks> m_blocks;
};
