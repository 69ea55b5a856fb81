#include "store/storefolder.h"

#include "store/folderlisting.h"

#include <QFile>
#include <QHash>

#include <mutex>
#include <sys/stat.h>

namespace {

const char* const kCreatedNames[kFolderCount] = {"Inbox", "Outbox", "Sent", "Contacts"};

bool isDirectory(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Folders found under another letter case, so that a later call finds them
// with one stat instead of a scan of the user folder.
std::mutex g_cacheMutex;
QHash<QString, QString> g_variantCache;

QString cacheKey(const QString& userFolder, Folder folder) {
    return userFolder + QChar(0) + QString::number(static_cast<int>(folder));
}

} // namespace

QString folderCreatedName(Folder folder) {
    return QLatin1String(kCreatedNames[static_cast<int>(folder)]);
}

QString folderAddressedName(Folder folder) {
    return folderCreatedName(folder).toLower();
}

bool folderFromIndex(int index, Folder* folder) {
    if (index < 0 || index >= kFolderCount)
        return false;
    *folder = static_cast<Folder>(index);
    return true;
}

QString resolveFolderName(const QString& userFolder, Folder folder) {
    const QString created = folderCreatedName(folder);
    const QString prefix = userFolder + QLatin1Char('/');
    if (isDirectory(prefix + created))
        return created;

    const QString key = cacheKey(userFolder, folder);
    {
        std::lock_guard lock(g_cacheMutex);
        const auto it = g_variantCache.constFind(key);
        if (it != g_variantCache.constEnd() && isDirectory(prefix + *it))
            return *it;
    }
    const QString found = findEntryIgnoringCase(userFolder, created, EntryKind::Folder);
    std::lock_guard lock(g_cacheMutex);
    if (found.isEmpty()) {
        g_variantCache.remove(key);
        return created;
    }
    g_variantCache.insert(key, found);
    return found;
}

QString resolvedFolderPath(const QString& userFolder, Folder folder) {
    return userFolder + QLatin1Char('/') + resolveFolderName(userFolder, folder);
}
