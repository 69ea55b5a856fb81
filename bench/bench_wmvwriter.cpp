// Cost of the Windows Media writer: WriteFrame per 320 x 240 frame, and a
// whole 30-second message with sound, against the ffmpeg program encoding the
// same frames and sound to the same codecs and container in the same run.
#include "recorder/wmvwriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <numbers>
#include <vector>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFrames = 300; // 30 s at the recorder's 10 frames a second
constexpr int kFrameMs = 100;
constexpr int kRate = 22050;
constexpr int kBuffer = 600;
constexpr int kRuns = 3;
const QString kProfile = QStringLiteral("{29B00C2B-09A9-48BD-AD09-CDAE117D1DA7}");

// Bottom-up BGR frames of a moving gradient with a bar, like a webcam would
// give: every frame differs from the one before.
std::vector<QByteArray> makeFrames() {
    std::vector<QByteArray> frames;
    for (int f = 0; f < kFrames; ++f) {
        QByteArray pixels(kWidth * kHeight * 3, '\0');
        auto* p = reinterpret_cast<unsigned char*>(pixels.data());
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x, p += 3) {
                const bool bar = std::abs(x - (f * 7) % kWidth) < 20;
                p[0] = static_cast<unsigned char>(bar ? 240 : (x + f) & 0xff);
                p[1] = static_cast<unsigned char>(bar ? 240 : (y * 2 + f) & 0xff);
                p[2] = static_cast<unsigned char>(bar ? 20 : (x ^ y) & 0xff);
            }
        frames.push_back(pixels);
    }
    return frames;
}

QByteArray makeSound() {
    QByteArray sound(kFrames * kFrameMs * kRate / 1000, '\0');
    for (qsizetype i = 0; i < sound.size(); ++i)
        sound[i] = static_cast<char>(
            128 + std::lround(80 * std::sin(2 * std::numbers::pi * 440 * i / kRate)));
    return sound;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(std::ceil(p * values.size())) - 1;
    return values[std::min(at, values.size() - 1)];
}

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// CPU time of this thread: what the writer itself costs, without the time
// the thread spends preempted on a busy machine.
double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

struct FrameTimes {
    std::vector<double> wall;
    std::vector<double> cpu;
};

// Frames alone, each timed.
FrameTimes timeFrames(const QString& path, const std::vector<QByteArray>& frames) {
    std::uint32_t now = 1000;
    FrameTimes times;
    CWmvWriter writer(path, kProfile, 20, [&now] { return now; });
    for (const QByteArray& frame : frames) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = threadCpuMs();
        if (writer.WriteFrame(kWidth, kHeight, reinterpret_cast<const unsigned char*>(frame.data()),
                              24) != 0)
            std::fprintf(stderr, "WriteFrame failed: %s\n", qPrintable(writer.errorText()));
        times.cpu.push_back(threadCpuMs() - cpuStart);
        times.wall.push_back(msSince(start));
        now += kFrameMs;
    }
    return times;
}

// A whole message: every frame, the sound due before the next one, Close.
double timeMessage(const QString& path, const std::vector<QByteArray>& frames,
                   const QByteArray& sound) {
    std::uint32_t now = 1000;
    const auto start = std::chrono::steady_clock::now();
    {
        CWmvWriter writer(path, kProfile, 20, [&now] { return now; });
        qsizetype handed = 0;
        for (int f = 0; f < kFrames; ++f) {
            writer.WriteFrame(kWidth, kHeight,
                              reinterpret_cast<const unsigned char*>(frames[f].data()), 24);
            const qsizetype due = static_cast<qsizetype>(f + 1) * kFrameMs * kRate / 1000;
            while (due - handed >= kBuffer) {
                writer.WriteAudio(reinterpret_cast<const unsigned char*>(sound.data() + handed),
                                  kBuffer);
                handed += kBuffer;
                now += kBuffer * 1000 / kRate;
            }
            now = 1000 + static_cast<std::uint32_t>(f + 1) * kFrameMs;
        }
        writer.Close();
    }
    return msSince(start);
}

