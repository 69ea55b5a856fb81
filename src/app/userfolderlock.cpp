#include "app/userfolderlock.h"

#include <QLockFile>

UserFolderLock::UserFolderLock() = default;
UserFolderLock::~UserFolderLock() = default;

QString UserFolderLock::lockFilePath(const QString& userFolder) {
    // A dot-name beside the four message folders, so no list shows it.
    return userFolder + QStringLiteral("/.clipnote.lock");
}

UserFolderLock::Result UserFolderLock::take(const QString& userFolder) {
    m_lock = std::make_unique<QLockFile>(lockFilePath(userFolder));
    // A program stays signed in for days: only a holder whose process is
    // gone leaves a stale lock, never one that merely held it long.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return Result::Taken;
    const Result result =
        m_lock->error() == QLockFile::LockFailedError ? Result::InUse : Result::Failed;
    m_lock.reset();
    return result;
}

bool UserFolderLock::held() const {
    return m_lock && m_lock->isLocked();
}

void UserFolderLock::release() {
    m_lock.reset();
}
