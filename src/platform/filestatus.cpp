#include "platform/filestatus.h"

#include <QFile>
#include <QHash>
#include <QPair>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

// The names of the read files of one folder, each with the inode it had when
// it was marked read.
struct ReadStateTable {
    QHash<QByteArray, quint64> readInodes;
};

namespace {

constexpr char kReadAttribute[] = "user.clipnote.read";
constexpr char kStateHeader[] = "clipnote read states 1";
// Beyond this many remembered files the memory starts again from empty.
constexpr qsizetype kRememberedLimit = 200000;

bool unsupported(int error) {
    return error == ENOTSUP || error == EOPNOTSUPP;
}

QByteArray folderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : path.left(slash);
}

QByteArray nameOf(const QByteArray& path) {
    return path.mid(path.lastIndexOf('/') + 1);
}

const char* namePart(const QByteArray& path) {
    return path.constData() + path.lastIndexOf('/') + 1;
}

std::shared_ptr<ReadStateTable> parseTable(const QByteArray& text) {
    auto table = std::make_shared<ReadStateTable>();
    const QList<QByteArray> lines = text.split('\n');
    if (lines.isEmpty() || lines.first() != kStateHeader)
        return table;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        const qsizetype space = line.indexOf(' ');
        if (space <= 0)
            continue;
        bool ok = false;
        const quint64 inode = line.left(space).toULongLong(&ok);
        const QByteArray name = QByteArray::fromPercentEncoding(line.mid(space + 1));
        if (ok && !name.isEmpty())
            table->readInodes.insert(name, inode);
    }
    return table;
}

// One line per read file: "<inode> <name>", the name with "%", blanks and
// control characters percent-encoded so that every name fits on one line.
QByteArray serialiseTable(const ReadStateTable& table) {
    static const char kHex[] = "0123456789ABCDEF";
    QByteArray text(kStateHeader);
    text += '\n';
    text.reserve(text.size() + table.readInodes.size() * 48);
    for (auto it = table.readInodes.cbegin(); it != table.readInodes.cend(); ++it) {
        text += QByteArray::number(it.value());
        text += ' ';
        for (const char c : it.key()) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte <= ' ' || byte == '%' || byte == 0x7f) {
                text += '%';
                text += kHex[byte >> 4];
                text += kHex[byte & 0xf];
            } else {
                text += c;
            }
        }
        text += '\n';
    }
    return text;
}

std::shared_ptr<ReadStateTable> readTableFile(const QString& stateFile) {
    QFile file(stateFile);
    return file.open(QIODevice::ReadOnly) ? parseTable(file.readAll())
                                          : std::make_shared<ReadStateTable>();
}

struct timespec toTimespec(const QDateTime& date) {
    const qint64 ms = date.toMSecsSinceEpoch();
    qint64 seconds = ms / 1000;
    qint64 rest = ms % 1000;
    if (rest < 0) {
        rest += 1000;
        --seconds;
    }
    struct timespec ts {};
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>(rest * 1000000);
    return ts;
}

} // namespace

// What one FileStatus object keeps between calls; guarded by its mutex.
struct FileStatus::Cache {
    // A parsed state file, checked against the file's identity, size and
    // time before it is used again.
    struct Entry {
        std::shared_ptr<const ReadStateTable> table;
        bool exists = false;
        ino_t inode = 0;
        off_t size = 0;
        struct timespec modified {};

        bool matches(bool nowExists, const struct stat& st) const {
            if (exists != nowExists)
                return false;
            return !exists ||
                   (inode == st.st_ino && size == st.st_size &&
                    modified.tv_sec == st.st_mtim.tv_sec && modified.tv_nsec == st.st_mtim.tv_nsec);
        }
    };

    static Entry entryFor(std::shared_ptr<const ReadStateTable> table, bool exists,
                          const struct stat& st) {
        Entry entry;
        entry.table = std::move(table);
        entry.exists = exists;
        if (exists) {
            entry.inode = st.st_ino;
            entry.size = st.st_size;
            entry.modified = st.st_mtim;
        }
        return entry;
    }

    QHash<QString, Entry> byStateFile;
    // Table sizes after the last sweep of each state file.
    QHash<QString, qsizetype> sweptSize;

    // Attribute values known to this object, by device and inode.
    struct Remembered {
        QByteArray name;
        bool read = false;
    };
    QHash<QPair<quint64, quint64>, Remembered> attributes;
};

FileStatus::FileStatus(Mode mode) : m_mode(mode), m_cache(std::make_unique<Cache>()) {}

FileStatus::~FileStatus() = default;

FileStatus& FileStatus::shared() {
    static FileStatus instance;
    return instance;
}

