#include "messagequeue.h"

#include "userid.h"

#include <sodium.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
// Writes reach the disk in pieces of this size.
constexpr std::size_t kWriteBuffer = 64 * 1024;
constexpr char kIncomingPrefix[] = ".incoming-";

void syncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// A name nobody can guess or collide with.
std::string randomFileName() {
    unsigned char random[16];
    randombytes_buf(random, sizeof random);
    char hex[sizeof random * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, random, sizeof random);
    return std::string("m") + hex;
}

bool setError(std::string* error, const std::string& text) {
    if (error)
        *error = text;
    return false;
}
} // namespace

IncomingFile::~IncomingFile() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_path.empty())
        ::unlink(m_path.c_str());
}

bool IncomingFile::write(const char* data, std::size_t size) {
    if (m_failed)
        return false;
    m_buffer.append(data, size);
    m_size += size;
    if (m_buffer.size() >= kWriteBuffer)
        return flush();
    return true;
}

bool IncomingFile::flush() {
    std::size_t done = 0;
    while (done < m_buffer.size()) {
        const ssize_t n = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_failed = true;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    m_buffer.clear();
    return true;
}

bool IncomingFile::finish() {
    if (m_failed || !flush() || ::fsync(m_fd) != 0)
        return false;
    const int fd = m_fd;
    m_fd = -1;
    return ::close(fd) == 0;
}

MessageQueue::MessageQueue(Database& db, std::filesystem::path folder, std::shared_ptr<Clock> clock,
                           QueueLimits limits)
    : m_db(db), m_folder(std::move(folder)), m_clock(std::move(clock)), m_limits(limits) {
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot be initialised");
}

bool MessageQueue::prepare(std::string* error) {
    std::error_code ec;
    if (!std::filesystem::exists(m_folder, ec)) {
        std::filesystem::create_directory(m_folder, ec);
        if (!ec)
            ::chmod(m_folder.c_str(), 0700);
    }
    if (ec || !std::filesystem::is_directory(m_folder, ec))
        return setError(error, "cannot create the message folder " + m_folder.string() + ": " +
                                   (ec ? ec.message() : "not a folder"));
    sweep();
    return true;
}

std::unique_ptr<IncomingFile> MessageQueue::receive(std::string* error) {
    std::string temp = (m_folder / (std::string(kIncomingPrefix) + "XXXXXX")).string();
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        setError(error,
                 "cannot create a file in " + m_folder.string() + ": " + std::strerror(errno));
        return nullptr;
    }
    return std::unique_ptr<IncomingFile>(new IncomingFile(fd, temp));
}

bool MessageQueue::hasRoomFor(const std::string& recipientKey, const std::string& name,
                              std::uint64_t bytes) {
    auto guard = m_db.lock();
    return isKnownName(recipientKey, userIdKey(name)) || fits(recipientKey, bytes);
}

bool MessageQueue::enqueue(std::unique_ptr<IncomingFile> file, const std::string& recipientKey,
                           const std::string& senderKey, const std::string& name,
                           std::string* error, EnqueueRefusal* refusal) {
    if (refusal)
        *refusal = EnqueueRefusal::StorageFailed;
    if (!file->finish())
        return setError(error,
                        "cannot write " + file->m_path.string() + ": " + std::strerror(errno));
    const std::string stored = randomFileName();
    const std::filesystem::path target = m_folder / stored;
    if (::rename(file->m_path.c_str(), target.c_str()) != 0)
        return setError(error,
                        "cannot rename " + file->m_path.string() + ": " + std::strerror(errno));
    file->m_path = target; // removed with the object unless the entry commits
    syncFolder(m_folder);
    const std::string nameKey = userIdKey(name);
    try {
        auto guard = m_db.lock();
        Transaction transaction(m_db);
        if (isKnownName(recipientKey, nameKey))
            return true;
        if (!fits(recipientKey, file->size())) {
            if (refusal)
                *refusal = EnqueueRefusal::QueueFull;
            return setError(error, "the recipient's queue is full");
        }
        Statement(m_db, "INSERT INTO messages (recipient_key, sender_key, name, file, size, "
                        "arrived_at, name_key) VALUES (?, ?, ?, ?, ?, ?, ?)")
            .bind(1, recipientKey)
            .bind(2, senderKey)
            .bind(3, name)
            .bind(4, stored)
            .bind(5, static_cast<std::int64_t>(file->size()))
            .bind(6, m_clock->unixNow())
            .bind(7, nameKey)
            .run();
        transaction.commit();
    } catch (const DatabaseError& e) {
        return setError(error, e.what());
    }
    file->m_path.clear();
    return true;
}

bool MessageQueue::isKnownName(const std::string& recipientKey, const std::string& nameKey) {
    Statement waiting(m_db, "SELECT 1 FROM messages WHERE recipient_key = ? AND name_key = ?");
    waiting.bind(1, recipientKey).bind(2, nameKey);
    if (waiting.step())
        return true;
    Statement delivered(m_db, "SELECT 1 FROM delivered WHERE name_key = ?");
    delivered.bind(1, nameKey);
    return delivered.step();
}

bool MessageQueue::fits(const std::string& recipientKey, std::uint64_t bytes) {
    Statement query(m_db, "SELECT COUNT(*), COALESCE(SUM(size), 0) FROM messages "
                          "WHERE recipient_key = ?");
    query.bind(1, recipientKey);
    query.step();
    const auto files = static_cast<std::uint64_t>(query.integer(0));
    const auto waitingBytes = static_cast<std::uint64_t>(query.integer(1));
    return files < m_limits.files && waitingBytes <= m_limits.bytes &&
           bytes <= m_limits.bytes - waitingBytes;
}

