#include "recorder/latestframe.h"

void LatestFrame::put(QImage picture) {
    if (picture.isNull())
        return;
    // Declared before the lock, so the old picture's pixels are freed after
    // the lock is let go and a grab never waits on that.
    QImage previous;
    std::lock_guard lock(m_mutex);
    previous.swap(m_picture);
    m_picture = std::move(picture);
    ++m_count;
}

void LatestFrame::clear() {
    std::lock_guard lock(m_mutex);
    m_picture = QImage();
}

QImage LatestFrame::take() const {
    std::lock_guard lock(m_mutex);
    return m_picture;
}

std::uint64_t LatestFrame::count() const {
    std::lock_guard lock(m_mutex);
    return m_count;
}
