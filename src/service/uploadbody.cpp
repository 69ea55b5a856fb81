#include "service/uploadbody.h"

#include <QIODevice>

#include <cstring>

namespace {

// The UTF-8 bytes of a value as the header's text takes them: up to a zero
// character, and at most `width` bytes without splitting a character.
QByteArray fieldBytes(const QString& value, qsizetype width) {
    QByteArray bytes = value.toUtf8();
    if (const qsizetype nul = bytes.indexOf('\0'); nul >= 0)
        bytes.truncate(nul);
    if (bytes.size() > width) {
        qsizetype cut = width;
        // Step back over continuation bytes to the start of a character.
        while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80)
            --cut;
        bytes.truncate(cut);
    }
    return bytes;
}

void putField(QByteArray& block, qsizetype& at, const QString& value, qsizetype width) {
    const QByteArray bytes = fieldBytes(value, width);
    std::memcpy(block.data() + at, bytes.constData(), static_cast<size_t>(bytes.size()));
    std::memset(block.data() + at + bytes.size(), ' ', static_cast<size_t>(width - bytes.size()));
    at += width;
}

} // namespace

qint64 uploadBodyLength(qint64 fileLength) {
    return kUploadBlockBytes * (fileLength / kUploadBlockBytes + 2);
}

QByteArray uploadHeaderBlock(const QString& name, const QString& sender, const QString& recipient,
                             const QString& fourth) {
    QByteArray block(kUploadBlockBytes, '\0');
    qsizetype at = 0;
    putField(block, at, name, kUploadNameWidth);
    putField(block, at, sender, kUploadIdWidth);
    putField(block, at, recipient, kUploadIdWidth);
    putField(block, at, fourth, kUploadIdWidth);
    return block;
}

UploadBodySource::UploadBodySource(QIODevice& file, qint64 total, QByteArray headerBlock,
                                   UploadProgress* progress)
    : m_file(file), m_total(total), m_block(std::move(headerBlock)), m_progress(progress) {
    m_block.resize(kUploadBlockBytes, '\0');
}

bool UploadBodySource::fillNextBlock() {
    ++m_blockIndex;
    m_block.fill('\0');
    qint64 got = 0;
    while (got < kUploadBlockBytes) {
        const qint64 n = m_file.read(m_block.data() + got, kUploadBlockBytes - got);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += n;
    }
    m_blockPos = 0;
    if (m_progress)
        m_progress->setPosition(static_cast<int>(m_blockIndex));
    return true;
}

qint64 UploadBodySource::read(char* out, qint64 maxSize) {
    qint64 copied = 0;
    if (m_failed)
        return -1;
    while (copied < maxSize && m_sent < m_total) {
        if (m_blockPos >= kUploadBlockBytes && !fillNextBlock()) {
            // What was copied still goes out; the next call reports the fault.
            m_failed = true;
            return copied > 0 ? copied : -1;
        }
        const qint64 n =
            qMin(qMin(maxSize - copied, kUploadBlockBytes - m_blockPos), m_total - m_sent);
        std::memcpy(out + copied, m_block.constData() + m_blockPos, static_cast<size_t>(n));
        m_blockPos += n;
        m_sent += n;
        copied += n;
    }
    return copied;
}
