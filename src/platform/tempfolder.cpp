#include "platform/tempfolder.h"

#include "app/clientcore.h"
#include "store/storenames.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString baseFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime))
        return QDir::cleanPath(runtime);
    return QDir::cleanPath(QDir::tempPath());
}

// Makes `path` a folder only the current system user can enter, or says why
// it cannot be one. An existing folder is taken only when it is a real
// folder of this user; its mode is then narrowed to 0700.
bool makePrivateFolder(const QString& path, QString* error) {
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) {
        *error = QStringLiteral("%1 cannot be created: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0) {
        *error = QStringLiteral("%1 cannot be read: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *error = QStringLiteral("%1 is not a folder of its own").arg(path);
        return false;
    }
    if (st.st_uid != ::geteuid()) {
        *error = QStringLiteral("%1 belongs to another user").arg(path);
        return false;
    }
    if ((st.st_mode & 07777) != 0700 && ::chmod(name.constData(), 0700) != 0) {
        *error = QStringLiteral("%1 cannot be made private").arg(path);
        return false;
    }
    return true;
}

} // namespace

QString privateWorkingFolder(const QString& userId, QString* error) {
    QString ignored;
    QString& why = error ? *error : ignored;
    why.clear();
    // The user ID names a folder, under the same rule as the user folder.
    if (!isSafeStoreName(userId)) {
        why = QStringLiteral("the user ID cannot name a folder");
        return {};
    }
    const QString mine =
        baseFolder() + QStringLiteral("/clipnote-%1").arg(static_cast<qulonglong>(::geteuid()));
    const QString folder = mine + QLatin1Char('/') + userId;
    if (!makePrivateFolder(mine, &why) || !makePrivateFolder(folder, &why))
        return {};
    return folder + QLatin1Char('/');
}

QString GetTempPath() {
    const ClientCore* core = ClientCore::instance();
    if (!core || core->m_strUserId.isEmpty())
        return {};
    return privateWorkingFolder(core->m_strUserId);
}
