#include "platform/resources.h"

namespace {

struct IconEntry {
    int id;
    int shownSize; // the size the windows use
    int otherSize; // a second drawing for other scales, or 0
};

// The one table from number to file. The files are drawn by
// res/make_pictures.py and listed in res/resources.qrc.
constexpr IconEntry kIcons[] = {
    {kIconApp, 32, 16},        {kIconReady, 32, 0},        {kIconContactsTab, 16, 32},
    {kIconSentTab, 16, 32},    {kIconInboxTab, 16, 32},    {kIconOutboxTab, 16, 32},
    {kIconNoRecording, 32, 0}, {kIconCountingDown, 32, 0}, {kIconRecording, 32, 0},
    {kIconAlert, 32, 16},
};

constexpr int kBitmaps[] = {
    kBitmapOneContact,
    kBitmapSeveralContacts,
    kBitmapNoRecipient,
    kBitmapDefaultContact,
};

const IconEntry* findIcon(int id) {
    for (const IconEntry& entry : kIcons) {
        if (entry.id == id)
            return &entry;
    }
    return nullptr;
}

} // namespace

QString iconPath(int id) {
    const IconEntry* entry = findIcon(id);
    return entry ? iconPath(id, entry->shownSize) : QString();
}

QString iconPath(int id, int size) {
    const IconEntry* entry = findIcon(id);
    if (!entry || size <= 0 || (size != entry->shownSize && size != entry->otherSize))
        return {};
    return QStringLiteral(":/res/icons/icon%1_%2.png").arg(id).arg(size);
}

QList<int> iconSizes(int id) {
    const IconEntry* entry = findIcon(id);
    if (!entry)
        return {};
    if (entry->otherSize == 0)
        return {entry->shownSize};
    return {qMin(entry->shownSize, entry->otherSize), qMax(entry->shownSize, entry->otherSize)};
}

QString bitmapPath(int id) {
    for (int known : kBitmaps) {
        if (known == id)
            return QStringLiteral(":/res/bitmaps/bitmap%1.png").arg(id);
    }
    return {};
}

QImage loadBitmapResource(int id) {
    const QString path = bitmapPath(id);
    // Without the resource file linked in, the path simply does not exist and
    // loading gives a null image, which callers treat as "nothing to draw".
    return path.isEmpty() ? QImage() : QImage(path);
}

QImage loadIconResource(int id, int size) {
    const QString path = size == 0 ? iconPath(id) : iconPath(id, size);
    if (path.isEmpty())
        return {};
    return withColourKey(QImage(path));
}

QImage withColourKey(const QImage& image, QRgb key) {
    if (image.isNull())
        return {};
    // Unpremultiplied, so that every pixel's colour can be compared with the
    // key whatever its alpha.
    QImage keyed = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb colour = key & RGB_MASK;
    for (int y = 0; y < keyed.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(keyed.scanLine(y));
        for (int x = 0; x < keyed.width(); ++x) {
            if ((line[x] & RGB_MASK) == colour)
                line[x] = 0;
        }
    }
    return keyed.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}