QString FileStatus::stateFilePath(const QString& folderPath) {
    QString folder = folderPath;
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    const qsizetype slash = folder.lastIndexOf(QLatin1Char('/'));
    const QString parent = slash < 0 ? QStringLiteral(".") : folder.left(slash);
    return parent + QStringLiteral("/.") + folder.mid(slash + 1) + QStringLiteral(".status");
}

FileStatus::Attribute FileStatus::readAttribute(const char* path) {
    char value[4];
    const ssize_t n = ::getxattr(path, kReadAttribute, value, sizeof value);
    if (n >= 0)
        return n == 1 && value[0] == '1' ? Attribute::Read : Attribute::Unread;
    if (errno == ERANGE)
        return Attribute::Unread; // some longer value, not "1"
    return unsupported(errno) ? Attribute::Unsupported : Attribute::Absent;
}

std::shared_ptr<const ReadStateTable> FileStatus::loadTable(const QString& folderPath) const {
    const QString stateFile = stateFilePath(folderPath);
    struct stat st {};
    const bool exists = ::stat(QFile::encodeName(stateFile).constData(), &st) == 0;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_cache->byStateFile.constFind(stateFile);
        if (it != m_cache->byStateFile.constEnd() && it->matches(exists, st))
            return it->table;
    }
    std::shared_ptr<const ReadStateTable> table =
        exists ? readTableFile(stateFile) : std::make_shared<ReadStateTable>();
    std::lock_guard lock(m_mutex);
    m_cache->byStateFile.insert(stateFile, Cache::entryFor(table, exists, st));
    return table;
}

bool FileStatus::readFromTable(const QString& path, ino_t inode) const {
    const QByteArray encoded = QFile::encodeName(path);
    const auto table = loadTable(QFile::decodeName(folderOf(encoded)));
    const auto it = table->readInodes.constFind(nameOf(encoded));
    return it != table->readInodes.constEnd() && it.value() == inode;
}

bool FileStatus::writeToTable(const QString& path, ino_t inode, bool read) {
    const QByteArray encoded = QFile::encodeName(path);
    const QByteArray folder = folderOf(encoded);
    const QByteArray name = nameOf(encoded);
    const QString stateFile = stateFilePath(QFile::decodeName(folder));

    // One writer at a time, starting from the file as it is now, so that
    // marks made since the last load are kept; the parsed copy is reused
    // while the file is unchanged.
    std::lock_guard lock(m_mutex);
    struct stat before {};
    const bool existed = ::stat(QFile::encodeName(stateFile).constData(), &before) == 0;
    const auto cached = m_cache->byStateFile.constFind(stateFile);
    std::shared_ptr<ReadStateTable> table =
        cached != m_cache->byStateFile.constEnd() && cached->matches(existed, before)
            ? std::make_shared<ReadStateTable>(*cached->table)
        : existed ? readTableFile(stateFile)
                  : std::make_shared<ReadStateTable>();
    auto& inodes = table->readInodes;
    bool changed = false;
    if (read) {
        const auto it = inodes.constFind(name);
        changed = it == inodes.constEnd() || it.value() != inode;
        inodes.insert(name, inode);
    } else {
        changed = inodes.remove(name) > 0;
    }
    // Entries of deleted or replaced files would only grow the file. They are
    // swept out whenever the table has doubled since the last sweep, so that
    // a mark costs a bounded number of checks on average.
    qsizetype& swept = m_cache->sweptSize[stateFile];
    if (inodes.size() > 2 * swept) {
        for (auto it = inodes.begin(); it != inodes.end();) {
            struct stat st {};
            const QByteArray entryPath = folder + '/' + it.key();
            if (::stat(entryPath.constData(), &st) != 0 || st.st_ino != it.value()) {
                it = inodes.erase(it);
                changed = true;
            } else {
                ++it;
            }
        }
        swept = inodes.size();
    }
    if (changed) {
        const QByteArray text = serialiseTable(*table);
        QSaveFile out(stateFile);
        if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit())
            return false;
    }
    struct stat st {};
    const bool exists = ::stat(QFile::encodeName(stateFile).constData(), &st) == 0;
    m_cache->byStateFile.insert(stateFile, Cache::entryFor(table, exists, st));
    return true;
}

int FileStatus::recall(quint64 device, quint64 inode, const char* name) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_cache->attributes.constFind({device, inode});
    if (it == m_cache->attributes.constEnd() || it->name != name)
        return -1;
    return it->read ? 1 : 0;
}

