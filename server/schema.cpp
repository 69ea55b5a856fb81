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
        {2, R"sql(
            -- Files waiting for their recipients, oldest first by id. file
            -- names the message's file in the message folder; an entry
            -- exists only once its file is complete on disk, and goes when
            -- the file has been delivered in full.
            CREATE TABLE messages (
                id INTEGER PRIMARY KEY AUTOINCREMENT,
                recipient_key TEXT NOT NULL REFERENCES accounts (uid_key) ON DELETE CASCADE,
                sender_key TEXT NOT NULL,
                name TEXT NOT NULL,
                file TEXT NOT NULL UNIQUE,
                size INTEGER NOT NULL,
                arrived_at INTEGER NOT NULL
            );
            CREATE INDEX messages_by_recipient ON messages (recipient_key, id);
        )sql"},
        {3, R"sql(
            -- name_key is the message name in ASCII lower case: names are
            -- made of user IDs, which compare without regard to case, and the
            -- client files a message under its name in lower case. A client
            -- confirms what it has filed by this name, and a repeated upload
            -- of a name is recognised by it.
            ALTER TABLE messages ADD COLUMN name_key TEXT NOT NULL DEFAULT '';
            UPDATE messages SET name_key = lower(name);
            CREATE INDEX messages_by_name ON messages (recipient_key, name_key);

            -- Names of messages retired after their delivery, kept for a while
            -- so that a sender that posts one again (it never saw the "OK")
            -- does not deliver it twice.
            CREATE TABLE delivered (
                name_key TEXT PRIMARY KEY NOT NULL,
                delivered_at INTEGER NOT NULL
            ) WITHOUT ROWID;
            CREATE INDEX delivered_by_age ON delivered (delivered_at);
        )sql"},
        {4, R"sql(
            -- A waiting message's bytes in pieces, where the service keeps
            -- them in the database rather than in its message folder (on
            -- PostgreSQL). The queue's entry names the body by its key.
            CREATE TABLE message_bodies (
                body_key TEXT NOT NULL,
                seq INTEGER NOT NULL,
                bytes BLOB NOT NULL,
                written_at INTEGER NOT NULL,
                PRIMARY KEY (body_key, seq)
            ) WITHOUT ROWID;
        )sql"},
        {5, R"sql(
            -- Until when a message is being handed to a client that does not
            -- confirm (seconds since 1970): no other server process hands it
            -- out meanwhile. A process that dies lets go when this passes.
            ALTER TABLE messages ADD COLUMN claimed_until INTEGER;
        )sql"},
        {6, R"sql(
            -- Failed sign-ins and how often account pages were asked for,
            -- where several server processes share them (on PostgreSQL);
            -- one process alone keeps them in memory. Times in seconds since
            -- 1970.
            CREATE TABLE sign_in_failures (
                uid_key TEXT PRIMARY KEY NOT NULL,
                failures INTEGER NOT NULL,
                last_failure INTEGER NOT NULL,
                locked_until INTEGER NOT NULL
            ) WITHOUT ROWID;
            CREATE TABLE rate_limits (
                kind TEXT NOT NULL,
                key TEXT NOT NULL,
                whole INTEGER NOT NULL,
                PRIMARY KEY (kind, key)
            ) WITHOUT ROWID;
        )sql"},
        {7, R"sql(
            -- Nothing to do here: SQLite reuses the pages that delivered
            -- bodies free without being told. The step keeps the numbers in
            -- line with PostgreSQL's.
        )sql"},
    };
    return steps;
}

const std::vector<Migration>& serverPostgresMigrations() {
    // The same steps as on SQLite, in PostgreSQL's words; a step added there
    // is added here with the same number.
    static const std::vector<Migration> steps = {
        {1, R"sql(
            CREATE TABLE accounts (
                uid_key TEXT PRIMARY KEY NOT NULL,
                uid TEXT NOT NULL,
                password_hash TEXT NOT NULL,
                pending_hash TEXT,
                pending_until BIGINT,
                created_at BIGINT NOT NULL
            );
            CREATE TABLE sessions (
                token_hash TEXT PRIMARY KEY NOT NULL,
                uid_key TEXT NOT NULL REFERENCES accounts (uid_key) ON DELETE CASCADE,
                created_at BIGINT NOT NULL,
                last_used BIGINT NOT NULL
            );
            CREATE INDEX sessions_by_user ON sessions (uid_key);
        )sql"},
        {2, R"sql(
            CREATE TABLE messages (
                id BIGSERIAL PRIMARY KEY,
                recipient_key TEXT NOT NULL REFERENCES accounts (uid_key) ON DELETE CASCADE,
                sender_key TEXT NOT NULL,
                name TEXT NOT NULL,
                file TEXT NOT NULL UNIQUE,
                size BIGINT NOT NULL,
                arrived_at BIGINT NOT NULL
            );
            CREATE INDEX messages_by_recipient ON messages (recipient_key, id);
        )sql"},
        {3, R"sql(
            ALTER TABLE messages ADD COLUMN name_key TEXT NOT NULL DEFAULT '';
            UPDATE messages SET name_key = lower(name);
            CREATE INDEX messages_by_name ON messages (recipient_key, name_key);
            CREATE TABLE delivered (
                name_key TEXT PRIMARY KEY NOT NULL,
                delivered_at BIGINT NOT NULL
            );
            CREATE INDEX delivered_by_age ON delivered (delivered_at);
        )sql"},
        {4, R"sql(
            CREATE TABLE message_bodies (
                body_key TEXT NOT NULL,
                seq BIGINT NOT NULL,
                bytes BYTEA NOT NULL,
                written_at BIGINT NOT NULL,
                PRIMARY KEY (body_key, seq)
            );
        )sql"},
        {5, R"sql(
            ALTER TABLE messages ADD COLUMN claimed_until BIGINT;
        )sql"},
        {6, R"sql(
            CREATE TABLE sign_in_failures (
                uid_key TEXT PRIMARY KEY NOT NULL,
                failures INTEGER NOT NULL,
                last_failure BIGINT NOT NULL,
                locked_until BIGINT NOT NULL
            );
            CREATE TABLE rate_limits (
                kind TEXT NOT NULL,
                key TEXT NOT NULL,
                whole BIGINT NOT NULL,
                PRIMARY KEY (kind, key)
            );
        )sql"},
        {7, R"sql(
            -- Bodies come and go all the time: every piece is deleted within
            -- seconds of being written. With the default thresholds the
            -- space of delivered pieces is reclaimed only after the table has
            -- doubled, so each new piece extended the files and pushed fresh
            -- pages through the buffers. Vacuum these two tables after a
            -- fixed number of dead rows instead, at full speed. The bytes are
            -- recorded video and do not compress: store them as they are.
            ALTER TABLE message_bodies ALTER COLUMN bytes SET STORAGE EXTERNAL;
            ALTER TABLE message_bodies SET (
                autovacuum_vacuum_scale_factor = 0, autovacuum_vacuum_threshold = 200,
                autovacuum_vacuum_cost_delay = 0,
                toast.autovacuum_vacuum_scale_factor = 0, toast.autovacuum_vacuum_threshold = 5000,
                toast.autovacuum_vacuum_cost_delay = 0);
            ALTER TABLE messages SET (
                autovacuum_vacuum_scale_factor = 0, autovacuum_vacuum_threshold = 1000,
                autovacuum_vacuum_cost_delay = 0);
        )sql"},
    };
    return steps;
}
