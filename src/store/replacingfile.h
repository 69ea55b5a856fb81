#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

// Writes a file under a temporary dot-name in a folder of the caller's choice
// and renames it over its target only once complete, so the target's folder
// never shows a half-written file. The store keeps these temporary names in
// the user folder itself, outside the four listed folders. The temporary file
// is removed again when the write is not committed.
class ReplacingFile {
public:
    ReplacingFile(QString target, QString tempFolder);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    bool open();
    bool write(const char* data, qint64 size);
    // Copies everything a device still holds, 4096 bytes at a time.
    bool writeFrom(QIODevice& source);
    // Copies a whole file.
    bool writeFromFile(const QString& sourcePath);
    // Flushes the data to disk and closes the temporary file; it can then be
    // given properties (a date) before it takes the target's name.
    bool close();
    // Closes if needed and renames over the target, replacing any file there.
    bool commit();
    void discard();

    const QString& tempPath() const { return m_tempPath; }

private:
    QString m_target;
    QString m_tempFolder;
    QString m_tempPath;
    int m_fd = -1;
    bool m_failed = false;
};

// Whole-file helpers over ReplacingFile.
bool writeFileReplacing(const QString& target, const QByteArray& bytes, const QString& tempFolder);
bool copyFileReplacing(const QString& source, const QString& target, const QString& tempFolder);

// Removes the temporary files that writers killed part way left in a folder:
// those named by a process that no longer runs. Files of this process and of
// any live one are left alone, so a writer at work is never disturbed.
// Returns how many were removed.
int sweepAbandonedTempFiles(const QString& tempFolder);
