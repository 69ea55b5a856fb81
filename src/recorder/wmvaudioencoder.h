#pragma once

#include <cstdint>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;
struct WmvStreamFormat;
class WmvContainer;

// The sound stream: converts captured PCM to the encoder's sample layout
// straight into the encoder's frame (the one copy a buffer gets), and hands
// the encoder whole frames in its own frame size.
class WmvAudioEncoder {
public:
    WmvAudioEncoder() = default;
    ~WmvAudioEncoder();
    WmvAudioEncoder(const WmvAudioEncoder&) = delete;
    WmvAudioEncoder& operator=(const WmvAudioEncoder&) = delete;

    static bool installed(const WmvStreamFormat& stream);
    bool open(const WmvStreamFormat& stream);
    AVCodecContext* context() const { return m_codec; }
    int sampleRate() const;

    // Declares the captured format; the profile's rate must match it, so
    // only the sample layout is converted.
    bool setInput(int sampleRate, int channels, int bitsPerSample);
    bool initInput();
    int bytesPerInputSample() const { return m_inputSampleBytes; }

    // The frame the next samples go into, then made writable.
    bool allocate();
    bool lock();
    // Places `silence` samples of silence and then `count` samples of data on
    // the time line, starting at sample `position`.
    bool write(const std::uint8_t* data, std::int64_t count, std::int64_t silence,
               std::int64_t position, WmvContainer& container, int streamIndex);
    // Silence completes the last frame and pushes the encoder's delay out, so
    // the last captured samples reach the file; then the encoder is drained.
    bool flush(WmvContainer& container, int streamIndex);

private:
    bool place(const std::uint8_t* data, std::int64_t count, std::int64_t silence,
               WmvContainer& container, int streamIndex);
    std::uint8_t** planesAt(int offset, std::uint8_t** planes) const;
    bool sendFrame(WmvContainer& container, int streamIndex);
    bool drain(WmvContainer& container, int streamIndex);

    AVCodecContext* m_codec = nullptr;
    SwrContext* m_converter = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    int m_frameSize = 0;
    int m_fill = 0;             // samples already in m_frame
    std::int64_t m_nextPts = 0; // time line position of the next sample
    bool m_placed = false;      // any sample went in
    int m_inputSampleBytes = 0;
};
