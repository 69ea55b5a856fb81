#pragma once

#include <QString>

// Keeps one user folder to one program: the Send/Receive worker of a second
// program on the same Outbox would send every message twice. The lock is a
// kernel lock on a file in the user folder, held for the life of this object;
// the kernel lets go of it when its holder ends in any way, so a program that
// died never shuts the next one out, whatever it left in the file.
class UserFolderLock {
public:
    UserFolderLock() = default;
    ~UserFolderLock();
    UserFolderLock(const UserFolderLock&) = delete;
    UserFolderLock& operator=(const UserFolderLock&) = delete;

    static QString lockFilePath(const QString& userFolder);

    enum class Result { Taken, InUse, Failed };
    // Takes the lock of a user folder, giving up any lock held before.
    Result take(const QString& userFolder);
    bool held() const { return m_fd >= 0; }
    void release();

private:
    int m_fd = -1;
};
