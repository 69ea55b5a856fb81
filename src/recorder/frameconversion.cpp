#include "recorder/frameconversion.h"

#include <QPainter>

QRect frameCropRect(QSize pictureSize) {
    const qint64 w = pictureSize.width();
    const qint64 h = pictureSize.height();
    if (w <= 0 || h <= 0)
        return {};
    if (w * kFrameHeight > h * kFrameWidth) {
        // Wider than 4:3: keep the full height.
        const int cropWidth =
            int(qMax<qint64>(1, (h * kFrameWidth + kFrameHeight / 2) / kFrameHeight));
        return QRect(int((w - cropWidth) / 2), 0, cropWidth, int(h));
    }
    const int cropHeight = int(qMax<qint64>(1, (w * kFrameHeight + kFrameWidth / 2) / kFrameWidth));
    return QRect(0, int((h - cropHeight) / 2), int(w), cropHeight);
}

QImage fitToFrame(const QImage& picture) {
    if (picture.isNull())
        return {};
    const QRect crop = frameCropRect(picture.size());
    QImage part = crop == picture.rect() ? picture : picture.copy(crop);
    if (part.size() != QSize(kFrameWidth, kFrameHeight))
        part =
            part.scaled(kFrameWidth, kFrameHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (part.hasAlphaChannel()) {
        // Composed over black, as a bitmap without alpha would show it.
        QImage opaque(part.size(), QImage::Format_RGB32);
        opaque.fill(Qt::black);
        QPainter painter(&opaque);
        painter.drawImage(0, 0, part);
        return opaque;
    }
    return part.convertToFormat(QImage::Format_RGB32);
}

void fittedToBottomUpBgr(const QImage& fitted, unsigned char* out) {
    for (int y = 0; y < kFrameHeight; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(fitted.constScanLine(y));
        unsigned char* row = out + (kFrameHeight - 1 - y) * kFrameRowBytes;
        for (int x = 0; x < kFrameWidth; ++x) {
            *row++ = static_cast<unsigned char>(qBlue(line[x]));
            *row++ = static_cast<unsigned char>(qGreen(line[x]));
            *row++ = static_cast<unsigned char>(qRed(line[x]));
        }
    }
}

bool toBottomUpBgr(const QImage& picture, unsigned char* out) {
    const QImage fitted = fitToFrame(picture);
    if (fitted.isNull())
        return false;
    fittedToBottomUpBgr(fitted, out);
    return true;
}

int preferredCaptureSize(const QList<QSize>& offered) {
    int best = -1;
    int largest = -1;
    const auto area = [](QSize s) { return qint64(s.width()) * s.height(); };
    for (int i = 0; i < offered.size(); ++i) {
        const QSize size = offered[i];
        if (size.isEmpty())
            continue;
        if (largest < 0 || area(size) > area(offered[largest]))
            largest = i;
        const bool covers = size.width() >= kFrameWidth && size.height() >= kFrameHeight;
        if (covers && (best < 0 || area(size) < area(offered[best])))
            best = i;
    }
    return best >= 0 ? best : largest;
}
