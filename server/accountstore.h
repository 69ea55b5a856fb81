#pragma once

#include "clock.h"
#include "database.h"
#include "passwords.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct Account {
    std::string key;    // the user ID in lower case
    std::string userId; // as registered
};

// The accounts table. IDs are looked up without regard to case; the callers
// have checked their shape (isValidUserId). Password hashing, the slow part,
// runs outside the database lock.
//
// create(), signIn(), setPassword() and setMailedPassword() hash or check a
// password, and throw PasswordHashingBusy (passwords.h) when too many hashes
// wait already; nothing has changed then, and the page should ask the client
// to try again later. The constructor hashes too.
class AccountStore {
public:
    AccountStore(Database& db, const PasswordHasher& hasher, std::shared_ptr<Clock> clock);

    std::optional<Account> find(std::string_view userId);
    // False when the ID (in any letter case) is already registered.
    bool create(std::string_view userId, std::string_view password);
    void remove(std::string_view userId);

    // The account when the password is its current one or an unexpired
    // mailed one. Using the mailed one makes it current; using the current
    // one forgets the mailed one. Takes about as long for an unknown ID as
    // for a known one, so timing does not tell which IDs exist.
    std::optional<Account> signIn(std::string_view userId, std::string_view password);

    // Replaces the password and forgets any mailed one. False for an
    // unknown ID.
    bool setPassword(std::string_view userId, std::string_view password);
    // Records a mailed password beside the current one, valid for
    // kMailedPasswordLifetime. False for an unknown ID.
    bool setMailedPassword(std::string_view userId, std::string_view password);

    static constexpr std::chrono::hours kMailedPasswordLifetime{24};

private:
    struct Row {
        Account account;
        std::string passwordHash;
        std::optional<std::string> mailedHash;
    };
    std::optional<Row> load(const std::string& key);

    Database& m_db;
    const PasswordHasher& m_hasher;
    std::shared_ptr<Clock> m_clock;
    std::string m_decoyHash;
};
