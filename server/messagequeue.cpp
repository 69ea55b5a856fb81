#include "messagequeue.h"

#include "userid.h"

#include <vector>

namespace {
std::string queueScope(const std::string& recipientKey) {
    return "queue:" + recipientKey;
}

bool setError(std::string* error, const std::string& text) {
    if (error)
        *error = text;
    return false;
}
} // namespace

MessageQueue::MessageQueue(Database& db, std::filesystem::path folder, std::shared_ptr<Clock> clock,
                           QueueLimits limits)
    : m_db(db),
      // On PostgreSQL the bytes live in the database too: servers sharing it
      // keep nothing of their own.
      m_bodies(db.kind() == Database::Kind::Postgres ? makeDatabaseBodies(db, clock)
                                                     : makeFolderBodies(std::move(folder))),
      m_clock(std::move(clock)), m_limits(limits) {}

bool MessageQueue::prepare(std::string* error) {
    if (!m_bodies->prepare(error))
        return false;
    sweep();
    return true;
}

std::unique_ptr<IncomingBody> MessageQueue::receive(std::string* error) {
    return m_bodies->receive(error);
}

bool MessageQueue::hasRoomFor(const std::string& recipientKey, const std::string& name,
                              std::uint64_t bytes) {
    auto guard = m_db.lock();
    return roomFor(recipientKey, userIdKey(name), bytes) != Room::Full;
}

