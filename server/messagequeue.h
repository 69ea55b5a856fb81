#pragma once

#include "clock.h"
#include "database.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>

// One file waiting for its recipient.
struct WaitingMessage {
    std::int64_t id = 0;
    std::string name; // as the sender named it: recipient;sender;stamp[.jpg]
    std::string file; // its file in the message folder
    std::int64_t size = 0;
    std::int64_t arrivedAt = 0; // seconds since 1970
};

// A file being received, written under a temporary dot-name in the message
// folder. Dropped again unless handed to MessageQueue::enqueue().
class IncomingFile {
public:
    ~IncomingFile();
    IncomingFile(const IncomingFile&) = delete;
    IncomingFile& operator=(const IncomingFile&) = delete;

    bool write(const char* data, std::size_t size);
    std::uint64_t size() const { return m_size; }

private:
    friend class MessageQueue;
    IncomingFile(int fd, std::filesystem::path path) : m_fd(fd), m_path(std::move(path)) {}
    bool flush();
    // Writes out what is buffered, flushes it to disk and closes the file.
    bool finish();

    int m_fd;
    std::filesystem::path m_path;
    std::string m_buffer;
    std::uint64_t m_size = 0;
    bool m_failed = false;
};

// The waiting messages: their files in the message folder, their entries in
// the database. A message is stored for good (file flushed to disk, entry
// committed) before enqueue() returns true, and leaves the queue only when
// retired: confirmed by its recipient, or acknowledged to its last byte by
// the recipient's machine. The names of retired messages are remembered for
// a while, so that a repeated upload of one is not delivered again.
class MessageQueue {
public:
    MessageQueue(Database& db, std::filesystem::path folder, std::shared_ptr<Clock> clock);

    // Creates the folder (owner-only) and sweeps it. False with a reason
    // when the folder cannot be used.
    bool prepare(std::string* error);

    std::unique_ptr<IncomingFile> receive(std::string* error);
    // Stores a received file for the recipient. False with a reason when it
    // could not be stored; the file is then gone. A name that waits already
    // or was delivered lately is not queued again, and that counts as
    // stored: the sender just never saw the answer to its first upload.
    bool enqueue(std::unique_ptr<IncomingFile> file, const std::string& recipientKey,
                 const std::string& senderKey, const std::string& name, std::string* error);

    // The oldest message waiting for the recipient, whether or not it is
    // being delivered right now.
    std::optional<WaitingMessage> oldest(const std::string& recipientKey);
    // The oldest message waiting for the recipient that is not being
    // delivered right now, marked as being delivered until release().
    std::optional<WaitingMessage> claimOldest(const std::string& recipientKey);
    void release(const WaitingMessage& message);
    // Takes a delivered message out of the queue: its entry and its file go,
    // its name is remembered.
    void retire(const WaitingMessage& message);
    // Retires the recipient's waiting message of that name (any letter
    // case). False when none waits under it.
    bool confirm(const std::string& recipientKey, const std::string& name);
    // Drops an entry whose file cannot be read.
    void dropBroken(const WaitingMessage& message);

    std::filesystem::path pathOf(const WaitingMessage& message) const;
    int waitingCount(const std::string& recipientKey);

    // Removes what a crash can leave: files without an entry (half-received
    // uploads, files of retired messages) and entries without a file, and
    // forgets the names of messages delivered long ago. Returns the number
    // of files and entries removed. Runs at start, before any upload: a file
    // being received has no entry yet.
    int sweep();

    // How long the name of a delivered message is remembered.
    static constexpr std::int64_t kRememberDeliveredSeconds = 30 * 24 * 3600;

private:
    // The caller holds the database lock.
    bool isKnownName(const std::string& recipientKey, const std::string& nameKey);
    void remove(const WaitingMessage& message, bool remember);

    Database& m_db;
    std::filesystem::path m_folder;
    std::shared_ptr<Clock> m_clock;
    // Guarded by the database lock.
    std::set<std::int64_t> m_delivering;
};
