#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <sys/types.h>

enum class EntryKind { File, Folder };

// Visits the entries of one folder in the order the file system gives them,
// without "." and "..". `name` is the raw file name; `isFolder` follows
// symbolic links. One readdir pass; a stat only where the file system does not
// report the entry type. Returns false when the folder cannot be opened.
using EntryVisitor = std::function<void(const char* name, ino_t inode, bool isFolder)>;
bool forEachEntry(const QString& folderPath, const EntryVisitor& visit);

// The names of the files (not sub-folders) of a folder, in file-system order.
QStringList listFileNames(const QString& folderPath);

// The entry of a folder named `name` ignoring letter case: `name` itself when
// it exists with that kind, otherwise the first variant the listing gives,
// otherwise an empty text.
QString findEntryIgnoringCase(const QString& folderPath, const QString& name, EntryKind kind);
