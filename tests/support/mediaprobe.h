#pragma once

#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

// What ffprobe and ffmpeg make of a written media file, for tests that
// check the files the recorder writes.

// Runs ffmpeg or ffprobe quietly on the file; standard output, or nothing on failure.
QByteArray runTool(const QString& tool, const QString& options, const QString& path,
                   QString* errors = nullptr);

struct Stream {
    QString codec;
    QString type;
    QJsonObject fields;
    QList<double> packets; // presentation times, seconds
    double end = 0;        // last packet time plus its duration
    double firstDecoded = -1;
    int decoded = 0;
};

// What ffprobe makes of a file. It decodes every packet on the way, so a
// file that probes without complaint also plays.
struct Probe {
    QString errors = QStringLiteral("not probed");
    QString container;
    double duration = 0;
    QList<Stream> streams;
    const Stream* stream(const QString& type) const {
        for (const Stream& s : streams)
            if (s.type == type)
                return &s;
        return nullptr;
    }
};

Probe probe(const QString& path);

// The longest quiet run in the decoded sound at or after `after`, as
// [from, to) in file seconds; {-1, -1} when there is none. The decoder turns
// the encoder's priming packet into nothing, so the sound starts at the first
// decoded frame, not at the first packet.
QPair<double, double> longestSilence(const QString& path, const Stream& audio, double after);
