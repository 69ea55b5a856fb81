#pragma once

#include "recorder/latestframe.h"

#include <QImage>
#include <QSize>
#include <QTime>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// The synthetic camera's picture `elapsedMs` after it started: colour bars
// scrolling sideways, a bouncing square and the time of day as text, so that
// a recording of it shows at a glance that frames keep coming and when they
// were taken. The text needs a QGuiApplication; without one it is left out.
inline constexpr QSize kTestPatternSize(640, 480);
QImage renderTestPattern(qint64 elapsedMs, const QTime& clock, QSize size = kTestPatternSize);

// Delivers the test pattern from a thread of its own, about 20 pictures a
// second following real time, the way a camera delivers from its own thread.
class TestPatternSource : public FrameSource {
public:
    explicit TestPatternSource(int periodMs = 50);
    ~TestPatternSource() override;

    bool start(std::shared_ptr<LatestFrame> frames) override;
    void stop() override;

private:
    void run(std::shared_ptr<LatestFrame> frames);

    const int m_periodMs;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::atomic<int> m_stopping{0};
};