namespace {
const char kSelectWaiting[] = "SELECT id, name, file, size, arrived_at FROM messages "
                              "WHERE recipient_key = ? ORDER BY id";

WaitingMessage waitingFrom(const Statement& row) {
    return WaitingMessage{row.integer(0), row.text(1), row.text(2), row.integer(3), row.integer(4)};
}
} // namespace

std::optional<WaitingMessage> MessageQueue::oldest(const std::string& recipientKey) {
    auto guard = m_db.lock();
    Statement query(m_db, kSelectWaiting);
    query.bind(1, recipientKey);
    if (!query.step())
        return std::nullopt;
    return waitingFrom(query);
}

std::optional<WaitingMessage> MessageQueue::claimOldest(const std::string& recipientKey) {
    auto guard = m_db.lock();
    Statement query(m_db, kSelectWaiting);
    query.bind(1, recipientKey);
    while (query.step()) {
        const std::int64_t id = query.integer(0);
        if (m_delivering.count(id))
            continue;
        m_delivering.insert(id);
        return waitingFrom(query);
    }
    return std::nullopt;
}

void MessageQueue::release(const WaitingMessage& message) {
    auto guard = m_db.lock();
    m_delivering.erase(message.id);
}

void MessageQueue::retire(const WaitingMessage& message) {
    remove(message, true);
}

bool MessageQueue::confirm(const std::string& recipientKey, const std::string& name) {
    std::optional<WaitingMessage> found;
    {
        auto guard = m_db.lock();
        Statement query(m_db, "SELECT id, name, file, size, arrived_at FROM messages "
                              "WHERE recipient_key = ? AND name_key = ? ORDER BY id");
        query.bind(1, recipientKey).bind(2, userIdKey(name));
        if (query.step())
            found = waitingFrom(query);
    }
    if (!found)
        return false;
    retire(*found);
    return true;
}

void MessageQueue::dropBroken(const WaitingMessage& message) {
    remove(message, false);
}

void MessageQueue::remove(const WaitingMessage& message, bool remember) {
    {
        auto guard = m_db.lock();
        Transaction transaction(m_db);
        Statement(m_db, "DELETE FROM messages WHERE id = ?").bind(1, message.id).run();
        if (remember) {
            Statement(m_db, "INSERT OR REPLACE INTO delivered (name_key, delivered_at) "
                            "VALUES (?, ?)")
                .bind(1, userIdKey(message.name))
                .bind(2, m_clock->unixNow())
                .run();
        }
        transaction.commit();
    }
    // The entry is gone for good before its file goes; a crash in between
    // leaves a file that the next sweep removes.
    ::unlink(pathOf(message).c_str());
}

std::filesystem::path MessageQueue::pathOf(const WaitingMessage& message) const {
    return m_folder / message.file;
}

int MessageQueue::waitingCount(const std::string& recipientKey) {
    auto guard = m_db.lock();
    Statement query(m_db, "SELECT COUNT(*) FROM messages WHERE recipient_key = ?");
    query.bind(1, recipientKey);
    return query.step() ? static_cast<int>(query.integer(0)) : 0;
}

int MessageQueue::expireWaiting(std::int64_t maxAgeSeconds) {
    std::vector<WaitingMessage> expired;
    {
        auto guard = m_db.lock();
        Statement query(m_db, "SELECT id, name, file, size, arrived_at FROM messages "
                              "WHERE arrived_at < ?");
        query.bind(1, m_clock->unixNow() - maxAgeSeconds);
        while (query.step()) {
            if (!m_delivering.count(query.integer(0)))
                expired.push_back(waitingFrom(query));
        }
        Transaction transaction(m_db);
        for (const WaitingMessage& message : expired)
            Statement(m_db, "DELETE FROM messages WHERE id = ?").bind(1, message.id).run();
        transaction.commit();
    }
    // As in remove(): the entries are gone for good before the files.
    for (const WaitingMessage& message : expired)
        ::unlink(pathOf(message).c_str());
    return static_cast<int>(expired.size());
}

int MessageQueue::forgetOldDeliveredNames() {
    auto guard = m_db.lock();
    Statement forget(m_db, "DELETE FROM delivered WHERE delivered_at < ?");
    forget.bind(1, m_clock->unixNow() - kRememberDeliveredSeconds).run();
    return forget.changes();
}

int MessageQueue::sweep() {
    int removed = 0;
    std::set<std::string> known;
    {
        auto guard = m_db.lock();
        std::set<std::int64_t> missing;
        Statement query(m_db, "SELECT id, file FROM messages");
        while (query.step()) {
            const std::string file = query.text(1);
            std::error_code ec;
            if (std::filesystem::is_regular_file(m_folder / file, ec))
                known.insert(file);
            else if (!m_delivering.count(query.integer(0)))
                missing.insert(query.integer(0));
        }
        for (const std::int64_t id : missing) {
            Statement(m_db, "DELETE FROM messages WHERE id = ?").bind(1, id).run();
            ++removed;
        }
    }
    forgetOldDeliveredNames();
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(m_folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (known.count(name) || !entry.is_regular_file(ec))
            continue;
        if (::unlink(entry.path().c_str()) == 0)
            ++removed;
    }
    return removed;
}
