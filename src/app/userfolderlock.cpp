#include "app/userfolderlock.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

UserFolderLock::~UserFolderLock() {
    release();
}

QString UserFolderLock::lockFilePath(const QString& userFolder) {
    // A dot-name beside the four message folders, so no list shows it.
    return userFolder + QStringLiteral("/.clipnote.lock");
}

UserFolderLock::Result UserFolderLock::take(const QString& userFolder) {
    release();
    const QByteArray path = QFile::encodeName(lockFilePath(userFolder));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return Result::Failed;
    // The file stays when the lock is given up: removing it would let a
    // second program lock a fresh file while a third still holds the old one.
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked == 0) {
        m_fd = fd;
        return Result::Taken;
    }
    const Result result = errno == EWOULDBLOCK ? Result::InUse : Result::Failed;
    ::close(fd);
    return result;
}

void UserFolderLock::release() {
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
}
