#pragma once

#include "platform/hresult.h"
#include "recorder/wmvaudiotimeline.h"

#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class WmvAudioEncoder;
class WmvContainer;
class WmvVideoEncoder;
struct WmvProfile;
struct WmvStreamFormat;

// Points where a test can make the writer fail, one for each failure text.
// Several stand for opening steps that have no way of failing here on their
// own; NoVideoInput and NoAudioInput leave that stream out of the profile.
enum class WriterFault {
    None,
    CreateProfileManager,
    QueryProfileManager2,
    SetProfileVersion,
    LoadProfile,
    CreateWriter,
    SetProfile,
    GetInputCount,
    GetInputProps,
    GetInputType,
    NoVideoInput,
    NoAudioInput,
    ConvertFilename,
    SetOutputFilename,
    AudioCodecError,
    AudioCodecNotInstalled,
    BeginWriting,
    SetMediaType,
    SetInputProps,
    AllocateSample,
    LockBuffer,
    WriteSample,
    SetAudioMediaType,
    SetAudioInputProps,
    AllocateAudioSample,
    LockAudioBuffer,
    WriteAudioSample,
};

// Writes one recording, frames from the webcam and sound from the
// microphone, into a Windows Media file. Nothing throws: every write returns
// S_OK or E_FAIL and leaves a text for the caller to show. An opening failure
// surfaces at the first frame. The file appears at its path only when Close
// finishes it, which needs at least one frame.
//
// Frames arrive on the UI thread and sound on the audio thread; one mutex
// guards the container, the encoders, the stream states and the text. The
// video clock is also kept atomic, so it can be read from any thread.
class CWmvWriter {
public:
    // Milliseconds from an arbitrary start, wrapping at 32 bits.
    using TickSource = std::function<std::uint32_t()>;

    // profileId names a system profile, e.g. "{29B00C2B-09A9-48BD-AD09-CDAE117D1DA7}".
    // Without a tick source the writer follows GetTickCount().
    CWmvWriter(const QString& path, const QString& profileId, int framesPerSecond,
               TickSource ticks = {});
    ~CWmvWriter();
    CWmvWriter(const CWmvWriter&) = delete;
    CWmvWriter& operator=(const CWmvWriter&) = delete;

    // A bottom-up frame of width × height pixels at 32, 24, 16 or 8 bits per
    // pixel, rows packed (width × bytes per pixel each). Frames of another
    // size than the profile's are scaled to it.
    HRESULT WriteFrame(int width, int height, const unsigned char* pixels, int bitsPerPixel);
    // 8-bit unsigned mono PCM at 22,050 samples per second.
    HRESULT WriteAudio(const unsigned char* data, int byteCount);
    // Finishes the file if a frame format was declared; harmless when
    // repeated. True once this writer has put a complete file at its path,
    // false for a recording that failed or never got a frame (nothing of it,
    // nor of an earlier recording, is left at the path then).
    bool Close();
    QString errorText() const;
    // Presentation time of the latest frame in milliseconds; 0 before the first.
    std::uint64_t videoClock() const { return m_videoClock.load(); }

    // For tests: every writer fails at this point until it is set back to None.
    static void injectFault(WriterFault fault);

private:
    enum StreamState : int { Closed = 0, Begun = 1, Streaming = 2 };
    struct Frame {
        int width;
        int height;
        const unsigned char* pixels;
        int bitsPerPixel;
    };
    struct Sound {
        const unsigned char* data;
        int byteCount;
    };
    using VideoHandler = HRESULT (CWmvWriter::*)(const Frame&);
    using AudioHandler = HRESULT (CWmvWriter::*)(const Sound&);
    static const VideoHandler kVideoHandlers[3];
    static const AudioHandler kAudioHandlers[3];

    void open(const QString& path, const QString& profileId);
    bool addProfileStreams();
    const char* beginWriting();
    bool step(bool ok, const char* failureText);
    void setError(const char* text);
    void closeLocked();

    HRESULT videoClosed(const Frame& frame);
    HRESULT videoBegun(const Frame& frame);
    HRESULT videoStreaming(const Frame& frame);
    HRESULT failVideo(const char* text);
    HRESULT audioClosed(const Sound& sound);
    HRESULT audioBegun(const Sound& sound);
    HRESULT audioStreaming(const Sound& sound);

    mutable std::mutex m_mutex;
    const WmvProfile* m_profile = nullptr;
    std::unique_ptr<WmvContainer> m_container; // null once closed
    std::unique_ptr<WmvVideoEncoder> m_video;
    std::unique_ptr<WmvAudioEncoder> m_audio;
    std::array<const WmvStreamFormat*, 2> m_streamFormats{};
    char m_errorText[260] = {};
    int m_videoInputIndex = -1;
    int m_audioInputIndex = -1;
    int m_framesPerSecond;
    int m_audioSamplesPerSecond = 22050;
    int m_audioChannels = 1;
    int m_audioBitsPerSample = 8;
    std::uint32_t m_lastVideoTick = 0;
    std::atomic<std::uint64_t> m_videoClock{0};
    std::int64_t m_lastVideoStamp = 0;
    int m_videoState = Closed;
    int m_audioState = Closed;
    bool m_fileFinished = false;
    WmvAudioTimeline m_timeline;
    TickSource m_ticks;
    QString m_pendingAlert; // shown once the lock is released
};
