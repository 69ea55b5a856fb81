#include "mediaprobe.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {
// Sound is decoded at the rate it is recorded at.
constexpr int kRate = 22050;
} // namespace

QByteArray runTool(const QString& tool, const QString& options, const QString& path,
                   QString* errors) {
    QProcess process;
    QStringList args{u"-v"_s, u"error"_s};
    if (tool == u"ffmpeg"_s)
        args << u"-i"_s << path << options.split(u' ') << u"-"_s;
    else
        args << options.split(u' ') << path;
    process.start(tool, args);
    const bool finished = process.waitForFinished(30000);
    if (errors)
        *errors = finished ? QString::fromLocal8Bit(process.readAllStandardError()) : tool;
    if (!finished || process.exitCode() != 0)
        return {};
    return process.readAllStandardOutput();
}

Probe probe(const QString& path) {
    Probe result;
    const QJsonObject root =
        QJsonDocument::fromJson(runTool(u"ffprobe"_s,
                                        u"-show_streams -show_format -show_packets -show_frames "
                                        "-of json"_s,
                                        path, &result.errors))
            .object();
    result.container = root[u"format"_s][u"format_name"_s].toString();
    result.duration = root[u"format"_s][u"duration"_s].toString().toDouble();
    for (const auto& s : root[u"streams"_s].toArray())
        result.streams.append({s[u"codec_name"_s].toString(),
                               s[u"codec_type"_s].toString(),
                               s.toObject(),
                               {},
                               0,
                               -1,
                               0});
    for (const auto& p : root[u"packets_and_frames"_s].toArray()) {
        Stream& s = result.streams[p[u"stream_index"_s].toInt()];
        const double at = p[u"pts_time"_s].toString().toDouble();
        if (p[u"type"_s].toString() == u"frame"_s) {
            s.firstDecoded = s.decoded++ ? s.firstDecoded : at;
        } else {
            s.packets.append(at);
            s.end = std::max(s.end, at + p[u"duration_time"_s].toString().toDouble());
        }
    }
    return result;
}

QPair<double, double> longestSilence(const QString& path, const Stream& audio, double after) {
    const QByteArray pcm = runTool(u"ffmpeg"_s, u"-map 0:a -f s16le -ac 1 -ar 22050"_s, path);
    const auto* samples = reinterpret_cast<const qint16*>(pcm.constData());
    constexpr int window = kRate / 100;
    QPair<double, double> best{-1, -1};
    double runStart = -1;
    for (qsizetype at = 0; at + window <= pcm.size() / 2; at += window) {
        double energy = 0;
        for (int i = 0; i < window; ++i)
            energy += double(samples[at + i]) * samples[at + i];
        const bool quiet = std::sqrt(energy / window) < 500;
        const double t = audio.firstDecoded + double(at) / kRate;
        if (quiet && runStart < 0 && t >= after)
            runStart = t;
        const bool last = at + 2 * window > pcm.size() / 2;
        if ((!quiet || last) && runStart >= 0) {
            const double end = quiet ? t + 0.01 : t;
            if (end - runStart > best.second - best.first)
                best = {runStart, end};
            runStart = -1;
        }
    }
    return best;
}