bool MessageQueue::enqueue(std::unique_ptr<IncomingBody> file, const std::string& recipientKey,
                           const std::string& senderKey, const std::string& name,
                           std::string* error, EnqueueRefusal* refusal) {
    if (refusal)
        *refusal = EnqueueRefusal::StorageFailed;
    const std::uint64_t size = file->size();
    std::string stored;
    if (!m_bodies->keep(std::move(file), &stored, error))
        return false;
    // The bytes go again unless the entry commits.
    struct Unclaimed {
        MessageBodies& bodies;
        const std::string& key;
        bool claimed = false;
        ~Unclaimed() {
            if (!claimed)
                bodies.remove(key);
        }
    } unclaimed{*m_bodies, stored};
    const std::string nameKey = userIdKey(name);
    try {
        auto guard = m_db.lock();
        // One recipient's queue at a time: its limits and its names.
        Transaction transaction(m_db, queueScope(recipientKey));
        const Room room = roomFor(recipientKey, nameKey, size);
        if (room == Room::KnownName)
            return true;
        if (room == Room::Full) {
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
            .bind(5, static_cast<std::int64_t>(size))
            .bind(6, m_clock->unixNow())
            .bind(7, nameKey)
            .run();
        transaction.commit();
    } catch (const DatabaseError& e) {
        return setError(error, e.what());
    }
    unclaimed.claimed = true;
    return true;
}

MessageQueue::Room MessageQueue::roomFor(const std::string& recipientKey,
                                         const std::string& nameKey, std::uint64_t bytes) {
    // One query: every round trip to the database costs on a busy server.
    Statement query(m_db,
                    "SELECT "
                    "(SELECT COUNT(*) FROM messages WHERE recipient_key = ? AND name_key = ?) "
                    "+ (SELECT COUNT(*) FROM delivered WHERE name_key = ?), "
                    "(SELECT COUNT(*) FROM messages WHERE recipient_key = ?), "
                    "CAST(COALESCE((SELECT SUM(size) FROM messages WHERE recipient_key = ?), "
                    "0) AS BIGINT)");
    query.bind(1, recipientKey)
        .bind(2, nameKey)
        .bind(3, nameKey)
        .bind(4, recipientKey)
        .bind(5, recipientKey);
    query.step();
    if (query.integer(0) > 0)
        return Room::KnownName;
    const auto files = static_cast<std::uint64_t>(query.integer(1));
    const auto waitingBytes = static_cast<std::uint64_t>(query.integer(2));
    return files < m_limits.files && waitingBytes <= m_limits.bytes &&
                   bytes <= m_limits.bytes - waitingBytes
               ? Room::Fits
               : Room::Full;
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
    if (m_db.kind() == Database::Kind::Postgres) {
        // Shared with the other server processes: the claim is a row lock
        // taken once, and a mark that outlives it until released or expired.
        const std::int64_t now = m_clock->unixNow();
        Statement claim(m_db, "UPDATE messages SET claimed_until = ? WHERE id = ("
                              "SELECT id FROM messages WHERE recipient_key = ? AND "
                              "(claimed_until IS NULL OR claimed_until < ?) ORDER BY id "
                              "LIMIT 1 FOR UPDATE SKIP LOCKED) "
                              "RETURNING id, name, file, size, arrived_at");
        claim.bind(1, now + kClaimSeconds).bind(2, recipientKey).bind(3, now);
        if (!claim.step())
            return std::nullopt;
        // Known here too, so that nothing here expires it however long the
        // delivery takes.
        std::lock_guard claims(m_claimMutex);
        m_delivering.insert(claim.integer(0));
        return waitingFrom(claim);
    }
    std::lock_guard claims(m_claimMutex);
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
    {
        std::lock_guard claims(m_claimMutex);
        m_delivering.erase(message.id);
    }
    if (m_db.kind() == Database::Kind::Postgres) {
        try {
            auto guard = m_db.lock();
            Statement(m_db, "UPDATE messages SET claimed_until = NULL WHERE id = ?")
                .bind(1, message.id)
                .run();
        } catch (const DatabaseError&) {
            // The claim runs out by itself.
        }
    }
}

void MessageQueue::renewClaims() {
    if (m_db.kind() != Database::Kind::Postgres)
        return;
    // All in one statement: the ids as one array value.
    std::string ids;
    {
        std::lock_guard claims(m_claimMutex);
        for (const std::int64_t id : m_delivering)
            ids += (ids.empty() ? "" : ",") + std::to_string(id);
    }
    if (ids.empty())
        return;
    auto guard = m_db.lock();
    Statement(m_db, "UPDATE messages SET claimed_until = ? WHERE id = ANY(CAST(? AS BIGINT[])) "
                    "AND claimed_until IS NOT NULL")
        .bind(1, m_clock->unixNow() + kClaimSeconds)
        .bind(2, "{" + ids + "}")
        .run();
}

bool MessageQueue::isClaimed(std::int64_t id, std::int64_t claimedUntil) const {
    return claimedUntil > m_clock->unixNow() || m_delivering.count(id) > 0;
}

void MessageQueue::retire(const WaitingMessage& message) {
    remove(message, true);
}

bool MessageQueue::confirm(const std::string& recipientKey, const std::string& name) {
    const std::string nameKey = userIdKey(name);
    std::string file;
    {
        auto guard = m_db.lock();
        Transaction transaction(m_db, queueScope(recipientKey));
        {
            // Found and taken out in one statement.
            Statement take(m_db, "DELETE FROM messages WHERE id = (SELECT id FROM messages "
                                 "WHERE recipient_key = ? AND name_key = ? ORDER BY id LIMIT 1) "
                                 "RETURNING file");
            take.bind(1, recipientKey).bind(2, nameKey);
            if (!take.step())
                return false;
            file = take.text(0);
            take.run();
        }
        rememberDelivered(nameKey);
        transaction.commit();
    }
    // As in remove(): the entry is gone for good before its bytes.
    m_bodies->remove(file);
    return true;
}

void MessageQueue::dropBroken(const WaitingMessage& message) {
    remove(message, false);
}

void MessageQueue::remove(const WaitingMessage& message, bool remember) {
    {
        auto guard = m_db.lock();
        // The name's first field is its recipient.
        const std::string name = message.name.substr(0, message.name.find(';'));
        Transaction transaction(m_db, queueScope(userIdKey(name)));
        Statement(m_db, "DELETE FROM messages WHERE id = ?").bind(1, message.id).run();
        if (remember)
            rememberDelivered(userIdKey(message.name));
        transaction.commit();
    }
    // The entry is gone for good before its bytes go; a crash in between
    // leaves bytes that the next sweep removes.
    m_bodies->remove(message.file);
}

void MessageQueue::rememberDelivered(const std::string& nameKey) {
    Statement(m_db, "INSERT INTO delivered (name_key, delivered_at) VALUES (?, ?) "
                    "ON CONFLICT (name_key) DO UPDATE SET delivered_at = excluded.delivered_at")
        .bind(1, nameKey)
        .bind(2, m_clock->unixNow())
        .run();
}

std::unique_ptr<StoredBodyReader> MessageQueue::openBody(const WaitingMessage& message) {
    return m_bodies->open(message.file);
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
        Statement query(m_db, "SELECT id, name, file, size, arrived_at, "
                              "COALESCE(claimed_until, 0) FROM messages WHERE arrived_at < ?");
        query.bind(1, m_clock->unixNow() - maxAgeSeconds);
        std::lock_guard claims(m_claimMutex);
        while (query.step()) {
            if (!isClaimed(query.integer(0), query.integer(5)))
                expired.push_back(waitingFrom(query));
        }
        Transaction transaction(m_db);
        for (const WaitingMessage& message : expired)
            Statement(m_db, "DELETE FROM messages WHERE id = ?").bind(1, message.id).run();
        transaction.commit();
    }
    // As in remove(): the entries are gone for good before the bytes.
    for (const WaitingMessage& message : expired)
        m_bodies->remove(message.file);
    return static_cast<int>(expired.size());
}

int MessageQueue::forgetOldDeliveredNames() {
    auto guard = m_db.lock();
    Statement forget(m_db, "DELETE FROM delivered WHERE delivered_at < ?");
    forget.bind(1, m_clock->unixNow() - kRememberDeliveredSeconds).run();
    return forget.changes();
}

int MessageQueue::sweep() {
    std::vector<std::pair<std::int64_t, std::string>> entries;
    {
        auto guard = m_db.lock();
        Statement query(m_db, "SELECT id, file FROM messages");
        while (query.step())
            entries.emplace_back(query.integer(0), query.text(1));
    }
    // Looked up outside the lock: the database's bodies take it themselves.
    std::set<std::string> known;
    std::vector<std::int64_t> missing;
    for (const auto& [id, file] : entries) {
        if (m_bodies->exists(file))
            known.insert(file);
        else
            missing.push_back(id);
    }
    int removed = 0;
    {
        auto guard = m_db.lock();
        std::lock_guard claims(m_claimMutex);
        for (const std::int64_t id : missing) {
            if (m_delivering.count(id))
                continue;
            Statement(m_db, "DELETE FROM messages WHERE id = ?").bind(1, id).run();
            ++removed;
        }
    }
    forgetOldDeliveredNames();
    return removed + m_bodies->sweep(known);
}
