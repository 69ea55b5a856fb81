#include "recorder/stillimage.h"

#include "platform/privatefile.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

namespace {
HRESULT readInto(QImageReader& reader, QImage& picture) {
    reader.setDecideFormatFromContent(true);
    QImage read;
    if (!reader.read(&read) || read.isNull())
        return E_FAIL;
    picture = std::move(read);
    return S_OK;
}
} // namespace

HRESULT CStillImage::Load(const QString& path) {
    Destroy();
    // Only regular files: a pipe or device under a picture's name would
    // otherwise hold the reading thread up.
    if (!QFileInfo(path).isFile())
        return E_FAIL;
    QImageReader reader(path);
    return readInto(reader, m_picture);
}

HRESULT CStillImage::Load(QIODevice& stream) {
    Destroy();
    QImageReader reader(&stream);
    return readInto(reader, m_picture);
}

HRESULT CStillImage::Load(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly)) {
        Destroy();
        return E_FAIL;
    }
    return Load(buffer);
}

HRESULT CStillImage::LoadFromResource(int bitmapId) {
    Destroy();
    m_picture = loadBitmapResource(bitmapId);
    return m_picture.isNull() ? E_FAIL : S_OK;
}

void CStillImage::Attach(QImage picture) {
    Destroy();
    m_picture = std::move(picture);
}

void CStillImage::Destroy() {
    m_picture = QImage();
    m_keyed = QImage();
}

bool CStillImage::TransparentBlt(QPainter& painter, const QRect& target, const QRect& source,
                                 QRgb key) const {
    if (m_picture.isNull() || target.isEmpty() || source.isEmpty())
        return false;
    // Keyed before any smooth stretching, which would blend the key colour
    // into the edges around it.
    if (m_keyed.isNull() || m_keyedWith != (key & RGB_MASK)) {
        m_keyed = withColourKey(m_picture, key);
        m_keyedWith = key & RGB_MASK;
    }
    painter.drawImage(target, m_keyed, source);
    return true;
}

bool CStillImage::TransparentBlt(QPainter& painter, const QRect& target, QRgb key) const {
    return TransparentBlt(painter, target, m_picture.rect(), key);
}

QByteArray CStillImage::encoded(const char* format) const {
    if (m_picture.isNull())
        return {};
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    // No quality or other parameters: the encoder's defaults.
    QImageWriter writer(&buffer, format);
    if (!writer.write(m_picture))
        return {};
    buffer.close();
    return bytes;
}

HRESULT CStillImage::Save(const QString& path, const char* format) const {
    const QByteArray bytes = encoded(format);
    if (bytes.isEmpty() || path.isEmpty())
        return E_FAIL;
    return writePrivateFile(path, bytes) ? S_OK : E_FAIL;
}
