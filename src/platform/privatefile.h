#pragma once

#include <QByteArray>
#include <QString>

// Writes a file only its owner may read (mode 0600, whatever the umask):
// under a fresh temporary name beside the target, flushed to disk, then
// renamed over it, so the target never holds a half-written file. False,
// with nothing left behind and the target as it was, on any failure.
bool writePrivateFile(const QString& target, const QByteArray& bytes);
