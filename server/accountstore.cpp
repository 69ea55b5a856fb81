#include "accountstore.h"

#include "userid.h"

AccountStore::AccountStore(Database& db, const PasswordHasher& hasher, std::shared_ptr<Clock> clock)
    : m_db(db), m_hasher(hasher), m_clock(std::move(clock)),
      m_decoyHash(hasher.hash(generatePassword())) {}

std::optional<Account> AccountStore::find(std::string_view userId) {
    auto row = load(userIdKey(userId));
    if (!row)
        return std::nullopt;
    return row->account;
}

std::optional<AccountStore::Row> AccountStore::load(const std::string& key) {
    auto guard = m_db.lock();
    Statement query(m_db, "SELECT uid, password_hash, pending_hash, pending_until "
                          "FROM accounts WHERE uid_key = ?");
    query.bind(1, key);
    if (!query.step())
        return std::nullopt;
    Row row{{key, query.text(0)}, query.text(1), std::nullopt};
    if (!query.isNull(2) && query.integer(3) > m_clock->unixNow())
        row.mailedHash = query.text(2);
    return row;
}

bool AccountStore::create(std::string_view userId, std::string_view password) {
    const std::string hash = m_hasher.hash(password);
    auto guard = m_db.lock();
    Statement insert(m_db, "INSERT INTO accounts (uid_key, uid, password_hash, created_at) "
                           "VALUES (?, ?, ?, ?) ON CONFLICT (uid_key) DO NOTHING");
    insert.bind(1, userIdKey(userId)).bind(2, userId).bind(3, hash).bind(4, m_clock->unixNow());
    insert.run();
    return insert.changes() == 1;
}

void AccountStore::remove(std::string_view userId) {
    auto guard = m_db.lock();
    Statement(m_db, "DELETE FROM accounts WHERE uid_key = ?").bind(1, userIdKey(userId)).run();
}

std::optional<Account> AccountStore::signIn(std::string_view userId, std::string_view password) {
    const auto row = load(userIdKey(userId));
    if (!row) {
        m_hasher.verify(m_decoyHash, password);
        return std::nullopt;
    }
    if (m_hasher.verify(row->passwordHash, password)) {
        if (row->mailedHash) {
            auto guard = m_db.lock();
            Statement(m_db, "UPDATE accounts SET pending_hash = NULL, pending_until = NULL "
                            "WHERE uid_key = ? AND pending_hash = ?")
                .bind(1, row->account.key)
                .bind(2, *row->mailedHash)
                .run();
        }
        return row->account;
    }
    if (row->mailedHash && m_hasher.verify(*row->mailedHash, password)) {
        // Only if nobody changed the password meanwhile.
        auto guard = m_db.lock();
        Statement promote(m_db, "UPDATE accounts SET password_hash = pending_hash, "
                                "pending_hash = NULL, pending_until = NULL "
                                "WHERE uid_key = ? AND pending_hash = ?");
        promote.bind(1, row->account.key).bind(2, *row->mailedHash).run();
        if (promote.changes() == 1)
            return row->account;
    }
    return std::nullopt;
}

bool AccountStore::setPassword(std::string_view userId, std::string_view password) {
    const std::string hash = m_hasher.hash(password);
    auto guard = m_db.lock();
    Statement update(m_db, "UPDATE accounts SET password_hash = ?, pending_hash = NULL, "
                           "pending_until = NULL WHERE uid_key = ?");
    update.bind(1, hash).bind(2, userIdKey(userId)).run();
    return update.changes() == 1;
}

bool AccountStore::setMailedPassword(std::string_view userId, std::string_view password) {
    const std::string hash = m_hasher.hash(password);
    const auto until =
        m_clock->unixNow() +
        std::chrono::duration_cast<std::chrono::seconds>(kMailedPasswordLifetime).count();
    auto guard = m_db.lock();
    Statement update(m_db,
                     "UPDATE accounts SET pending_hash = ?, pending_until = ? WHERE uid_key = ?");
    update.bind(1, hash).bind(2, until).bind(3, userIdKey(userId)).run();
    return update.changes() == 1;
}
