#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <memory>
#include <mutex>
#include <sys/types.h>

struct ReadStateTable;

// The two properties of an Inbox message kept by the file system: whether it
// has been played, and its date.
struct FileState {
    bool read = false;
    // The message date: the file's modification time, in local time. Left
    // unchanged by SetStatus when invalid.
    QDateTime date;
};

// Read state and date of a file. The read state is the extended attribute
// "user.clipnote.read" ("1" = played; absent or "0" = unread); the date is the
// modification time. Where the file system refuses user extended attributes,
// the read state goes to a state file beside the file's folder
// (F/.<folder>.status for F/<folder>/<name>), outside every listed folder.
// Entries there are tied to the file's inode, so a file replaced under the
// same name starts unread. Safe to call from any thread.
//
// Counting the unread Inbox after every change must stay fast with thousands
// of messages, so each object remembers the attribute values it has read or
// written, per file identity (device, inode and name): only this program
// changes them, and a scan then needs no call per known file. Use one object
// for the whole program (shared()), so that every change goes through it.
class FileStatus {
public:
    enum class Mode {
        Automatic,     // extended attributes, the state file where they are refused
        StateFileOnly, // always the state file (tests, file systems known to refuse them)
    };

    explicit FileStatus(Mode mode = Mode::Automatic);
    ~FileStatus();
    FileStatus(const FileStatus&) = delete;
    FileStatus& operator=(const FileStatus&) = delete;

    // The instance the program uses.
    static FileStatus& shared();

    Mode mode() const { return m_mode; }

    // False when the file cannot be examined (it is gone): callers draw it
    // black with no date and sort it as equal to every other message.
    bool GetStatus(const QString& path, FileState& state) const;
    // The date alone, as milliseconds since 1970: what sorting thousands of
    // messages by date needs, without the read state or a local-time
    // conversion per file. False as GetStatus.
    bool GetDate(const QString& path, qint64& msecsSinceEpoch) const;
    // Writes the read state and, when valid, the date. False when the file is
    // gone or a value could not be written.
    bool SetStatus(const QString& path, const FileState& state);

    bool setRead(const QString& path, bool read);
    bool setDate(const QString& path, const QDateTime& date);
    // Playing a message: read its status and, when that succeeds, mark it read.
    bool markRead(const QString& path);

    // The read state alone, without a stat where extended attributes work; an
    // unreadable file counts as unread.
    bool isRead(const QString& path) const;

    // Read states of many files of one folder, for counting: the inode comes
    // from the listing, remembered values need no call, and the state file is
    // loaded at most once per scan.
    class FolderScan {
    public:
        bool isRead(const char* name, ino_t inode);

    private:
        friend class FileStatus;
        FolderScan(const FileStatus* owner, QByteArray folder, bool attributes);
        const FileStatus* m_owner;
        quint64 m_device = 0;
        QByteArray m_folder;
        QByteArray m_path;
        qsizetype m_prefixLength = 0;
        bool m_attributes;
        bool m_tableLoaded = false;
        std::shared_ptr<const ReadStateTable> m_table;
    };
    FolderScan scanFolder(const QString& folderPath) const;

    // Where the read states of the files of a folder go when extended
    // attributes are refused.
    static QString stateFilePath(const QString& folderPath);

private:
    struct Cache;
    enum class Attribute { Unread, Read, Absent, Unsupported };
    static Attribute readAttribute(const char* path);
    std::shared_ptr<const ReadStateTable> loadTable(const QString& folderPath) const;
    bool readFromTable(const QString& path, ino_t inode) const;
    bool writeToTable(const QString& path, ino_t inode, bool read);
    // The remembered attribute value of a file, if any.
    int recall(quint64 device, quint64 inode, const char* name) const;
    // Remembers a value. A value just read does not replace one written
    // meanwhile by another thread.
    void remember(quint64 device, quint64 inode, const char* name, bool read, bool written) const;

    Mode m_mode;
    mutable std::mutex m_mutex;
    std::unique_ptr<Cache> m_cache;
};