struct FfmpegTimes {
    double wall = -1;   // the whole program, process start included
    double encode = -1; // its own figure for the transcoding alone ("rtime")
};

FfmpegTimes timeFfmpeg(const QString& folder, const QString& output) {
    FfmpegTimes times;
    QProcess ffmpeg;
    QElapsedTimer timer;
    timer.start();
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-y",       "-hide_banner",
                                            "-nostats", "-v",
                                            "info",     "-benchmark",
                                            "-f",       "rawvideo",
                                            "-pix_fmt", "bgr24",
                                            "-s",       "320x240",
                                            "-r",       "10",
                                            "-i",       folder + "/frames.raw",
                                            "-f",       "u8",
                                            "-ar",      "22050",
                                            "-ac",      "1",
                                            "-i",       folder + "/sound.raw",
                                            "-c:v",     "wmv2",
                                            "-b:v",     "352k",
                                            "-c:a",     "wmav2",
                                            "-b:a",     "32k",
                                            "-f",       "asf",
                                            output});
    if (!ffmpeg.waitForFinished(120000) || ffmpeg.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg failed: %s\n", ffmpeg.readAllStandardError().constData());
        return times;
    }
    times.wall = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    const QByteArray log = ffmpeg.readAllStandardError();
    const qsizetype at = log.indexOf("rtime=");
    if (at >= 0)
        times.encode = log.mid(at + 6).split('s').first().toDouble() * 1000;
    return times;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    const std::vector<QByteArray> frames = makeFrames();
    const QByteArray sound = makeSound();

    // ffmpeg reads top-down rows; the flip is done here, outside the timing.
    QFile raw(folder.path() + QStringLiteral("/frames.raw"));
    QFile pcm(folder.path() + QStringLiteral("/sound.raw"));
    if (!raw.open(QIODevice::WriteOnly) || !pcm.open(QIODevice::WriteOnly))
        return 1;
    for (const QByteArray& frame : frames)
        for (int row = kHeight - 1; row >= 0; --row)
            raw.write(frame.constData() + row * kWidth * 3, kWidth * 3);
    pcm.write(sound);
    raw.close();
    pcm.close();

    const FrameTimes perFrame = timeFrames(folder.path() + "/frames.wmv", frames);
    std::printf(
        "WriteFrame, 320 x 240, %d frames, wall: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
        kFrames, percentile(perFrame.wall, 0.5), percentile(perFrame.wall, 0.99),
        percentile(perFrame.wall, 1.0));
    std::printf(
        "WriteFrame, 320 x 240, %d frames, CPU:  median %.3f ms, p99 %.3f ms, max %.3f ms\n",
        kFrames, percentile(perFrame.cpu, 0.5), percentile(perFrame.cpu, 0.99),
        percentile(perFrame.cpu, 1.0));

    std::vector<double> ours;
    std::vector<double> theirs;
    std::vector<double> theirsEncoding;
    for (int run = 0; run < kRuns; ++run) {
        ours.push_back(timeMessage(folder.path() + "/message.wmv", frames, sound));
        const FfmpegTimes ffmpeg = timeFfmpeg(folder.path(), folder.path() + "/ffmpeg.wmv");
        theirs.push_back(ffmpeg.wall);
        theirsEncoding.push_back(ffmpeg.encode);
    }
    std::printf("30-second message with sound (median of %d): CWmvWriter %.1f ms; ffmpeg program "
                "%.1f ms in all, %.1f ms by its own count of the encoding\n",
                kRuns, percentile(ours, 0.5), percentile(theirs, 0.5),
                percentile(theirsEncoding, 0.5));
    std::printf("file sizes: CWmvWriter %lld bytes, ffmpeg %lld bytes\n",
                static_cast<long long>(QFileInfo(folder.path() + "/message.wmv").size()),
                static_cast<long long>(QFileInfo(folder.path() + "/ffmpeg.wmv").size()));
    return 0;
}
