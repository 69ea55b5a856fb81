#pragma once

#include <QString>

#include <memory>

class QLockFile;

// Keeps one user folder to one program: the Send/Receive worker of a second
// program on the same Outbox would send every message twice. The lock is a
// file in the user folder, held for the life of this object; the lock of a
// holder that died without removing it (its process is gone) is taken over.
class UserFolderLock {
public:
    UserFolderLock();
    ~UserFolderLock();
    UserFolderLock(const UserFolderLock&) = delete;
    UserFolderLock& operator=(const UserFolderLock&) = delete;

    static QString lockFilePath(const QString& userFolder);

    enum class Result { Taken, InUse, Failed };
    // Takes the lock of a user folder, giving up any lock held before.
    Result take(const QString& userFolder);
    bool held() const;
    void release();

private:
    std::unique_ptr<QLockFile> m_lock;
};
