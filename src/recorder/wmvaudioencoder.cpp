#include "recorder/wmvaudioencoder.h"

#include "recorder/wmvcontainer.h"
#include "recorder/wmvprofiles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>

namespace {
// Used only by encoders that take frames of any length.
constexpr int kDefaultFrameSize = 1024;
} // namespace

WmvAudioEncoder::~WmvAudioEncoder() {
    av_packet_free(&m_packet);
    av_frame_free(&m_frame);
    swr_free(&m_converter);
    avcodec_free_context(&m_codec);
}

bool WmvAudioEncoder::installed(const WmvStreamFormat& stream) {
    return avcodec_find_encoder_by_name(stream.codec) != nullptr;
}

bool WmvAudioEncoder::open(const WmvStreamFormat& stream) {
    const AVCodec* codec = avcodec_find_encoder_by_name(stream.codec);
    if (!codec || m_codec)
        return false;
    m_codec = avcodec_alloc_context3(codec);
    m_packet = av_packet_alloc();
    m_frame = av_frame_alloc();
    if (!m_codec || !m_packet || !m_frame)
        return false;
    m_codec->sample_rate = stream.sampleRate;
    m_codec->bit_rate = stream.bitRate;
    av_channel_layout_default(&m_codec->ch_layout, stream.channels);
    m_codec->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    m_codec->time_base = AVRational{1, stream.sampleRate};
    m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(m_codec, codec, nullptr) < 0)
        return false;
    m_frameSize = m_codec->frame_size > 0 ? m_codec->frame_size : kDefaultFrameSize;
    return true;
}

int WmvAudioEncoder::sampleRate() const {
    return m_codec ? m_codec->sample_rate : 0;
}

bool WmvAudioEncoder::setInput(int sampleRate, int channels, int bitsPerSample) {
    if (!m_codec || m_converter || sampleRate != m_codec->sample_rate || channels <= 0)
        return false;
    AVSampleFormat format = AV_SAMPLE_FMT_NONE;
    if (bitsPerSample == 8)
        format = AV_SAMPLE_FMT_U8;
    else if (bitsPerSample == 16)
        format = AV_SAMPLE_FMT_S16;
    else
        return false;
    AVChannelLayout layout;
    av_channel_layout_default(&layout, channels);
    const int result =
        swr_alloc_set_opts2(&m_converter, &m_codec->ch_layout, m_codec->sample_fmt,
                            m_codec->sample_rate, &layout, format, sampleRate, 0, nullptr);
    av_channel_layout_uninit(&layout);
    m_inputSampleBytes = channels * (bitsPerSample / 8);
    return result >= 0 && m_converter;
}

bool WmvAudioEncoder::initInput() {
    return m_converter && swr_init(m_converter) >= 0;
}

bool WmvAudioEncoder::allocate() {
    if (!m_frame)
        return false;
    if (m_frame->data[0])
        return true;
    m_frame->format = m_codec->sample_fmt;
    m_frame->nb_samples = m_frameSize;
    m_frame->sample_rate = m_codec->sample_rate;
    if (av_channel_layout_copy(&m_frame->ch_layout, &m_codec->ch_layout) < 0)
        return false;
    m_fill = 0;
    return av_frame_get_buffer(m_frame, 0) >= 0;
}

bool WmvAudioEncoder::lock() {
    return m_frame && m_frame->data[0] && av_frame_make_writable(m_frame) >= 0;
}

std::uint8_t** WmvAudioEncoder::planesAt(int offset, std::uint8_t** planes) const {
    const int channels = m_codec->ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(m_codec->sample_fmt) != 0;
    const int sampleBytes = av_get_bytes_per_sample(m_codec->sample_fmt);
    const int count = planar ? channels : 1;
    const int step = planar ? sampleBytes : sampleBytes * channels;
    for (int p = 0; p < count && p < AV_NUM_DATA_POINTERS; ++p)
        planes[p] = m_frame->extended_data[p] + static_cast<std::ptrdiff_t>(offset) * step;
    return planes;
}

bool WmvAudioEncoder::write(const std::uint8_t* data, std::int64_t count, std::int64_t silence,
                            std::int64_t position, WmvContainer& container, int streamIndex) {
    if (!m_converter)
        return false;
    if (m_fill == 0)
        m_nextPts = position;
    return place(data, count, silence, container, streamIndex);
}

bool WmvAudioEncoder::flush(WmvContainer& container, int streamIndex) {
    if (!m_codec)
        return false;
    if (m_placed) {
        const std::int64_t tail = (m_frameSize - m_fill) % m_frameSize + m_codec->initial_padding;
        if (!place(nullptr, 0, tail, container, streamIndex))
            return false;
    }
    if (avcodec_send_frame(m_codec, nullptr) < 0)
        return false;
    return drain(container, streamIndex);
}

bool WmvAudioEncoder::place(const std::uint8_t* data, std::int64_t count, std::int64_t silence,
                            WmvContainer& container, int streamIndex) {
    std::uint8_t* planes[AV_NUM_DATA_POINTERS] = {};
    while (silence > 0 || count > 0) {
        if (!allocate() || !lock())
            return false;
        if (m_fill == 0)
            m_frame->pts = m_nextPts;
        const int space = m_frameSize - m_fill;
        int n = 0;
        if (silence > 0) {
            n = static_cast<int>(std::min<std::int64_t>(silence, space));
            av_samples_set_silence(planesAt(m_fill, planes), 0, n, m_codec->ch_layout.nb_channels,
                                   m_codec->sample_fmt);
            silence -= n;
        } else {
            n = static_cast<int>(std::min<std::int64_t>(count, space));
            const std::uint8_t* input[1] = {data};
            if (swr_convert(m_converter, planesAt(m_fill, planes), n, input, n) != n)
                return false;
            count -= n;
            data += static_cast<std::ptrdiff_t>(n) * m_inputSampleBytes;
        }
        m_fill += n;
        m_nextPts += n;
        m_placed = true;
        if (m_fill == m_frameSize && !sendFrame(container, streamIndex))
            return false;
    }
    return true;
}

bool WmvAudioEncoder::sendFrame(WmvContainer& container, int streamIndex) {
    const int result = avcodec_send_frame(m_codec, m_frame);
    // The encoder keeps its own reference if it needs one; the next samples
    // go into a fresh buffer.
    av_frame_unref(m_frame);
    m_fill = 0;
    return result >= 0 && drain(container, streamIndex);
}

bool WmvAudioEncoder::drain(WmvContainer& container, int streamIndex) {
    for (;;) {
        const int result = avcodec_receive_packet(m_codec, m_packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return true;
        if (result < 0)
            return false;
        if (!container.writePacket(m_packet, m_codec->time_base, streamIndex))
            return false;
    }
}
