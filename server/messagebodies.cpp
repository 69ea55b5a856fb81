#include "messagebodies.h"

#include <sodium.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <optional>
#include <utility>
#include <vector>

namespace {
// Writes reach the disk in pieces of this size.
constexpr std::size_t kWriteBuffer = 64 * 1024;
constexpr char kIncomingPrefix[] = ".incoming-";
// A body in the database is kept in rows of this many bytes: a download
// reads one at a time, an upload writes one at a time.
constexpr std::size_t kChunkBytes = 256 * 1024;
// A body without an entry this long after its last piece arrived is left
// over from a server that died mid-upload; an upload in progress is never
// that slow, as idle connections are closed long before.
constexpr std::int64_t kAbandonedAfterSeconds = 3600;

bool setError(std::string* error, const std::string& text) {
    if (error)
        *error = text;
    return false;
}

// A name nobody can guess or collide with.
std::string randomKey() {
    unsigned char random[16];
    randombytes_buf(random, sizeof random);
    char hex[sizeof random * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, random, sizeof random);
    return std::string("m") + hex;
}

void syncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

class IncomingFile : public IncomingBody {
public:
    IncomingFile(int fd, std::filesystem::path path) : m_path(std::move(path)), m_fd(fd) {}
    ~IncomingFile() override {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }

    bool write(const char* data, std::size_t size) override {
        if (m_failed)
            return false;
        m_buffer.append(data, size);
        m_size += size;
        if (m_buffer.size() >= kWriteBuffer)
            return flush();
        return true;
    }

    // Writes out what is buffered, flushes it to disk and closes the file.
    bool finish() {
        if (m_failed || !flush() || ::fsync(m_fd) != 0)
            return false;
        const int fd = std::exchange(m_fd, -1);
        return ::close(fd) == 0;
    }

    std::filesystem::path m_path;

private:
    bool flush() {
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

    int m_fd;
    std::string m_buffer;
    bool m_failed = false;
};

class FileReader : public StoredBodyReader {
public:
    explicit FileReader(int fd) : m_fd(fd) {}
    ~FileReader() override { ::close(m_fd); }
    std::int64_t read(std::uint64_t offset, char* buffer, std::size_t max) override {
        const ssize_t n = ::pread(m_fd, buffer, max, static_cast<off_t>(offset));
        return n >= 0 ? n : -1;
    }

private:
    int m_fd;
};

class FolderBodies : public MessageBodies {
public:
    explicit FolderBodies(std::filesystem::path folder) : m_folder(std::move(folder)) {}

    bool prepare(std::string* error) override {
        std::error_code ec;
        if (!std::filesystem::exists(m_folder, ec)) {
            std::filesystem::create_directory(m_folder, ec);
            if (!ec)
                ::chmod(m_folder.c_str(), 0700);
        }
        if (ec || !std::filesystem::is_directory(m_folder, ec))
            return setError(error, "cannot create the message folder " + m_folder.string() + ": " +
                                       (ec ? ec.message() : "not a folder"));
        return true;
    }

    std::unique_ptr<IncomingBody> receive(std::string* error) override {
        std::string temp = (m_folder / (std::string(kIncomingPrefix) + "XXXXXX")).string();
        const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
        if (fd < 0) {
            setError(error,
                     "cannot create a file in " + m_folder.string() + ": " + std::strerror(errno));
            return nullptr;
        }
        return std::make_unique<IncomingFile>(fd, temp);
    }

    bool keep(std::unique_ptr<IncomingBody> body, std::string* key, std::string* error) override {
        auto* file = static_cast<IncomingFile*>(body.get());
        if (!file->finish())
            return setError(error,
                            "cannot write " + file->m_path.string() + ": " + std::strerror(errno));
        *key = randomKey();
        const std::filesystem::path target = m_folder / *key;
        if (::rename(file->m_path.c_str(), target.c_str()) != 0)
            return setError(error,
                            "cannot rename " + file->m_path.string() + ": " + std::strerror(errno));
        file->m_path.clear();
        syncFolder(m_folder);
        return true;
    }

    void remove(const std::string& key) override { ::unlink((m_folder / key).c_str()); }

