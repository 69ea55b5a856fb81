#pragma once

// Helpers shared by the message store tests: a user folder under a path with
// capitals, and a snapshot of every file under a folder to prove that an
// operation wrote nothing where it must not.

#include "testenvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QString>

// Every path under root (files, folders, links), with its bytes for files.
inline QMap<QString, QByteArray> snapshotTree(const QString& root) {
    QMap<QString, QByteArray> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        tree.insert(path, info.isFile() ? readFile(path) : QByteArray("<entry>"));
    }
    return tree;
}

// Creates F = <root>/<parent>/<user> with the four folders as sign-in
// creates them (capitalised), or in the letter case given.
inline QString
makeUserFolder(const TestEnvironment& env, const QString& parent, const QString& user,
               const QStringList& folders = {"Inbox", "Outbox", "Sent", "Contacts"}) {
    const QString base = env.makeFolder(parent);
    const QString userFolder = base + QLatin1Char('/') + user;
    for (const QString& folder : folders)
        QDir().mkpath(userFolder + QLatin1Char('/') + folder);
    return userFolder;
}

// Names of the files directly in a folder, sorted.
inline QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}
