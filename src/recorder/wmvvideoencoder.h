#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/pixfmt.h>
}

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;
struct WmvStreamFormat;
class WmvContainer;

// The picture stream: takes bottom-up packed frames (rows of width × bytes per
// pixel, the last row first), converts and scales them to the profile's size
// and compresses them into the container.
class WmvVideoEncoder {
public:
    WmvVideoEncoder() = default;
    ~WmvVideoEncoder();
    WmvVideoEncoder(const WmvVideoEncoder&) = delete;
    WmvVideoEncoder& operator=(const WmvVideoEncoder&) = delete;

    // The pixel layout of a frame of this depth; AV_PIX_FMT_NONE when the
    // depth is not one of 32, 24, 16 or 8.
    static AVPixelFormat inputLayout(int bitsPerPixel);
    // A frame the encoder can take: a known depth, a sane size and pixels.
    static bool acceptable(int width, int height, const unsigned char* pixels, int bitsPerPixel);

    bool open(const WmvStreamFormat& stream, int framesPerSecond);
    AVCodecContext* context() const { return m_codec; }

    // Prepares the converter for frames of this shape.
    bool setInput(int width, int height, int bitsPerPixel);
    // A fresh picture for the next frame, then made writable.
    bool allocate();
    bool lock();
    // Converts the frame into the picture and encodes it stamped at ms.
    bool write(const unsigned char* pixels, int width, int height, int bitsPerPixel,
               std::int64_t ms, WmvContainer& container, int streamIndex);
    bool flush(WmvContainer& container, int streamIndex);

private:
    bool drain(WmvContainer& container, int streamIndex);

    AVCodecContext* m_codec = nullptr;
    SwsContext* m_scaler = nullptr;
    AVFrame* m_picture = nullptr;
    AVPacket* m_packet = nullptr;
    std::int64_t m_frameDuration = 0;
};
