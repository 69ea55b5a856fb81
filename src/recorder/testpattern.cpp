#include "recorder/testpattern.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <array>
#include <chrono>

namespace {

// Bars of the usual test card, without pure magenta: 0xFF00FF is the colour
// every picture is drawn with as transparent, and a thumbnail of the pattern
// must not show holes.
constexpr std::array<QRgb, 8> kBars = {0xFFFFFF, 0xFFFF00, 0x00FFFF, 0x00FF00,
                                       0xC000C0, 0xFF0000, 0x0000FF, 0x202020};
constexpr int kBarPixelsPerSecond = 80;
constexpr int kSquarePixelsPerSecond = 150;

// A position that runs from 0 to `span` and back, `speed` pixels a second.
int bounce(qint64 elapsedMs, int speed, int span) {
    if (span <= 0)
        return 0;
    const qint64 travelled = elapsedMs * speed / 1000 % (2 * span);
    return int(travelled <= span ? travelled : 2 * span - travelled);
}

} // namespace

QImage renderTestPattern(qint64 elapsedMs, const QTime& clock, QSize size) {
    QImage picture(size, QImage::Format_RGB32);
    if (picture.isNull())
        return picture;
    const int w = size.width();
    const int h = size.height();
    picture.fill(Qt::black);
    QPainter painter(&picture);

    const int barCount = int(kBars.size());
    const int barWidth = qMax(1, (w + barCount - 1) / barCount);
    const int offset = int(elapsedMs * kBarPixelsPerSecond / 1000 % (barWidth * barCount));
    // From the last bar edge at or left of the picture's edge, bar after bar.
    for (int x = offset % barWidth - barWidth; x < w; x += barWidth) {
        const int bar = (((x - offset) / barWidth) % barCount + barCount) % barCount;
        painter.fillRect(x, 0, barWidth, h, QColor::fromRgb(kBars[bar]));
    }

    const int band = qMax(1, h / 5);
    const int square = qMax(1, h / 8);
    const int squareX = bounce(elapsedMs, kSquarePixelsPerSecond, w - square);
    const int squareY = bounce(elapsedMs, kSquarePixelsPerSecond * 2 / 3, h - band - square);
    painter.fillRect(squareX, squareY, square, square, Qt::white);
    painter.setPen(QColor(64, 64, 64));
    painter.drawRect(squareX, squareY, square - 1, square - 1);

    painter.fillRect(0, h - band, w, band, QColor(16, 16, 48));
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        QFont font;
        font.setStyleHint(QFont::Monospace);
        font.setFamily(QStringLiteral("Monospace"));
        font.setBold(true);
        font.setPixelSize(qMax(6, band * 3 / 5));
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRect(0, h - band, w, band), Qt::AlignCenter,
                         clock.toString(QStringLiteral("HH:mm:ss.zzz")));
    }
    return picture;
}

TestPatternSource::TestPatternSource(int periodMs) : m_periodMs(qMax(1, periodMs)) {}

TestPatternSource::~TestPatternSource() {
    stop();
}

bool TestPatternSource::start(std::shared_ptr<LatestFrame> frames) {
    stop();
    if (!frames)
        return false;
    m_stopping = 0;
    m_thread = std::thread([this, frames] { run(frames); });
    return true;
}

void TestPatternSource::stop() {
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = 1;
    }
    m_wake.notify_all();
    m_thread.join();
}

void TestPatternSource::run(std::shared_ptr<LatestFrame> frames) {
    QElapsedTimer elapsed;
    elapsed.start();
    const auto period = std::chrono::milliseconds(m_periodMs);
    auto next = std::chrono::steady_clock::now();
    while (!m_stopping.load()) {
        frames->put(renderTestPattern(elapsed.elapsed(), QTime::currentTime()));
        // A slow machine skips pictures rather than drawing them back to back.
        next = std::max(next + period, std::chrono::steady_clock::now());
        std::unique_lock lock(m_mutex);
        m_wake.wait_until(lock, next, [this] { return m_stopping.load() != 0; });
    }
}
