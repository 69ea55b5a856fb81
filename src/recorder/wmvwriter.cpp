#include "recorder/wmvwriter.h"

#include "platform/alert.h"
#include "platform/helpers.h"
#include "recorder/wmvaudioencoder.h"
#include "recorder/wmvcontainer.h"
#include "recorder/wmvprofiles.h"
#include "recorder/wmvvideoencoder.h"

#include <QFile>

extern "C" {
#include <libavcodec/codec_par.h>
}

#include <algorithm>
#include <cstring>

namespace {

std::atomic<WriterFault> g_fault{WriterFault::None};

bool faulted(WriterFault fault) {
    return g_fault.load() == fault;
}

// Sound may stray this far from the frames before it is pulled back.
constexpr int kAudioToleranceMs = 40;
// Output paths longer than this are refused like a path that cannot be converted.
constexpr qsizetype kMaxPathCharacters = 2048;

} // namespace

const CWmvWriter::VideoHandler CWmvWriter::kVideoHandlers[3] = {
    &CWmvWriter::videoClosed, &CWmvWriter::videoBegun, &CWmvWriter::videoStreaming};
const CWmvWriter::AudioHandler CWmvWriter::kAudioHandlers[3] = {
    &CWmvWriter::audioClosed, &CWmvWriter::audioBegun, &CWmvWriter::audioStreaming};

void CWmvWriter::injectFault(WriterFault fault) {
    g_fault.store(fault);
}

CWmvWriter::CWmvWriter(const QString& path, const QString& profileId, int framesPerSecond,
                       TickSource ticks)
    : m_framesPerSecond(framesPerSecond), m_timeline(m_audioSamplesPerSecond, kAudioToleranceMs),
      m_ticks(ticks ? std::move(ticks) : TickSource(&GetTickCount)) {
    setError("Method Succeeded");
    std::lock_guard lock(m_mutex);
    open(path, profileId);
}

CWmvWriter::~CWmvWriter() {
    Close();
}

void CWmvWriter::setError(const char* text) {
    // The text is kept in a fixed 260-byte field: longer ones are cut.
    std::strncpy(m_errorText, text, sizeof m_errorText - 1);
    m_errorText[sizeof m_errorText - 1] = '\0';
}

QString CWmvWriter::errorText() const {
    std::lock_guard lock(m_mutex);
    return QString::fromUtf8(m_errorText);
}

bool CWmvWriter::step(bool ok, const char* failureText) {
    if (!ok) {
        setError(failureText);
        closeLocked();
    }
    return ok;
}

void CWmvWriter::open(const QString& path, const QString& profileId) {
    // The profile manager of the desktop platform has no counterpart here;
    // its steps can only fail when a test says so.
    if (!step(!faulted(WriterFault::CreateProfileManager),
              "Unable to Create WindowsMedia Profile Manager") ||
        !step(!faulted(WriterFault::QueryProfileManager2),
              "Unable to Query Interface for ProfileManager2") ||
        !step(!faulted(WriterFault::SetProfileVersion), "Unable to Set System Profile Version"))
        return;

    m_profile = faulted(WriterFault::LoadProfile) ? nullptr : findWmvProfile(profileId);
    if (!step(m_profile != nullptr, "Unable to Load System Profile"))
        return;

    m_container = std::make_unique<WmvContainer>();
    if (!step(!faulted(WriterFault::CreateWriter) && m_container->create(),
              "Unable to Create Media Writer Object") ||
        !step(!faulted(WriterFault::SetProfile) && addProfileStreams(),
              "Unable to Set System Profile") ||
        !step(!faulted(WriterFault::GetInputCount), "Unable to Get input count For Profile"))
        return;

    // Every input is looked at, so the sound is found whichever of the two
    // streams the profile lists first.
    const int count = m_container->streamCount();
    for (int i = 0; i < count; ++i) {
        const AVCodecParameters* props =
            faulted(WriterFault::GetInputProps) ? nullptr : m_container->streamParameters(i);
        if (!step(props != nullptr, "Unable to GetInput Properties") ||
            !step(!faulted(WriterFault::GetInputType), "Unable to Get Input Property Type"))
            return;
        if (props->codec_type == AVMEDIA_TYPE_VIDEO && m_videoInputIndex < 0)
            m_videoInputIndex = i;
        else if (props->codec_type == AVMEDIA_TYPE_AUDIO && m_audioInputIndex < 0)
            m_audioInputIndex = i;
    }
    if (!step(m_videoInputIndex >= 0, "Profile Does not Accept Video input"))
        return;

    // A path that does not survive the trip to the file system's encoding
    // would write somewhere else than asked.
    const QByteArray encoded = QFile::encodeName(path);
    const bool converted = !faulted(WriterFault::ConvertFilename) && !path.isEmpty() &&
                           path.size() <= kMaxPathCharacters && !path.contains(QChar(0)) &&
                           QFile::decodeName(encoded) == path;
    if (!step(converted, "Unable to Convert Output Filename") ||
        !step(!faulted(WriterFault::SetOutputFilename) && m_container->openFile(encoded),
              "Unable to Set Output Filename"))
        return;

    m_videoState = Begun;
    m_audioState = Begun;
    if (const char* failure = beginWriting()) {
        setError(failure);
        closeLocked();
    }
}

