#pragma once

#include "platform/hresult.h"
#include "platform/resources.h"

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>

class QIODevice;
class QPainter;

// A picture in memory: loaded from a file, a stream or a bitmap resource,
// drawn stretched with one colour treated as transparent, saved as JPEG (or
// another format Qt writes). A failed load leaves the object empty.
class CStillImage {
public:
    CStillImage() = default;
    explicit CStillImage(QImage picture) : m_picture(std::move(picture)) {}

    // The format is told by the content, not by the name.
    HRESULT Load(const QString& path);
    // From the stream's current position.
    HRESULT Load(QIODevice& stream);
    HRESULT Load(const QByteArray& bytes);
    // A bitmap resource by number (resources.h).
    HRESULT LoadFromResource(int bitmapId);

    bool IsNull() const { return m_picture.isNull(); }
    int GetWidth() const { return m_picture.width(); }
    int GetHeight() const { return m_picture.height(); }
    const QImage& picture() const { return m_picture; }
    void Attach(QImage picture);
    void Destroy();

    // Draws the `source` part of the picture stretched over `target`, without
    // keeping its aspect; pixels of colour `key` (alpha bits ignored) leave
    // what is underneath visible. False for an empty object.
    bool TransparentBlt(QPainter& painter, const QRect& target, const QRect& source,
                        QRgb key = kColourKey) const;
    bool TransparentBlt(QPainter& painter, const QRect& target, QRgb key = kColourKey) const;

    // Writes the picture under a temporary name beside `path` and renames it
    // into place: the path shows either its old content or the whole new
    // file. E_FAIL for an empty object, an unknown format or a folder that
    // cannot take the file (read-only, full). The file is its owner's alone
    // (0600): the pictures saved are thumbnails of unsent recordings.
    HRESULT Save(const QString& path, const char* format = "JPEG") const;
    // The encoded bytes; empty on failure.
    QByteArray encoded(const char* format = "JPEG") const;

private:
    QImage m_picture;
    // The keyed copy of the last draw; pictures are drawn with one key.
    mutable QImage m_keyed;
    mutable QRgb m_keyedWith = 0;
};