void FileStatus::remember(quint64 device, quint64 inode, const char* name, bool read,
                          bool written) const {
    std::lock_guard lock(m_mutex);
    auto& attributes = m_cache->attributes;
    const auto it = attributes.find({device, inode});
    if (it != attributes.end()) {
        if (!written && it->name == name)
            return;
        it->name = name;
        it->read = read;
        return;
    }
    if (attributes.size() >= kRememberedLimit)
        attributes.clear();
    attributes.insert({device, inode}, {QByteArray(name), read});
}

namespace {
qint64 modificationMSecs(const struct stat& st) {
    return static_cast<qint64>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
}
} // namespace

bool FileStatus::GetDate(const QString& path, qint64& msecsSinceEpoch) const {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    msecsSinceEpoch = modificationMSecs(st);
    return true;
}

bool FileStatus::GetStatus(const QString& path, FileState& state) const {
    const QByteArray encoded = QFile::encodeName(path);
    struct stat st {};
    if (::stat(encoded.constData(), &st) != 0)
        return false;
    state.date = QDateTime::fromMSecsSinceEpoch(modificationMSecs(st));
    if (m_mode == Mode::Automatic) {
        const int known = recall(st.st_dev, st.st_ino, namePart(encoded));
        if (known >= 0) {
            state.read = known == 1;
            return true;
        }
        const Attribute attribute = readAttribute(encoded.constData());
        if (attribute != Attribute::Unsupported) {
            state.read = attribute == Attribute::Read;
            remember(st.st_dev, st.st_ino, namePart(encoded), state.read, false);
            return true;
        }
    }
    state.read = readFromTable(path, st.st_ino);
    return true;
}

bool FileStatus::isRead(const QString& path) const {
    const QByteArray encoded = QFile::encodeName(path);
    if (m_mode == Mode::Automatic) {
        const Attribute attribute = readAttribute(encoded.constData());
        if (attribute != Attribute::Unsupported)
            return attribute == Attribute::Read;
    }
    struct stat st {};
    return ::stat(encoded.constData(), &st) == 0 && readFromTable(path, st.st_ino);
}

bool FileStatus::setRead(const QString& path, bool read) {
    const QByteArray encoded = QFile::encodeName(path);
    struct stat st {};
    if (::stat(encoded.constData(), &st) != 0)
        return false;
    if (m_mode == Mode::Automatic) {
        const char value = read ? '1' : '0';
        if (::setxattr(encoded.constData(), kReadAttribute, &value, 1, 0) == 0) {
            remember(st.st_dev, st.st_ino, namePart(encoded), read, true);
            return true;
        }
        if (!unsupported(errno))
            return false;
    }
    return writeToTable(path, st.st_ino, read);
}

bool FileStatus::setDate(const QString& path, const QDateTime& date) {
    if (!date.isValid())
        return false;
    struct timespec times[2]{};
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = toTimespec(date);
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

bool FileStatus::SetStatus(const QString& path, const FileState& state) {
    if (state.date.isValid() && !setDate(path, state.date))
        return false;
    return setRead(path, state.read);
}

bool FileStatus::markRead(const QString& path) {
    FileState state;
    return GetStatus(path, state) && setRead(path, true);
}

FileStatus::FolderScan FileStatus::scanFolder(const QString& folderPath) const {
    return FolderScan(this, QFile::encodeName(folderPath), m_mode == Mode::Automatic);
}

FileStatus::FolderScan::FolderScan(const FileStatus* owner, QByteArray folder, bool attributes)
    : m_owner(owner), m_folder(std::move(folder)), m_attributes(attributes) {
    m_path = m_folder + '/';
    m_prefixLength = m_path.size();
    m_path.reserve(m_prefixLength + 256);
    struct stat st {};
    if (m_attributes && ::stat(m_folder.constData(), &st) == 0)
        m_device = st.st_dev;
}

bool FileStatus::FolderScan::isRead(const char* name, ino_t inode) {
    if (m_attributes) {
        const int known = m_owner->recall(m_device, inode, name);
        if (known >= 0)
            return known == 1;
        m_path.truncate(m_prefixLength);
        m_path += name;
        const Attribute attribute = readAttribute(m_path.constData());
        if (attribute != Attribute::Unsupported) {
            const bool read = attribute == Attribute::Read;
            m_owner->remember(m_device, inode, name, read, false);
            return read;
        }
        // The folder's file system refuses the attribute: every other file
        // of the folder goes straight to the state file.
        m_attributes = false;
    }
    if (!m_tableLoaded) {
        m_table = m_owner->loadTable(QFile::decodeName(m_folder));
        m_tableLoaded = true;
    }
    const auto it =
        m_table->readInodes.constFind(QByteArray::fromRawData(name, qsizetype(std::strlen(name))));
    return it != m_table->readInodes.constEnd() && it.value() == inode;
}