bool CWmvWriter::addProfileStreams() {
    int added = 0;
    for (int i = 0; i < m_profile->streamCount; ++i) {
        const WmvStreamFormat& stream = m_profile->streams[static_cast<std::size_t>(i)];
        const bool video = stream.media == WmvMedia::Video;
        if ((video && faulted(WriterFault::NoVideoInput)) ||
            (!video && faulted(WriterFault::NoAudioInput)))
            continue;
        if (!m_container->addStream(video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO, stream.codec))
            return false;
        m_streamFormats[static_cast<std::size_t>(added++)] = &stream;
    }
    return true;
}

const char* CWmvWriter::beginWriting() {
    std::array<AVCodecContext*, 2> encoders{};
    if (m_audioInputIndex >= 0) {
        const WmvStreamFormat& stream =
            *m_streamFormats[static_cast<std::size_t>(m_audioInputIndex)];
        if (faulted(WriterFault::AudioCodecNotInstalled) || !WmvAudioEncoder::installed(stream))
            return "Audio codec not installed. Unable to Begin Writing.";
        m_audio = std::make_unique<WmvAudioEncoder>();
        if (faulted(WriterFault::AudioCodecError) || !m_audio->open(stream))
            return "Audio codec error. Unable to Begin Writing.";
        encoders[static_cast<std::size_t>(m_audioInputIndex)] = m_audio->context();
    }
    const WmvStreamFormat& stream = *m_streamFormats[static_cast<std::size_t>(m_videoInputIndex)];
    m_video = std::make_unique<WmvVideoEncoder>();
    if (!m_video->open(stream, m_framesPerSecond))
        return "Unable to Initialize Writing";
    encoders[static_cast<std::size_t>(m_videoInputIndex)] = m_video->context();
    if (faulted(WriterFault::BeginWriting) ||
        !m_container->writeHeader(encoders.data(), m_container->streamCount()))
        return "Unable to Initialize Writing";
    return nullptr;
}

HRESULT CWmvWriter::WriteFrame(int width, int height, const unsigned char* pixels,
                               int bitsPerPixel) {
    std::lock_guard lock(m_mutex);
    // The handler is fetched first: a call straight through the indexed
    // table draws a false bounds report from the sanitizer build.
    const VideoHandler handler = kVideoHandlers[m_videoState];
    return (this->*handler)(Frame{width, height, pixels, bitsPerPixel});
}

HRESULT CWmvWriter::WriteAudio(const unsigned char* data, int byteCount) {
    HRESULT result = E_FAIL;
    QString alert;
    {
        std::lock_guard lock(m_mutex);
        const AudioHandler handler = kAudioHandlers[m_audioState];
        result = (this->*handler)(Sound{data, byteCount});
        alert.swap(m_pendingAlert);
    }
    // The alert may wait for the user on the UI thread, which may itself be
    // waiting for the lock to hand over a frame: so it is shown without it.
    if (!alert.isEmpty())
        showAlert(alert, QStringLiteral("Error"), AlertIcon::Error);
    return result;
}

bool CWmvWriter::Close() {
    std::lock_guard lock(m_mutex);
    closeLocked();
    return m_fileFinished;
}

void CWmvWriter::closeLocked() {
    if (m_videoState == Streaming && m_container) {
        bool flushed = m_video->flush(*m_container, m_videoInputIndex);
        if (m_audio)
            flushed = m_audio->flush(*m_container, m_audioInputIndex) && flushed;
        // A file that cannot be completed is removed rather than left half
        // written; the caller has nothing more to do about it.
        if (flushed)
            m_fileFinished = m_container->finish();
    }
    m_videoState = Closed;
    m_video.reset();
    m_audio.reset();
    m_container.reset();
}

HRESULT CWmvWriter::videoClosed(const Frame&) {
    return E_FAIL;
}