    std::unique_ptr<StoredBodyReader> open(const std::string& key) override {
        const int fd = ::open((m_folder / key).c_str(), O_RDONLY | O_CLOEXEC);
        return fd >= 0 ? std::make_unique<FileReader>(fd) : nullptr;
    }

    bool exists(const std::string& key) override {
        std::error_code ec;
        return std::filesystem::is_regular_file(m_folder / key, ec);
    }

    // Runs at start, before any upload: a file being received has no entry
    // yet and goes too.
    int sweep(const std::set<std::string>& known) override {
        int removed = 0;
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

private:
    std::filesystem::path m_folder;
};

class DatabaseBodies;

// Pieces go to the database as they fill, each committed on its own from a
// page thread (the event thread only buffers), so an upload holds about one
// piece in memory.
class IncomingRows : public IncomingBody {
public:
    IncomingRows(DatabaseBodies& owner, std::string key) : m_owner(owner), m_key(std::move(key)) {}
    ~IncomingRows() override;

    bool write(const char* data, std::size_t size) override {
        if (m_failed)
            return false;
        m_size += size;
        m_buffer.append(data, size);
        return true;
    }
    bool wantsFlush() const override { return !m_failed && m_buffer.size() >= kChunkBytes; }
    bool flushFull() override;

    // Stores everything left, the last piece short.
    bool flush();
    const std::string& key() const { return m_key; }
    bool failed() const { return m_failed; }
    void kept() { m_kept = true; }
    std::int64_t pieces() const { return m_next; }

private:
    DatabaseBodies& m_owner;
    std::string m_key;
    std::string m_buffer;
    std::int64_t m_next = 0;
    bool m_failed = false;
    bool m_kept = false;
};

class DatabaseBodies : public MessageBodies {
public:
    DatabaseBodies(Database& db, std::shared_ptr<Clock> clock)
        : m_db(db), m_clock(std::move(clock)) {}

    bool prepare(std::string*) override { return true; }

    std::unique_ptr<IncomingBody> receive(std::string*) override {
        return std::make_unique<IncomingRows>(*this, randomKey());
    }

    bool keep(std::unique_ptr<IncomingBody> body, std::string* key, std::string* error) override {
        auto* rows = static_cast<IncomingRows*>(body.get());
        // An empty body still gets its one row, so that it exists.
        if (rows->failed() ||
            (!rows->flush() || (rows->pieces() == 0 && !writePiece(*rows, 0, {}))))
            return setError(error, "cannot store a message in the database");
        *key = rows->key();
        rows->kept();
        return true;
    }

    void remove(const std::string& key) override {
        try {
            auto guard = m_db.lock();
            Statement(m_db, "DELETE FROM message_bodies WHERE body_key = ?").bind(1, key).run();
        } catch (const DatabaseError&) {
            // Left for the sweep of a later start.
        }
    }

    std::unique_ptr<StoredBodyReader> open(const std::string& key) override;

    bool exists(const std::string& key) override {
        auto guard = m_db.lock();
        Statement query(m_db, "SELECT 1 FROM message_bodies WHERE body_key = ? AND seq = 0");
        query.bind(1, key);
        return query.step();
    }

    int sweep(const std::set<std::string>& known) override {
        std::vector<std::string> abandoned;
        auto guard = m_db.lock();
        Statement query(m_db, "SELECT body_key FROM message_bodies GROUP BY body_key "
                              "HAVING MAX(written_at) < ?");
        query.bind(1, m_clock->unixNow() - kAbandonedAfterSeconds);
        while (query.step())
            if (!known.count(query.text(0)))
                abandoned.push_back(query.text(0));
        for (const std::string& key : abandoned)
            Statement(m_db, "DELETE FROM message_bodies WHERE body_key = ?").bind(1, key).run();
        return static_cast<int>(abandoned.size());
    }

    bool writePiece(IncomingRows& rows, std::int64_t seq, std::string_view bytes) {
        try {
            auto guard = m_db.lock();
            Statement(m_db, "INSERT INTO message_bodies (body_key, seq, bytes, written_at) "
                            "VALUES (?, ?, ?, ?)")
                .bind(1, rows.key())
                .bind(2, seq)
                .bindBytes(3, bytes)
                .bind(4, m_clock->unixNow())
                .run();
            return true;
        } catch (const DatabaseError&) {
            return false;
        }
    }

