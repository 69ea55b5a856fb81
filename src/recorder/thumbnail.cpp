#include "recorder/thumbnail.h"

#include "recorder/frameconversion.h"
#include "recorder/stillimage.h"

#include <QFile>
#include <QPainter>
#include <QtEndian>

#include <cstring>

namespace {

void put16(char*& at, quint16 value) {
    qToLittleEndian(value, at);
    at += 2;
}

void put32(char*& at, quint32 value) {
    qToLittleEndian(value, at);
    at += 4;
}

} // namespace

QByteArray bitmapFileFromFrame(const unsigned char* bottomUpBgr) {
    static_assert(kFrameBitmapFileBytes == 14 + 40 + kFrameBytes);
    QByteArray file(kFrameBitmapFileBytes, '\0');
    char* at = file.data();
    // File header.
    put16(at, 0x4D42); // "BM"
    put32(at, kFrameBitmapFileBytes);
    put16(at, 0);
    put16(at, 0);
    put32(at, 14 + 40);
    // Info header; a positive height means the rows run bottom-up.
    put32(at, 40);
    put32(at, kFrameWidth);
    put32(at, kFrameHeight);
    put16(at, 1);
    put16(at, 24);
    put32(at, 0); // uncompressed
    put32(at, kFrameBytes);
    put32(at, 0);
    put32(at, 0);
    put32(at, 0);
    put32(at, 0);
    std::memcpy(at, bottomUpBgr, kFrameBytes);
    return file;
}

QString thumbnailPathFor(const QString& videoPath) {
    const qsizetype dot = videoPath.lastIndexOf(QLatin1Char('.'));
    // A dot in a folder name is not the file's extension.
    if (dot < 0 || dot < videoPath.lastIndexOf(QLatin1Char('/')))
        return videoPath + QStringLiteral(".jpg");
    return videoPath.left(dot) + QStringLiteral(".jpg");
}

QSize shrunkSize(QSize picture, QSize box) {
    const qint64 w = picture.width();
    const qint64 h = picture.height();
    if (h <= box.height() && w <= box.width())
        return picture;
    // A picture thousands of times wider than tall would otherwise come out
    // zero pixels high, which no file can hold.
    if (h < w)
        return QSize(box.width(), int(qMax<qint64>(1, h * box.width() / w)));
    return QSize(int(qMax<qint64>(1, box.height() * w / h)), box.height());
}

HRESULT ShrinkImageFile(const QString& path, QSize box) {
    CStillImage image;
    if (FAILED(image.Load(path)))
        return E_FAIL;
    const QSize size = shrunkSize(image.picture().size(), box);
    if (size == image.picture().size())
        return S_OK;
    // Drawn on black: any transparency in the picture comes out black, as on
    // the zero-filled bitmap it is stretched into.
    QImage shrunk(size, QImage::Format_RGB32);
    shrunk.fill(Qt::black);
    {
        QPainter painter(&shrunk);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(shrunk.rect(), image.picture());
    }
    image.Attach(std::move(shrunk));
    return image.Save(path, "JPEG");
}

HRESULT MakeThumbnail(const unsigned char* bottomUpBgr, const QString& videoPath) {
    const QString path = thumbnailPathFor(videoPath);
    HRESULT result = E_FAIL;
    if (bottomUpBgr) {
        CStillImage image;
        result = image.Load(bitmapFileFromFrame(bottomUpBgr));
        if (SUCCEEDED(result))
            result = image.Save(path, "JPEG");
        if (SUCCEEDED(result))
            result = ShrinkImageFile(path, kThumbnailBox);
    }
    if (FAILED(result))
        QFile::remove(path);
    return result;
}
