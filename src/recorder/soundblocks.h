#pragma once

#include <QAudioFormat>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

class QIODevice;
struct SwrContext;

// The sound a recording is written with: 8-bit unsigned mono PCM at 22,050
// samples per second, handed over in blocks of 600 bytes (about 27 ms). The
// device keeps a ring of 20 such blocks, about 0.54 s.
inline constexpr int kSoundSampleRate = 22050;
inline constexpr int kSoundBlockBytes = 600;
inline constexpr int kSoundBlockCount = 20;

QAudioFormat soundFormat(int sampleRate, int channels, QAudioFormat::SampleFormat sampleFormat);
QAudioFormat recordingSoundFormat();

// Cuts captured sound into full blocks of the recording format and hands
// each one to the sink as soon as it is full. Sound from a device that
// refuses the recording format arrives in whatever format it gives and is
// resampled, mixed down to one channel and narrowed to 8 bits on the way.
// Nothing is allocated once constructed, so capture never waits on the heap.
class SoundBlocks {
public:
    using Sink = std::function<void(const unsigned char* block, int byteCount)>;

    // Interleaved unsigned 8, signed 16 and 32 bit and float samples, at any
    // rate and channel count, can be taken.
    static bool convertible(const QAudioFormat& format);

    SoundBlocks(const QAudioFormat& input, Sink sink);
    ~SoundBlocks();
    SoundBlocks(const SoundBlocks&) = delete;
    SoundBlocks& operator=(const SoundBlocks&) = delete;

    // False when the input format cannot be taken; push() then drops everything.
    bool valid() const { return m_valid; }
    // Bytes in the input format, in pieces of any size: a sample frame split
    // between two pieces is joined up.
    void push(const char* data, std::int64_t size);
    // Takes everything the device has to give. Sound in the recording format
    // is read straight into the block, so the writer's is its only copy.
    void readFrom(QIODevice& device);

private:
    void pushFrames(const std::uint8_t* frames, int count);
    void collect(const std::uint8_t* samples, int count);

    Sink m_sink;
    bool m_valid = false;
    bool m_native = false;
    int m_inputFrameBytes = 1;
    SwrContext* m_converter = nullptr;
    std::vector<std::uint8_t> m_converted;
    std::vector<char> m_captured;             // what is read from a device before conversion
    static constexpr int kMaxFrameBytes = 64; // 16 channels of 32-bit samples
    std::array<std::uint8_t, kMaxFrameBytes> m_partial{}; // the start of a split sample frame
    int m_partialBytes = 0;
    std::array<unsigned char, kSoundBlockBytes> m_block{};
    int m_fill = 0;
};
