#include "store/folderlisting.h"

#include <QFile>

#include <dirent.h>
#include <sys/stat.h>

namespace {

bool entryIsFolder(DIR* dir, const dirent* entry) {
    if (entry->d_type == DT_DIR)
        return true;
    if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK)
        return false;
    struct stat st {};
    if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) != 0)
        return false; // a dangling link is an entry that is not a folder
    return S_ISDIR(st.st_mode);
}

bool existsAs(const QString& path, EntryKind kind) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) == (kind == EntryKind::Folder);
}

} // namespace

bool forEachEntry(const QString& folderPath, const EntryVisitor& visit) {
    DIR* dir = ::opendir(QFile::encodeName(folderPath).constData());
    if (!dir)
        return false;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        visit(name, entry->d_ino, entryIsFolder(dir, entry));
    }
    ::closedir(dir);
    return true;
}

QStringList listFileNames(const QString& folderPath) {
    QStringList names;
    forEachEntry(folderPath, [&](const char* name, ino_t, bool isFolder) {
        if (!isFolder)
            names.append(QFile::decodeName(name));
    });
    return names;
}

QString findEntryIgnoringCase(const QString& folderPath, const QString& name, EntryKind kind) {
    if (name.isEmpty())
        return {};
    if (existsAs(folderPath + QLatin1Char('/') + name, kind))
        return name;
    QString found;
    forEachEntry(folderPath, [&](const char* entry, ino_t, bool isFolder) {
        if (!found.isEmpty() || isFolder != (kind == EntryKind::Folder))
            return;
        const QString candidate = QFile::decodeName(entry);
        if (candidate.compare(name, Qt::CaseInsensitive) == 0)
            found = candidate;
    });
    return found;
}
