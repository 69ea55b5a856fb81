#include "recorder/wmvvideoencoder.h"

#include "recorder/wmvcontainer.h"
#include "recorder/wmvprofiles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace {
// Frames larger than this in either direction are refused rather than
// trusted: the byte count of a frame is computed from its size.
constexpr int kMaxSide = 8192;
} // namespace

WmvVideoEncoder::~WmvVideoEncoder() {
    av_packet_free(&m_packet);
    av_frame_free(&m_picture);
    sws_freeContext(m_scaler);
    avcodec_free_context(&m_codec);
}

AVPixelFormat WmvVideoEncoder::inputLayout(int bitsPerPixel) {
    switch (bitsPerPixel) {
    case 32:
        return AV_PIX_FMT_BGR0;
    case 24:
        return AV_PIX_FMT_BGR24;
    case 16:
        return AV_PIX_FMT_RGB555LE;
    case 8:
        // No palette travels with a frame, so 8-bit pixels are grey levels.
        return AV_PIX_FMT_GRAY8;
    default:
        return AV_PIX_FMT_NONE;
    }
}

bool WmvVideoEncoder::acceptable(int width, int height, const unsigned char* pixels,
                                 int bitsPerPixel) {
    return pixels && inputLayout(bitsPerPixel) != AV_PIX_FMT_NONE && width > 0 && height > 0 &&
           width <= kMaxSide && height <= kMaxSide;
}

bool WmvVideoEncoder::open(const WmvStreamFormat& stream, int framesPerSecond) {
    const AVCodec* codec = avcodec_find_encoder_by_name(stream.codec);
    if (!codec || m_codec)
        return false;
    m_codec = avcodec_alloc_context3(codec);
    m_packet = av_packet_alloc();
    if (!m_codec || !m_packet)
        return false;
    const int fps = framesPerSecond > 0 ? framesPerSecond : 1;
    m_codec->width = stream.width;
    m_codec->height = stream.height;
    m_codec->pix_fmt = AV_PIX_FMT_YUV420P;
    m_codec->bit_rate = stream.bitRate;
    // Frames are stamped with the real time they were delivered at, in
    // milliseconds; the nominal rate only sets the bit budget per frame.
    m_codec->time_base = AVRational{1, 1000};
    m_codec->framerate = AVRational{fps, 1};
#ifndef FF_API_TICKS_PER_FRAME
    // This generation of the library sizes the bit budget of a frame from the
    // time base alone; ticks per frame turns milliseconds back into frames.
    m_codec->ticks_per_frame = 1000 / fps;
#endif
    m_codec->gop_size = fps;
    m_codec->max_b_frames = 0;
    m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    m_frameDuration = 1000 / fps;
    return avcodec_open2(m_codec, codec, nullptr) >= 0;
}

bool WmvVideoEncoder::setInput(int width, int height, int bitsPerPixel) {
    if (!m_codec)
        return false;
    m_scaler = sws_getCachedContext(m_scaler, width, height, inputLayout(bitsPerPixel),
                                    m_codec->width, m_codec->height, m_codec->pix_fmt, SWS_BILINEAR,
                                    nullptr, nullptr, nullptr);
    return m_scaler != nullptr;
}

bool WmvVideoEncoder::allocate() {
    if (!m_codec)
        return false;
    if (!m_picture)
        m_picture = av_frame_alloc();
    if (!m_picture)
        return false;
    // The encoder may still hold the previous picture as its reference, so
    // every frame gets its own buffer instead of overwriting that one.
    av_frame_unref(m_picture);
    m_picture->format = m_codec->pix_fmt;
    m_picture->width = m_codec->width;
    m_picture->height = m_codec->height;
    return av_frame_get_buffer(m_picture, 0) >= 0;
}

bool WmvVideoEncoder::lock() {
    return m_picture && m_picture->data[0] && av_frame_make_writable(m_picture) >= 0;
}

bool WmvVideoEncoder::write(const unsigned char* pixels, int width, int height, int bitsPerPixel,
                            std::int64_t ms, WmvContainer& container, int streamIndex) {
    if (!acceptable(width, height, pixels, bitsPerPixel) || !m_picture ||
        !setInput(width, height, bitsPerPixel))
        return false;
    // Bottom-up rows: start at the last row in memory and walk backwards.
    const int stride = width * (bitsPerPixel / 8);
    const std::uint8_t* source[4] = {pixels + static_cast<std::ptrdiff_t>(height - 1) * stride,
                                     nullptr, nullptr, nullptr};
    const int sourceStride[4] = {-stride, 0, 0, 0};
    if (sws_scale(m_scaler, source, sourceStride, 0, height, m_picture->data,
                  m_picture->linesize) != m_codec->height)
        return false;
    m_picture->pts = ms;
    if (avcodec_send_frame(m_codec, m_picture) < 0)
        return false;
    return drain(container, streamIndex);
}

bool WmvVideoEncoder::flush(WmvContainer& container, int streamIndex) {
    if (!m_codec || avcodec_send_frame(m_codec, nullptr) < 0)
        return false;
    return drain(container, streamIndex);
}

bool WmvVideoEncoder::drain(WmvContainer& container, int streamIndex) {
    for (;;) {
        const int result = avcodec_receive_packet(m_codec, m_packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return true;
        if (result < 0)
            return false;
        m_packet->duration = m_frameDuration;
        if (!container.writePacket(m_packet, m_codec->time_base, streamIndex))
            return false;
    }
}
