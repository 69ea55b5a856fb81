#pragma once

#include "postgrescluster.h"
#include "postgresdatabase.h"
#include "schema.h"
#include "serverprocess.h"
#include "sqlitedatabase.h"
#include "testenvironment.h"

#include <QDir>
#include <QStringList>

#include <memory>
#include <string>

// The service's database for a store test: the SQLite file, or a fresh
// database on the test program's PostgreSQL cluster when the run goes
// against PostgreSQL.
// On PostgreSQL the file holds the address of the database made for it,
// so that opening the same file again opens the same database, and a file
// that was removed stands for a fresh one.
// The schema steps are the server's unless given.
inline std::unique_ptr<Database> openTestDatabase(const std::string& sqliteFile,
                                                  const std::vector<Migration>& sqliteSteps,
                                                  const std::vector<Migration>& postgresSteps) {
    if (!PostgresCluster::testsUsePostgres())
        return std::make_unique<SqliteDatabase>(sqliteFile, sqliteSteps);
    const QString marker = QString::fromStdString(sqliteFile);
    QString url = QString::fromUtf8(readFile(marker));
    if (url.isEmpty()) {
        PostgresCluster* cluster = PostgresCluster::shared();
        url = cluster ? cluster->createDatabase() : QString();
        if (url.isEmpty() || !writeFile(marker, url.toUtf8()))
            throw DatabaseError("no PostgreSQL database for the test");
    }
    return std::make_unique<PostgresDatabase>(url.toStdString(), postgresSteps);
}

inline std::unique_ptr<Database> openTestDatabase(const std::string& sqliteFile) {
    return openTestDatabase(sqliteFile, serverMigrations(), serverPostgresMigrations());
}

// The database of a running test server, opened beside it.
inline std::unique_ptr<Database> openServerDatabase(const ServerProcess& server) {
    if (!server.databaseUrl().isEmpty())
        return std::make_unique<PostgresDatabase>(server.databaseUrl().toStdString(),
                                                  serverPostgresMigrations());
    return std::make_unique<SqliteDatabase>(
        (server.dataDir() + QStringLiteral("/clipnote.db")).toStdString(), serverMigrations());
}

// The bodies a test server keeps: the files in its message folder, or on
// PostgreSQL the keys of the bodies in its database.
inline QStringList storedMessageBodies(const ServerProcess& server) {
    if (server.databaseUrl().isEmpty())
        return QDir(server.dataDir() + QStringLiteral("/messages"))
            .entryList(QDir::Files | QDir::Hidden, QDir::Name);
    const std::unique_ptr<Database> db = openServerDatabase(server);
    auto guard = db->lock();
    Statement query(*db, "SELECT DISTINCT body_key FROM message_bodies ORDER BY body_key");
    QStringList keys;
    while (query.step())
        keys << QString::fromStdString(query.text(0));
    return keys;
}
