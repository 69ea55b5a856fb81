#include "store/messagestore.h"

#include "platform/filestatus.h"
#include "platform/helpers.h"
#include "store/folderlisting.h"
#include "store/replacingfile.h"
#include "store/storenames.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

// Beside the four folders, so no list ever shows it.
const QString kToConfirmFile = QStringLiteral(".received");

bool removeFile(const QString& path) {
    return ::unlink(QFile::encodeName(path).constData()) == 0;
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
}

// Whether "<prefix><name>" in lower case contains the exclusion text. Counts
// run over every file of a folder, so plain ASCII names, the usual case, are
// lower-cased byte by byte without building a text.
class ExclusionTest {
public:
    ExclusionTest(const QString& prefix, const QString& exclusion)
        : m_prefix(prefix), m_exclusion(exclusion), m_asciiExclusion(exclusion.toStdString()),
          m_ascii(isAscii(m_asciiExclusion) && isAscii(prefix.toStdString())) {
        m_buffer = prefix.toLower().toStdString();
        m_prefixLength = m_buffer.size();
    }

    bool operator()(const char* name) {
        if (m_exclusion.isEmpty())
            return false;
        const std::string_view view(name);
        if (!m_ascii || !isAscii(view))
            return (m_prefix + QFile::decodeName(name)).toLower().contains(m_exclusion);
        m_buffer.resize(m_prefixLength);
        for (const char c : view)
            m_buffer.push_back(c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c);
        return m_buffer.find(m_asciiExclusion) != std::string::npos;
    }

private:
    QString m_prefix;
    QString m_exclusion;
    std::string m_asciiExclusion;
    bool m_ascii;
    std::string m_buffer;
    size_t m_prefixLength = 0;
};

} // namespace

MessageStore::MessageStore(QString userFolder)
    : MessageStore(std::move(userFolder), FileStatus::shared()) {}

MessageStore::MessageStore(QString userFolder, FileStatus& status)
    : m_userFolder(std::move(userFolder)), m_status(&status), m_tickSource(&GetTickCount) {}

void MessageStore::setTickSource(std::function<std::uint32_t()> tickSource) {
    m_tickSource =
        tickSource ? std::move(tickSource) : std::function<std::uint32_t()>(&GetTickCount);
}

QString MessageStore::folderPath(Folder folder) const {
    return resolvedFolderPath(m_userFolder, folder);
}

QString MessageStore::path(Folder folder, const QString& name) const {
    return folderPath(folder) + QLatin1Char('/') + name;
}

QString MessageStore::thumbnailPath(Folder folder, const QString& name) const {
    if (folder == Folder::Contacts)
        return contacts().picturePath(name);
    return path(folder, thumbnailName(folder, name));
}

QString MessageStore::inboxVideoPath(const QString& itemName) const {
    return path(Folder::Inbox, inboxVideoName(itemName));
}

QString MessageStore::sentPathOf(const QString& outboxName) const {
    return path(Folder::Sent, sentNameOf(outboxName));
}

QString MessageStore::popupThumbnailPath(const QString& messageName) const {
    const QString name = popupThumbnailName(messageName);
    return isSafeStoreName(messageName) && isSafeStoreName(name) ? path(Folder::Inbox, name)
                                                                 : QString();
}

QStringList MessageStore::list(Folder folder) const {
    QStringList names = listFileNames(folderPath(folder));
    names.removeIf([](const QString& name) { return isThumbnailName(name); });
    return names;
}

int MessageStore::countFiles(Folder folder, const QString& exclusion, bool unreadOnly) const {
    const QString folderPath = this->folderPath(folder);
    // The exclusion is looked for inside the store only, so a user folder
    // whose own name holds ".jpg" does not hide every message.
    const QString prefix = QLatin1Char('/') + folderAddressedName(folder) + QLatin1Char('/');
    ExclusionTest excluded(prefix, exclusion);
    FileStatus::FolderScan readStates = m_status->scanFolder(folderPath);
    int count = 0;
    forEachEntry(folderPath, [&](const char* name, ino_t inode, bool isFolder) {
        if (isFolder || excluded(name))
            return;
        if (unreadOnly && readStates.isRead(name, inode))
            return;
        ++count;
    });
    return count;
}

int MessageStore::countUnread() const {
    return countFiles(Folder::Inbox, QStringLiteral(".jpg"), true);
}

