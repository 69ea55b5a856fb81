#include "recorder/wmvcontainer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

WmvContainer::~WmvContainer() {
    abandon();
}

bool WmvContainer::create() {
    return avformat_alloc_output_context2(&m_format, nullptr, "asf", nullptr) >= 0 && m_format;
}

bool WmvContainer::addStream(AVMediaType type, const char* codecName) {
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get_by_name(codecName);
    if (!m_format || !descriptor || descriptor->type != type)
        return false;
    AVStream* stream = avformat_new_stream(m_format, nullptr);
    if (!stream)
        return false;
    stream->codecpar->codec_type = type;
    stream->codecpar->codec_id = descriptor->id;
    return true;
}

int WmvContainer::streamCount() const {
    return m_format ? static_cast<int>(m_format->nb_streams) : 0;
}

const AVCodecParameters* WmvContainer::streamParameters(int index) const {
    if (index < 0 || index >= streamCount())
        return nullptr;
    return m_format->streams[index]->codecpar;
}

bool WmvContainer::openFile(const QByteArray& finalPath) {
    if (!m_format || m_format->pb)
        return false;
    m_finalPath = finalPath;
    m_tempPath = finalPath + ".part";
    // A recording is for its sender's eyes only: the file is made 0600
    // before the muxer opens it, whatever the umask, and a link in its
    // place is never followed.
    const int fd =
        ::open(m_tempPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    const bool ours = fd >= 0 && ::fchmod(fd, 0600) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!ours || avio_open(&m_format->pb, m_tempPath.constData(), AVIO_FLAG_WRITE) < 0) {
        if (fd >= 0)
            std::remove(m_tempPath.constData());
        m_tempPath.clear();
        return false;
    }
    std::remove(m_finalPath.constData());
    return true;
}

bool WmvContainer::writeHeader(AVCodecContext* const* encoders, int count) {
    if (!m_format || !m_format->pb || count != streamCount())
        return false;
    for (int i = 0; i < count; ++i) {
        if (!encoders[i] ||
            avcodec_parameters_from_context(m_format->streams[i]->codecpar, encoders[i]) < 0)
            return false;
        m_format->streams[i]->time_base = encoders[i]->time_base;
    }
    // Times go into the file as the writer's clock gives them. The sound
    // encoder's first packet starts a little before the first frame (its
    // priming samples); the container keeps such times ahead of its preroll,
    // so nothing is shifted and a frame stamped 1 ms stays at 1 ms.
    m_format->avoid_negative_ts = AVFMT_AVOID_NEG_TS_DISABLED;
    if (avformat_write_header(m_format, nullptr) < 0)
        return false;
    m_headerWritten = true;
    return true;
}

bool WmvContainer::writePacket(AVPacket* packet, AVRational from, int streamIndex) {
    if (!m_headerWritten || streamIndex < 0 || streamIndex >= streamCount()) {
        av_packet_unref(packet);
        return false;
    }
    packet->stream_index = streamIndex;
    av_packet_rescale_ts(packet, from, m_format->streams[streamIndex]->time_base);
    return av_interleaved_write_frame(m_format, packet) >= 0;
}

bool WmvContainer::finish() {
    if (!m_headerWritten)
        return false;
    m_headerWritten = false;
    bool ok = av_write_trailer(m_format) >= 0;
    ok = avio_closep(&m_format->pb) >= 0 && ok;
    if (ok) {
        // The bytes must be on disk before the name points at them.
        const int fd = ::open(m_tempPath.constData(), O_WRONLY | O_CLOEXEC);
        ok = fd >= 0 && ::fsync(fd) == 0;
        if (fd >= 0)
            ::close(fd);
    }
    ok = ok && std::rename(m_tempPath.constData(), m_finalPath.constData()) == 0;
    if (ok)
        m_tempPath.clear();
    abandon();
    return ok;
}

void WmvContainer::abandon() {
    if (m_format) {
        if (m_format->pb)
            avio_closep(&m_format->pb);
        avformat_free_context(m_format);
        m_format = nullptr;
    }
    if (!m_tempPath.isEmpty()) {
        std::remove(m_tempPath.constData());
        m_tempPath.clear();
    }
    m_headerWritten = false;
}
