#include "schema.h"

const std::vector<Migration>& serverMigrations() {
    static const std::vector<Migration> steps = {
        {1, R"sql(
            -- uid_key is the user ID in lower case: IDs compare without regard
            -- to case, while uid keeps the spelling the owner registered.
            -- pending_hash is a password mailed on request; the old one stays
            -- valid until either is used, so a stranger asking for a new
            -- password cannot lock the owner out.
            CREATE TABLE accounts (
                uid_key TEXT PRIMARY KEY NOT NULL,
                uid TEXT NOT NULL,
                password_hash TEXT NOT NULL,
                pending_hash TEXT,
                pending_until INTEGER,
                created_at INTEGER NOT NULL
            ) WITHOUT ROWID;

            -- Only a hash of each session token is kept, so the database
            -- alone does not let anyone act as a signed-in user.
            CREATE TABLE sessions (
                token_hash TEXT PRIMARY KEY NOT NULL,
                uid_key TEXT NOT NULL REFERENCES accounts (uid_key) ON DELETE CASCADE,
                created_at INTEGER NOT NULL,
                last_used INTEGER NOT NULL
            ) WITHOUT ROWID;
            CREATE INDEX sessions_by_user ON sessions (uid_key);
        )sql"},
    };
    return steps;
}
