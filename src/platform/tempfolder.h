#pragma once

#include <QString>

// The private working folder of one signed-in user: the last recording
// (vnote.wmv, vnote.jpg) and the record being downloaded (vnin.dat) live
// there and nowhere else. It is <base>/clipnote-<system uid>/<user ID>/, the
// base being $XDG_RUNTIME_DIR when set and the system's temporary folder
// otherwise. Both levels are made mode 0700 and must belong to the current
// system user and be real folders, not symbolic links: a folder someone else
// controls is never used, as its owner could read or replace the recording.

// The folder for a user ID, created and checked on every call, ending in
// "/". Empty when the user ID cannot name a folder or the folder cannot be
// made private; *error then says why.
QString privateWorkingFolder(const QString& userId, QString* error = nullptr);

// privateWorkingFolder() of the signed-in user (ClientCore's m_strUserId).
// Empty before sign-in and whenever the folder cannot be used: callers write
// nothing then.
QString GetTempPath();
