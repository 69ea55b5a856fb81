#pragma once

#include "clock.h"
#include "database.h"
#include "messagebodies.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
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

// How much may wait for one recipient. A recipient who never signs in must
// not fill the server's disk, and one flooded recipient must not crowd out
// the others, so the bound is per recipient.
struct QueueLimits {
    std::uint64_t files = 500;
    std::uint64_t bytes = std::uint64_t(1) << 30;
};

// Why enqueue() did not store a file.
enum class EnqueueRefusal {
    // The recipient's queue has no room: the file would take it past its
    // QueueLimits. The sender may try again once the recipient has fetched.
    QueueFull,
    // The file could not be written or its entry not committed.
    StorageFailed,
};

// The waiting messages: their bytes in MessageBodies (files in the message
// folder, or rows of the database on PostgreSQL), their entries in the
// database. A message is stored for good (file flushed to disk, entry
// committed) before enqueue() returns true, and leaves the queue only when
// retired: confirmed by its recipient, or acknowledged to its last byte by
// the recipient's machine. The names of retired messages are remembered for
// a while, so that a repeated upload of one is not delivered again.
class MessageQueue {
public:
    MessageQueue(Database& db, std::filesystem::path folder, std::shared_ptr<Clock> clock,
                 QueueLimits limits = {});

    // Creates the folder (owner-only) and sweeps it. False with a reason
    // when the folder cannot be used.
    bool prepare(std::string* error);

    // Whether a file of that many bytes under that name would be stored now:
    // true when it fits the recipient's limits, and for a name that waits
    // already or was delivered lately, since enqueue() takes such a repeat
    // without storing anything. Asked before receiving a body, so that a
    // full queue costs the sender no upload; enqueue() asks again.
    bool hasRoomFor(const std::string& recipientKey, const std::string& name, std::uint64_t bytes);

    std::unique_ptr<IncomingBody> receive(std::string* error);
    // Stores a received file for the recipient. False with a reason when it
    // was not stored, and why in *refusal; the file is then gone, and what
    // waited already is untouched. A name that waits already or was
    // delivered lately is not queued again, and that counts as stored: the
    // sender just never saw the answer to its first upload. The limits are
    // checked in the same transaction as the insert, so two uploads racing
    // for the last room cannot both get it.
    bool enqueue(std::unique_ptr<IncomingBody> file, const std::string& recipientKey,
                 const std::string& senderKey, const std::string& name, std::string* error,
                 EnqueueRefusal* refusal = nullptr);

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

    // The message's bytes; null when they are gone.
    std::unique_ptr<StoredBodyReader> openBody(const WaitingMessage& message);
    int waitingCount(const std::string& recipientKey);

    // Removes the messages that have waited longer than maxAgeSeconds,
    // entry and file, except those being delivered right now; their names
    // are not remembered, so the sender may post them again. Returns how
    // many went. Safe while the server runs.
    int expireWaiting(std::int64_t maxAgeSeconds);
    // Forgets the names of messages delivered more than
    // kRememberDeliveredSeconds ago. Returns how many. Safe while the
    // server runs.
    int forgetOldDeliveredNames();

    // Removes what a crash can leave: files without an entry (half-received
    // uploads, files of retired messages) and entries without a file, and
    // forgets the names of messages delivered long ago. Returns the number
    // of files and entries removed. Runs at start, before any upload: a file
    // being received has no entry yet.
    int sweep();

    // Pushes the claims of the deliveries under way here kClaimSeconds into
    // the future, so that other server processes keep off them however long
    // a delivery takes. Called every kClaimSeconds / 4 while serving.
    void renewClaims();

    // How long a claim keeps a message from being handed out by another
    // server process after its own process died midway: claims are renewed
    // while their delivery goes on, so a dead process holds nothing longer.
    static constexpr std::int64_t kClaimSeconds = 120;

    // How long the name of a delivered message is remembered.
    static constexpr std::int64_t kRememberDeliveredSeconds = 30 * 24 * 3600;

private:
    // The caller holds the database lock.
    // Whether the name waits already or was delivered lately (a repeat,
    // stored without taking room), else whether that many bytes fit the
    // recipient's limits.
    enum class Room { KnownName, Fits, Full };
    Room roomFor(const std::string& recipientKey, const std::string& nameKey, std::uint64_t bytes);
    // Whether a message is being delivered, here or by another process.
    // The caller holds m_claimMutex.
    bool isClaimed(std::int64_t id, std::int64_t claimedUntil) const;
    void remove(const WaitingMessage& message, bool remember);
    // Keeps the name of a retired message, so that a repeated upload of it is
    // not delivered again. Inside the retiring transaction.
    void rememberDelivered(const std::string& nameKey);

    Database& m_db;
    std::unique_ptr<MessageBodies> m_bodies;
    std::shared_ptr<Clock> m_clock;
    const QueueLimits m_limits;
    // The messages this process is delivering to clients that do not
    // confirm; taken always after the database lock.
    std::mutex m_claimMutex;
    std::set<std::int64_t> m_delivering;
};