QList<FiledMessage> MessageStore::fileRecording(const QString& videoPath,
                                                const QString& thumbnailPath,
                                                const QStringList& recipients,
                                                const QString& userId) const {
    QList<FiledMessage> filed;
    for (const QString& recipient : recipients) {
        const QString name = makeMessageName(recipient, userId, m_tickSource());
        if (!isSafeStoreName(name) || !isSafeStoreName(thumbnailName(Folder::Outbox, name)))
            continue;
        if (!copyFileReplacing(videoPath, path(Folder::Outbox, name), m_userFolder))
            continue;
        const bool thumbnail = copyFileReplacing(
            thumbnailPath, path(Folder::Outbox, thumbnailName(Folder::Outbox, name)), m_userFolder);
        filed.append({recipient, name, thumbnail});
    }
    return filed;
}

bool MessageStore::moveToSent(const QString& outboxName) const {
    if (!isSafeStoreName(outboxName))
        return false;
    return std::rename(QFile::encodeName(path(Folder::Outbox, outboxName)).constData(),
                       QFile::encodeName(sentPathOf(outboxName)).constData()) == 0;
}

bool MessageStore::removeFromOutbox(const QString& outboxName) const {
    return isSafeStoreName(outboxName) && removeFile(path(Folder::Outbox, outboxName));
}

ReceivedFile MessageStore::fileReceived(const QString& receivedName, QIODevice& data,
                                        const QDateTime& date) const {
    ReceivedFile result;
    result.inboxName = inboxNameOfReceived(receivedName);
    if (result.inboxName.isEmpty())
        return result;
    result.thumbnail = result.inboxName.endsWith(QLatin1String(".jpg"));
    const QString target = path(Folder::Inbox, result.inboxName);

    ReplacingFile file(target, m_userFolder);
    if (!file.open() || !file.writeFrom(data) || !file.close())
        return result;
    // Dated before it takes its name, so no list ever sees it undated.
    if (date.isValid())
        m_status->setDate(file.tempPath(), date);
    // A message the service hands out again (its receipt was never
    // confirmed) keeps the state the user gave it.
    result.replaced = QFileInfo::exists(target);
    const bool read = result.replaced && m_status->isRead(target);
    if (!file.commit())
        return result;
    m_status->setRead(target, read);
    result.filed = true;

    if (result.thumbnail)
        result.pictureStored =
            contacts().storePicture(pictureOwnerOfReceived(receivedName), target);
    return result;
}

bool MessageStore::senderIsContact(const QString& inboxName) const {
    return contacts().isContact(contactOfInboxName(inboxName));
}

bool MessageStore::markRead(const QString& inboxName) const {
    return isSafeStoreName(inboxName) && m_status->markRead(path(Folder::Inbox, inboxName));
}

bool MessageStore::saveCopy(const QString& inboxName, const QString& destination) const {
    if (!isSafeStoreName(inboxName) || destination.isEmpty())
        return false;
    return copyFileReplacing(path(Folder::Inbox, inboxName), destination,
                             QFileInfo(destination).absolutePath());
}

QString MessageStore::resend(const QString& sentName, const QString& recipient) const {
    if (!isSafeStoreName(sentName))
        return {};
    const QString name = makeMessageName(recipient, resendSenderOf(sentName), m_tickSource());
    if (!isSafeStoreName(name))
        return {};
    const bool video =
        copyFileReplacing(path(Folder::Sent, sentName), path(Folder::Outbox, name), m_userFolder);
    copyFileReplacing(thumbnailPath(Folder::Sent, sentName),
                      path(Folder::Outbox, thumbnailName(Folder::Outbox, name)), m_userFolder);
    return video ? name : QString();
}

QString MessageStore::receivedToConfirm() const {
    QFile file(m_userFolder + QLatin1Char('/') + kToConfirmFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(4096));
}

bool MessageStore::setReceivedToConfirm(const QString& receivedName) const {
    const QString path = m_userFolder + QLatin1Char('/') + kToConfirmFile;
    if (receivedName.isEmpty())
        return removeFile(path) || !QFileInfo::exists(path);
    return writeFileReplacing(path, receivedName.toUtf8(), m_userFolder);
}

int MessageStore::sweepWorkingFiles() const {
    return sweepAbandonedTempFiles(m_userFolder);
}

void MessageStore::remove(Folder folder, const QString& name) const {
    if (!isSafeStoreName(name))
        return;
    switch (folder) {
    case Folder::Inbox: {
        removeFile(path(Folder::Inbox, name));
        const QString thumbnail = inboxDeletedThumbnail(name);
        if (!thumbnail.isEmpty())
            removeFile(path(Folder::Inbox, thumbnail));
        break;
    }
    case Folder::Outbox:
    case Folder::Sent:
        removeFile(thumbnailPath(folder, name));
        removeFile(path(folder, name));
        if (folder == Folder::Outbox)
            sendFailures().clear(name);
        break;
    case Folder::Contacts:
        contacts().remove(name);
        break;
    }
}