HRESULT CWmvWriter::videoBegun(const Frame& frame) {
    if (faulted(WriterFault::SetMediaType) ||
        !WmvVideoEncoder::acceptable(frame.width, frame.height, frame.pixels, frame.bitsPerPixel))
        return failVideo("Unable to Set Media Type");
    if (faulted(WriterFault::SetInputProps) ||
        !m_video->setInput(frame.width, frame.height, frame.bitsPerPixel))
        return failVideo("Unable to Set Input Properties for Media Writer");
    m_videoState = Streaming;
    return videoStreaming(frame);
}

HRESULT CWmvWriter::videoStreaming(const Frame& frame) {
    if (faulted(WriterFault::AllocateSample) || !m_video->allocate())
        return failVideo("Unable to Allocate Memory");
    if (faulted(WriterFault::LockBuffer) || !m_video->lock())
        return failVideo("Unable to Lock Buffer");

    // The clock follows the real time between deliveries, not the nominal
    // frame rate; the tick difference is taken in 32 bits so that it stays
    // right across the counter's wrap.
    const std::uint32_t now = m_ticks();
    const std::uint64_t previous = m_videoClock.load();
    const std::uint64_t clock = previous == 0 ? 1 : previous + (now - m_lastVideoTick);
    m_videoClock.store(clock);
    if (previous == 0)
        m_timeline.start(clock);
    // The file needs strictly rising times, even for frames handed over
    // within the same millisecond.
    const std::int64_t stamp = std::max(static_cast<std::int64_t>(clock), m_lastVideoStamp + 1);
    if (faulted(WriterFault::WriteSample) ||
        !m_video->write(frame.pixels, frame.width, frame.height, frame.bitsPerPixel, stamp,
                        *m_container, m_videoInputIndex))
        return failVideo("Unable to Write Frame");
    m_lastVideoStamp = stamp;
    m_lastVideoTick = now;
    return S_OK;
}

HRESULT CWmvWriter::failVideo(const char* text) {
    setError(text);
    closeLocked();
    return E_FAIL;
}

HRESULT CWmvWriter::audioClosed(const Sound&) {
    return E_FAIL;
}

HRESULT CWmvWriter::audioBegun(const Sound& sound) {
    if (m_audioInputIndex >= 0 && m_container) {
        const char* failure = nullptr;
        if (faulted(WriterFault::SetAudioMediaType) ||
            !m_audio->setInput(m_audioSamplesPerSecond, m_audioChannels, m_audioBitsPerSample))
            failure = "Unable to Set Audio Media Type";
        else if (faulted(WriterFault::SetAudioInputProps) || !m_audio->initInput())
            failure = "Unable to Set Audio Input Properties for Media Writer";
        if (failure) {
            setError(failure);
            m_pendingAlert = QString::fromLatin1(failure);
            closeLocked();
            return audioStreaming(sound);
        }
    }
    m_audioState = Streaming;
    return audioStreaming(sound);
}

HRESULT CWmvWriter::audioStreaming(const Sound& sound) {
    if (m_audioInputIndex < 0 || !m_container)
        return S_OK;
    if (faulted(WriterFault::AllocateAudioSample) || !m_audio->allocate()) {
        setError("Unable to Allocate Memory");
        return E_FAIL;
    }
    if (faulted(WriterFault::LockAudioBuffer) || !m_audio->lock()) {
        setError("Unable to Lock Buffer");
        return E_FAIL;
    }
    // Sound from before the first frame has no place in the file.
    const std::uint64_t clock = m_videoClock.load();
    if (clock == 0 || !sound.data || sound.byteCount < 0)
        return E_FAIL;
    const std::int64_t samples = sound.byteCount / m_audio->bytesPerInputSample();
    if (samples == 0)
        return S_OK;

    // Each buffer is placed on a continuous time line that starts with the
    // first frame, the first buffer at the frame time it is written at, and
    // is pulled back toward the frames when the two drift apart (lost
    // buffers, a device clock that runs fast or slow).
    const std::uint64_t now = clock + static_cast<std::uint32_t>(m_ticks() - m_lastVideoTick);
    const WmvAudioTimeline::Plan plan = m_timeline.plan(samples, clock, now);
    const std::int64_t kept = samples - plan.skip;
    const unsigned char* first = sound.data + plan.skip * m_audio->bytesPerInputSample();
    if (faulted(WriterFault::WriteAudioSample) ||
        !m_audio->write(first, kept, plan.silence, m_timeline.position(), *m_container,
                        m_audioInputIndex))
        return E_FAIL;
    m_timeline.advance(plan.silence + kept);
    return S_OK;
}
