#pragma once

#include <QByteArray>

extern "C" {
#include <libavutil/avutil.h>
}

struct AVCodecContext;
struct AVCodecParameters;
struct AVFormatContext;
struct AVPacket;
struct AVStream;

// The ASF file one recording goes into. The file is written under a
// temporary name beside the final one and renamed into place only once it
// is complete, so the final name never holds a half-written recording.
class WmvContainer {
public:
    WmvContainer() = default;
    ~WmvContainer(); // an unfinished file is removed
    WmvContainer(const WmvContainer&) = delete;
    WmvContainer& operator=(const WmvContainer&) = delete;

    bool create();
    // A stream for the named codec; its parameters are taken from the
    // encoder when the header is written.
    bool addStream(AVMediaType type, const char* codecName);
    int streamCount() const;
    // The codec parameters of stream i, or null when there is none.
    const AVCodecParameters* streamParameters(int index) const;

    // Opens the temporary file for the final path; any earlier file at the
    // final path is removed once the new one can be written, so a failed
    // recording never leaves an older one behind to be sent in its place.
    bool openFile(const QByteArray& finalPath);
    bool writeHeader(AVCodecContext* const* encoders, int count);
    // Takes the packet's payload; timestamps are in the encoder's time base.
    bool writePacket(AVPacket* packet, AVRational from, int streamIndex);
    // Trailer, flush to disk, rename into place. False leaves nothing behind.
    bool finish();

private:
    void abandon();

    AVFormatContext* m_format = nullptr;
    QByteArray m_finalPath;
    QByteArray m_tempPath;
    bool m_headerWritten = false;
};
