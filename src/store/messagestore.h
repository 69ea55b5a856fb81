#pragma once

#include "store/contactstore.h"
#include "store/sendfailures.h"
#include "store/storefolder.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

class FileStatus;
class QIODevice;

// One Outbox message filed for one recipient.
struct FiledMessage {
    QString recipient;
    QString name;        // R;U;N
    bool thumbnailFiled; // R;U;N.jpg was copied too
    friend bool operator==(const FiledMessage&, const FiledMessage&) = default;
};

// The outcome of filing one received file in the Inbox.
struct ReceivedFile {
    bool filed = false;
    QString inboxName;          // u;n.wmv or u;n.jpg; empty when the name was refused
    bool thumbnail = false;     // a .jpg, which also became the sender's picture
    bool pictureStored = false; // the copy over the sender's picture worked
    bool replaced = false;      // an earlier copy of the same message was there
};

// The messages of the user folder F: Inbox, Outbox and Sent, with the naming
// rules of storenames.h, the read state and date of Inbox files through
// FileStatus, and the contacts through ContactStore. Names coming from the
// lists are file names of their folder; names from outside (recipients,
// received names) are checked before they touch the disk. Every file it
// creates is written under a temporary dot-name in F and renamed into place.
// Failed file operations are passed over, as the lists expect. All const
// operations may run on any thread at once.
class MessageStore {
public:
    explicit MessageStore(QString userFolder);
    MessageStore(QString userFolder, FileStatus& status);

    const QString& userFolder() const { return m_userFolder; }
    FileStatus& fileStatus() const { return *m_status; }
    ContactStore contacts() const { return ContactStore(m_userFolder); }
    // The Outbox messages the service refused; deleting or sending a message
    // forgets its refusal.
    SendFailures sendFailures() const { return SendFailures(m_userFolder); }

    // The tick count that makes message names unique; tests replace it.
    void setTickSource(std::function<std::uint32_t()> tickSource);

    QString folderPath(Folder folder) const;
    // The path of a file of a folder: F/<folder>/<name>.
    QString path(Folder folder, const QString& name) const;
    // The thumbnail drawn beside a listed message (see thumbnailName).
    QString thumbnailPath(Folder folder, const QString& name) const;
    // The video whose status the Inbox list draws for an item.
    QString inboxVideoPath(const QString& itemName) const;
    // Where an Outbox file goes once sent and kept.
    QString sentPathOf(const QString& outboxName) const;
    // The thumbnail of the new-message popup for a received name U;N; empty
    // for a name that is not safe.
    QString popupThumbnailPath(const QString& messageName) const;

    // The messages (or contacts) of a folder in file-system order: files
    // only, thumbnails and pictures left out.
    QStringList list(Folder folder) const;
    // The main window's counts: the files of a folder, leaving out those
    // whose lower-cased "/<folder>/<name>" contains `exclusion` (when not
    // empty) and, with unreadOnly, those marked read.
    int countFiles(Folder folder, const QString& exclusion, bool unreadOnly) const;
    // The unread Inbox messages: countFiles(Inbox, ".jpg", true).
    int countUnread() const;

    // Files a finished recording for each recipient, in order: the video as
    // Outbox/R;U;N with a fresh tick each, then, only when that worked, the
    // thumbnail as R;U;N.jpg. Returns the messages whose video was filed.
    QList<FiledMessage> fileRecording(const QString& videoPath, const QString& thumbnailPath,
                                      const QStringList& recipients, const QString& userId) const;
    // After an upload: keep the Outbox file in Sent (replacing a file there),
    // or drop it. False leaves the file in the Outbox.
    bool moveToSent(const QString& outboxName) const;
    bool removeFromOutbox(const QString& outboxName) const;

    // Files a received record's file in the Inbox, unread and dated `date`
    // (left at the filing time when invalid); a thumbnail also replaces the
    // sender's picture. The data is read from `data` to its end. A message is
    // named alike on every delivery, so a second copy replaces the first and
    // keeps its read state: a played message never turns unread again.
    ReceivedFile fileReceived(const QString& receivedName, QIODevice& data,
                              const QDateTime& date) const;
    // Whether the sender of an Inbox name is a contact (messages from anyone
    // else are refused when only contacts' messages are accepted).
    bool senderIsContact(const QString& inboxName) const;

    // Marks an Inbox message played; false when its status cannot be read.
    bool markRead(const QString& inboxName) const;
    // Copies an Inbox message to a place the user chose, replacing any file
    // there; the temporary file is kept beside the destination.
    bool saveCopy(const QString& inboxName, const QString& destination) const;
    // Sends a kept Sent message again: Outbox/recipient;U;N and its thumbnail,
    // U being the kept message's sender. Returns the new Outbox name, empty
    // when the video could not be copied.
    QString resend(const QString& sentName, const QString& recipient) const;

    // The name of the last received message that was filed but not yet
    // confirmed to the service; empty when there is none. Kept in the user
    // folder, outside the listed folders, so it outlives the program.
    QString receivedToConfirm() const;
    // Remembers it (empty forgets it); false when it could not be written.
    bool setReceivedToConfirm(const QString& receivedName) const;

    // Removes what writers killed part way left behind in the user folder;
    // returns how many files went.
    int sweepWorkingFiles() const;

    // Deletes a message (its video and thumbnail) or a contact (its picture
    // and file). Files that cannot be deleted are passed over.
    void remove(Folder folder, const QString& name) const;

private:
    QString m_userFolder;
    FileStatus* m_status;
    std::function<std::uint32_t()> m_tickSource;
};
