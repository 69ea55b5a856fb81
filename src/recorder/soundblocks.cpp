#include "recorder/soundblocks.h"

#include <QIODevice>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>

namespace {

// Converted sound is taken in pieces of at most this many sample frames, so
// the output room is fixed in advance.
constexpr int kChunkFrames = 4096;
// Room for what the resampler holds back between pieces.
constexpr int kConverterSlack = 1024;
constexpr int kLowestRate = 1000;
constexpr int kHighestRate = 384000;

AVSampleFormat sampleFormatOf(QAudioFormat::SampleFormat format) {
    switch (format) {
    case QAudioFormat::UInt8:
        return AV_SAMPLE_FMT_U8;
    case QAudioFormat::Int16:
        return AV_SAMPLE_FMT_S16;
    case QAudioFormat::Int32:
        return AV_SAMPLE_FMT_S32;
    case QAudioFormat::Float:
        return AV_SAMPLE_FMT_FLT;
    default:
        return AV_SAMPLE_FMT_NONE;
    }
}

} // namespace

QAudioFormat soundFormat(int sampleRate, int channels, QAudioFormat::SampleFormat sampleFormat) {
    QAudioFormat format;
    format.setSampleRate(sampleRate);
    format.setChannelCount(channels);
    format.setSampleFormat(sampleFormat);
    return format;
}

QAudioFormat recordingSoundFormat() {
    return soundFormat(kSoundSampleRate, 1, QAudioFormat::UInt8);
}

bool SoundBlocks::convertible(const QAudioFormat& format) {
    return format.isValid() && sampleFormatOf(format.sampleFormat()) != AV_SAMPLE_FMT_NONE &&
           format.sampleRate() >= kLowestRate && format.sampleRate() <= kHighestRate &&
           format.bytesPerFrame() <= kMaxFrameBytes;
}

SoundBlocks::SoundBlocks(const QAudioFormat& input, Sink sink) : m_sink(std::move(sink)) {
    if (!convertible(input))
        return;
    m_inputFrameBytes = input.bytesPerFrame();
    m_native = input.sampleRate() == kSoundSampleRate && input.channelCount() == 1 &&
               input.sampleFormat() == QAudioFormat::UInt8;
    if (!m_native) {
        AVChannelLayout from{};
        AVChannelLayout to{};
        av_channel_layout_default(&from, input.channelCount());
        av_channel_layout_default(&to, 1);
        const int made = swr_alloc_set_opts2(&m_converter, &to, AV_SAMPLE_FMT_U8, kSoundSampleRate,
                                             &from, sampleFormatOf(input.sampleFormat()),
                                             input.sampleRate(), 0, nullptr);
        av_channel_layout_uninit(&from);
        av_channel_layout_uninit(&to);
        if (made < 0 || swr_init(m_converter) < 0) {
            swr_free(&m_converter);
            return;
        }
        m_converted.resize(static_cast<std::size_t>(
            av_rescale_rnd(kChunkFrames, kSoundSampleRate, input.sampleRate(), AV_ROUND_UP) +
            kConverterSlack));
        m_captured.resize(static_cast<std::size_t>(kChunkFrames) * m_inputFrameBytes);
    }
    m_valid = true;
}

SoundBlocks::~SoundBlocks() {
    swr_free(&m_converter);
}

void SoundBlocks::push(const char* data, std::int64_t size) {
    if (!m_valid || !data || size <= 0)
        return;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
    if (m_partialBytes > 0) {
        const auto take =
            static_cast<int>(std::min<std::int64_t>(m_inputFrameBytes - m_partialBytes, size));
        std::memcpy(m_partial.data() + m_partialBytes, bytes, static_cast<std::size_t>(take));
        m_partialBytes += take;
        bytes += take;
        size -= take;
        if (m_partialBytes < m_inputFrameBytes)
            return;
        pushFrames(m_partial.data(), 1);
        m_partialBytes = 0;
    }
    for (std::int64_t frames = size / m_inputFrameBytes; frames > 0;) {
        const int count = static_cast<int>(std::min<std::int64_t>(frames, kChunkFrames));
        pushFrames(bytes, count);
        bytes += std::int64_t(count) * m_inputFrameBytes;
        frames -= count;
    }
    m_partialBytes = static_cast<int>(size % m_inputFrameBytes);
    std::memcpy(m_partial.data(), bytes, static_cast<std::size_t>(m_partialBytes));
}

void SoundBlocks::readFrom(QIODevice& device) {
    if (!m_valid)
        return;
    for (;;) {
        if (m_native) {
            auto* room = reinterpret_cast<char*>(m_block.data() + m_fill);
            const qint64 read = device.read(room, kSoundBlockBytes - m_fill);
            if (read <= 0)
                return;
            m_fill += static_cast<int>(read);
            if (m_fill == kSoundBlockBytes) {
                m_fill = 0;
                m_sink(m_block.data(), kSoundBlockBytes);
            }
        } else {
            const qint64 read = device.read(m_captured.data(), qint64(m_captured.size()));
            if (read <= 0)
                return;
            push(m_captured.data(), read);
        }
    }
}

void SoundBlocks::pushFrames(const std::uint8_t* frames, int count) {
    if (m_native) {
        collect(frames, count);
        return;
    }
    std::uint8_t* out = m_converted.data();
    const int made =
        swr_convert(m_converter, &out, static_cast<int>(m_converted.size()), &frames, count);
    if (made > 0)
        collect(out, made);
}

void SoundBlocks::collect(const std::uint8_t* samples, int count) {
    while (count > 0) {
        const int take = std::min(count, kSoundBlockBytes - m_fill);
        std::memcpy(m_block.data() + m_fill, samples, static_cast<std::size_t>(take));
        m_fill += take;
        samples += take;
        count -= take;
        if (m_fill == kSoundBlockBytes) {
            m_fill = 0;
            m_sink(m_block.data(), kSoundBlockBytes);
        }
    }
}
