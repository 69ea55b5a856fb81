// Cost of the work a grabbed frame puts on the user-interface thread: turning
// a camera picture of each usual size and format into the recorder's frame,
// drawing the test pattern, and making the one thumbnail of a recording.
#include "recorder/frameconversion.h"
#include "recorder/testpattern.h"
#include "recorder/thumbnail.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kRounds = 200;

QImage cameraPicture(QSize size, QImage::Format format) {
    return renderTestPattern(1234, QTime(12, 34, 56), size).convertToFormat(format);
}

double microsecondsPer(int rounds, const std::function<void()>& work) {
    work(); // warm up
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rounds; ++i)
        work();
    return double(timer.nsecsElapsed()) / 1000.0 / rounds;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    std::vector<unsigned char> frame(kFrameBytes);

    struct Case {
        const char* name;
        QSize size;
        QImage::Format format;
    };
    const Case cases[] = {
        {"320x240 RGB32 (no scaling)", {320, 240}, QImage::Format_RGB32},
        {"640x480 RGB32", {640, 480}, QImage::Format_RGB32},
        {"640x480 ARGB32 premultiplied", {640, 480}, QImage::Format_ARGB32_Premultiplied},
        {"1280x720 RGB32", {1280, 720}, QImage::Format_RGB32},
        {"1280x720 RGB888", {1280, 720}, QImage::Format_RGB888},
        {"1920x1080 ARGB32 premultiplied", {1920, 1080}, QImage::Format_ARGB32_Premultiplied},
        {"176x144 RGB16", {176, 144}, QImage::Format_RGB16},
    };
    std::printf("frame conversion (%d rounds each), microseconds per frame:\n", kRounds);
    for (const Case& c : cases) {
        const QImage picture = cameraPicture(c.size, c.format);
        const double us = microsecondsPer(kRounds, [&] { toBottomUpBgr(picture, frame.data()); });
        std::printf("  %-32s %9.1f\n", c.name, us);
    }

    const double pattern =
        microsecondsPer(kRounds / 4, [] { renderTestPattern(500, QTime::currentTime()); });
    std::printf("test pattern 640x480, microseconds per picture: %.1f\n", pattern);

    QTemporaryDir dir;
    toBottomUpBgr(cameraPicture({640, 480}, QImage::Format_RGB32), frame.data());
    const QString video = dir.path() + QStringLiteral("/vnote.wmv");
    const double thumbnail = microsecondsPer(20, [&] { MakeThumbnail(frame.data(), video); });
    std::printf("thumbnail of one frame (bitmap, JPEG, shrink, JPEG), milliseconds: %.2f\n",
                thumbnail / 1000.0);
    return 0;
}
