#pragma once

#include <QImage>

#include <cstdint>
#include <memory>
#include <mutex>

// The newest picture a camera delivered, handed from the thread that
// delivers it to the user-interface thread that grabs it. Only QImage
// crosses: its data is shared, never changed after it is put here.
class LatestFrame {
public:
    // Any thread.
    void put(QImage picture);
    void clear();
    // A null image until the first picture (and after clear).
    QImage take() const;
    // Pictures put so far.
    std::uint64_t count() const;

private:
    mutable std::mutex m_mutex;
    QImage m_picture;
    std::uint64_t m_count = 0;
};

// Something that feeds pictures into a LatestFrame once started: a camera,
// or the synthetic test pattern.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    // Starts delivering without waiting for the first picture. False when
    // the source cannot start; it then delivers nothing.
    virtual bool start(std::shared_ptr<LatestFrame> frames) = 0;
    // Delivers nothing more once this returns.
    virtual void stop() = 0;
};
