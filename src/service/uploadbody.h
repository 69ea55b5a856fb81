#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

// The body of an upload: a 1024-byte header block naming the file, the sender
// and the recipient, then the file in 1024-byte blocks, the last one filled up
// with zero bytes. A file of L bytes makes 1024 x (L div 1024 + 2) bytes.
inline constexpr qint64 kUploadBlockBytes = 1024;

// Field widths of the header block, in its order.
inline constexpr qsizetype kUploadNameWidth = 128;
inline constexpr qsizetype kUploadIdWidth = 255;

qint64 uploadBodyLength(qint64 fileLength);

// The header block: name, sender, recipient and the fourth field, each
// left-justified and padded with spaces to its width (128, 255, 255, 255),
// then zero bytes to the end of the block. Each value is cut at its width
// (at a character boundary) so the text always ends by byte 893 and the
// service finds every field at its place; a value also ends at a zero
// character.
QByteArray uploadHeaderBlock(const QString& name, const QString& sender, const QString& recipient,
                             const QString& fourth);

// A progress bar for an upload, in blocks; optional.
class UploadProgress {
public:
    virtual ~UploadProgress() = default;
    virtual void setRange(int lower, int upper) = 0;
    virtual void setPosition(int position) = 0;
};

// Produces the body block by block while it is being sent, reading the file
// through one block-sized buffer: the file is never loaded whole. The body
// is exactly the length declared for the file's length at the start, even
// if the file changes meanwhile.
class UploadBodySource {
public:
    UploadBodySource(QIODevice& file, qint64 total, QByteArray headerBlock,
                     UploadProgress* progress);

    // Copies up to maxSize further body bytes to out; 0 at the end, -1 when
    // the file cannot be read.
    qint64 read(char* out, qint64 maxSize);

    qint64 total() const { return m_total; }
    qint64 sent() const { return m_sent; }
    bool atEnd() const { return m_sent >= m_total; }

private:
    bool fillNextBlock();

    QIODevice& m_file;
    qint64 m_total;
    QByteArray m_block;
    qint64 m_blockPos = 0;
    qint64 m_blockIndex = 0;
    qint64 m_sent = 0;
    bool m_failed = false;
    UploadProgress* m_progress;
};
