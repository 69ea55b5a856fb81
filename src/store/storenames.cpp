#include "store/storenames.h"

#include "platform/helpers.h"

namespace {

const QString kSemicolon = QStringLiteral(";");
const QString kJpg = QStringLiteral(".jpg");
const QString kWmv = QStringLiteral(".wmv");

} // namespace

bool isSafeStoreName(const QString& name) {
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

QString nameExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.mid(dot);
}

bool isThumbnailName(const QString& name) {
    return nameExtension(name).compare(kJpg, Qt::CaseInsensitive) == 0;
}

QString makeMessageName(const QString& recipient, const QString& sender, std::uint32_t tick) {
    return recipient + kSemicolon + sender + kSemicolon + tickText(tick);
}

QString firstField(const QString& name) {
    const qsizetype semicolon = name.indexOf(kSemicolon);
    return semicolon < 0 ? QString() : name.left(semicolon);
}

QString inboxStem(const QString& itemName) {
    const QString lower = itemName.toLower();
    const qsizetype dot = lower.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? lower : lower.left(dot);
}

QString inboxVideoName(const QString& itemName) {
    return inboxStem(itemName) + kWmv;
}

QString inboxDrawnSender(const QString& itemName) {
    const QString stem = inboxStem(itemName);
    const qsizetype semicolon = stem.indexOf(kSemicolon);
    return semicolon < 0 ? stem : stem.left(semicolon);
}

QString thumbnailName(Folder folder, const QString& name) {
    switch (folder) {
    case Folder::Inbox:
        return inboxStem(name) + kJpg;
    case Folder::Sent:
        return QString(name).replace(kWmv, kJpg);
    case Folder::Outbox:
    case Folder::Contacts:
        break;
    }
    return name + kJpg;
}

QString inboxDeletedThumbnail(const QString& inboxName) {
    const qsizetype wmv = inboxName.indexOf(kWmv);
    return wmv < 0 ? QString() : inboxName.left(wmv) + kJpg;
}

QString sentNameOf(const QString& outboxName) {
    const QString lower = outboxName.toLower();
    return lower.contains(kJpg) ? lower : lower + kWmv;
}

QString resendSenderOf(const QString& sentName) {
    const QString rest = sentName.mid(sentName.indexOf(kSemicolon) + 1);
    const qsizetype last = rest.lastIndexOf(kSemicolon);
    return last < 0 ? QString() : rest.left(last);
}

QString receivedMessagePart(const QString& receivedName) {
    const QString part = receivedName.mid(receivedName.indexOf(kSemicolon) + 1);
    return isSafeStoreName(part) ? part : QString();
}

QString inboxNameOfReceived(const QString& receivedName) {
    const QString part = receivedMessagePart(receivedName);
    if (part.isEmpty())
        return {};
    QString name = part.toLower();
    if (!name.endsWith(kJpg))
        name += kWmv;
    return isSafeStoreName(name) ? name : QString();
}

QString pictureOwnerOfReceived(const QString& receivedName) {
    return firstField(receivedMessagePart(receivedName));
}

QString contactOfInboxName(const QString& inboxName) {
    const qsizetype last = inboxName.lastIndexOf(kSemicolon);
    return last < 0 ? QString() : inboxName.left(last);
}

QString popupThumbnailName(const QString& messageName) {
    const QString lower = messageName.toLower();
    return lower.contains(kWmv) ? QString(lower).replace(kWmv, kJpg) : lower + kJpg;
}