    // One piece, or nullopt when it is not there.
    std::optional<std::string> readPiece(const std::string& key, std::int64_t seq) {
        auto guard = m_db.lock();
        Statement query(m_db, "SELECT bytes FROM message_bodies WHERE body_key = ? AND seq = ?");
        query.bind(1, key).bind(2, seq);
        if (!query.step())
            return std::nullopt;
        return query.bytes(0);
    }

private:
    Database& m_db;
    std::shared_ptr<Clock> m_clock;
};

bool IncomingRows::flushFull() {
    std::size_t at = 0;
    while (!m_failed && m_buffer.size() - at >= kChunkBytes) {
        if (!m_owner.writePiece(*this, m_next, std::string_view(m_buffer).substr(at, kChunkBytes)))
            m_failed = true;
        ++m_next;
        at += kChunkBytes;
    }
    m_buffer.erase(0, at);
    return !m_failed;
}

bool IncomingRows::flush() {
    if (!flushFull())
        return false;
    if (m_buffer.empty())
        return true;
    if (!m_owner.writePiece(*this, m_next, m_buffer)) {
        m_failed = true;
        return false;
    }
    ++m_next;
    m_buffer.clear();
    return true;
}

IncomingRows::~IncomingRows() {
    if (!m_kept && m_next > 0)
        m_owner.remove(m_key);
}

// Reads a body piece by piece. The first piece is read where the reader is
// opened (a page thread) and each next one in the background while the one
// before goes out, so the event thread that sends the reply rarely waits on
// the database; at most two pieces are held.
class RowReader : public StoredBodyReader {
public:
    RowReader(DatabaseBodies& owner, std::string key, std::string first)
        : m_owner(owner), m_key(std::move(key)), m_piece(std::move(first)), m_seq(0) {
        prefetch();
    }
    ~RowReader() override {
        if (m_next.valid())
            m_next.wait();
    }

    std::int64_t read(std::uint64_t offset, char* buffer, std::size_t max) override {
        const auto seq = static_cast<std::int64_t>(offset / kChunkBytes);
        if (seq != m_seq) {
            std::optional<std::string> piece;
            try {
                piece = m_next.valid() && m_nextSeq == seq ? m_next.get()
                                                           : m_owner.readPiece(m_key, seq);
            } catch (const DatabaseError&) {
                return -1;
            }
            if (!piece)
                return 0;
            m_piece = std::move(*piece);
            m_seq = seq;
            prefetch();
        }
        const std::size_t at = offset % kChunkBytes;
        if (at >= m_piece.size())
            return 0;
        const std::size_t n = std::min(max, m_piece.size() - at);
        std::memcpy(buffer, m_piece.data() + at, n);
        return static_cast<std::int64_t>(n);
    }

private:
    // A full piece may have another after it.
    void prefetch() {
        if (m_next.valid())
            m_next.wait();
        if (m_piece.size() < kChunkBytes)
            return;
        m_nextSeq = m_seq + 1;
        m_next = std::async(std::launch::async,
                            [this, seq = m_nextSeq] { return m_owner.readPiece(m_key, seq); });
    }

    DatabaseBodies& m_owner;
    std::string m_key;
    std::string m_piece;
    std::int64_t m_seq;
    std::future<std::optional<std::string>> m_next;
    std::int64_t m_nextSeq = -1;
};

std::unique_ptr<StoredBodyReader> DatabaseBodies::open(const std::string& key) {
    std::optional<std::string> first = readPiece(key, 0);
    if (!first)
        return nullptr;
    return std::make_unique<RowReader>(*this, key, std::move(*first));
}
} // namespace

std::unique_ptr<MessageBodies> makeFolderBodies(std::filesystem::path folder) {
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot be initialised");
    return std::make_unique<FolderBodies>(std::move(folder));
}

std::unique_ptr<MessageBodies> makeDatabaseBodies(Database& db, std::shared_ptr<Clock> clock) {
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot be initialised");
    return std::make_unique<DatabaseBodies>(db, std::move(clock));
}
