#include "mainwnd/selectionsummary.h"

#include "app/appfonts.h"
#include "platform/resources.h"
#include "store/contactstore.h"

#include <QImage>
#include <QPainter>

namespace {
const QRect kTextRect(QPoint(10, 200), QPoint(319, 239));
const QRect kContactPictureRect(64, 20, 192, 168);
const QRect kNoRecipientPictureRect(4, 10, 320, 240);

void drawKeyed(QPainter& painter, const QImage& image, const QRect& target) {
    if (image.isNull())
        return;
    painter.drawImage(target, withColourKey(image));
}

void drawLine(QPainter& painter, const QRect& rect, const QString& text) {
    painter.save();
    painter.setClipRect(rect);
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    painter.restore();
}
} // namespace

void paintSelectionSummary(QPainter& painter, const QStringList& recipients,
                           const QString& userFolder) {
    painter.save();
    painter.setPen(Qt::black);
    painter.setFont(appFonts().bold14);
    if (recipients.size() >= 2) {
        drawLine(painter, kTextRect, QStringLiteral("%1 contacts selected").arg(recipients.size()));
        drawKeyed(painter, loadBitmapResource(kBitmapSeveralContacts), kContactPictureRect);
    } else if (recipients.size() == 1) {
        const QString& id = recipients.front();
        drawLine(painter, kTextRect, id);
        const ContactStore contacts(userFolder);
        const std::optional<QString> name = contacts.readDisplayName(id, kPreviewNameBytes);
        if (name && !name->isEmpty())
            drawLine(painter, kTextRect.translated(0, 22), *name);
        QImage picture;
        const QString picturePath = contacts.picturePath(id);
        if (!picturePath.isEmpty())
            picture.load(picturePath);
        if (picture.isNull())
            picture = loadBitmapResource(kBitmapOneContact);
        drawKeyed(painter, picture, kContactPictureRect);
    } else {
        drawKeyed(painter, loadBitmapResource(kBitmapNoRecipient), kNoRecipientPictureRect);
    }
    painter.restore();
}
