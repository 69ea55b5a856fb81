#include "store/replacingfile.h"

#include <QDir>
#include <QFile>
#include <QIODevice>
#include <QRandomGenerator>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<unsigned> g_sequence{0};

// ".clipnote-<pid>-<sequence>-<random>.part": the pid tells whether the
// writer may still be at work.
const QLatin1String kTempPrefix(".clipnote-");
const QLatin1String kTempSuffix(".part");

QString uniqueTempName() {
    return QStringLiteral(".clipnote-%1-%2-%3.part")
        .arg(::getpid())
        .arg(g_sequence.fetch_add(1))
        .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

// The writer's pid of a temporary name of ours, or 0 for any other name.
pid_t writerOf(const QString& name) {
    if (!name.startsWith(kTempPrefix) || !name.endsWith(kTempSuffix))
        return 0;
    const QStringList fields =
        name.mid(kTempPrefix.size(), name.size() - kTempPrefix.size() - kTempSuffix.size())
            .split(QLatin1Char('-'));
    bool ok = false;
    const qlonglong pid = fields.size() == 3 ? fields.first().toLongLong(&ok) : 0;
    return ok && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

bool writerIsGone(pid_t pid) {
    return pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH;
}

bool writeAll(int fd, const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

ReplacingFile::ReplacingFile(QString target, QString tempFolder)
    : m_target(std::move(target)), m_tempFolder(std::move(tempFolder)) {}

ReplacingFile::~ReplacingFile() {
    discard();
}

bool ReplacingFile::open() {
    discard();
    m_failed = false;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString candidate = m_tempFolder + QLatin1Char('/') + uniqueTempName();
        // 0666 lets the umask decide, as for any file the program creates.
        m_fd = ::open(QFile::encodeName(candidate).constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_tempPath = candidate;
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    m_failed = true;
    return false;
}

bool ReplacingFile::write(const char* data, qint64 size) {
    if (m_fd < 0 || m_failed)
        return false;
    if (!writeAll(m_fd, data, size))
        m_failed = true;
    return !m_failed;
}

bool ReplacingFile::writeFrom(QIODevice& source) {
    char buffer[4096];
    for (;;) {
        const qint64 n = source.read(buffer, sizeof buffer);
        if (n < 0) {
            m_failed = true;
            return false;
        }
        if (n == 0)
            return !m_failed;
        if (!write(buffer, n))
            return false;
    }
}

bool ReplacingFile::writeFromFile(const QString& sourcePath) {
    // Without blocking, so that a pipe or device under a message's name
    // cannot hold the caller up: only a regular file is copied.
    const int in =
        ::open(QFile::encodeName(sourcePath).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (in < 0 || ::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (in >= 0)
            ::close(in);
        m_failed = true;
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            m_failed = true;
        if (n <= 0 || !write(buffer, n))
            break;
    }
    ::close(in);
    return !m_failed;
}

bool ReplacingFile::close() {
    if (m_fd >= 0) {
        if (::fsync(m_fd) != 0)
            m_failed = true;
        if (::close(m_fd) != 0)
            m_failed = true;
        m_fd = -1;
    }
    return !m_failed && !m_tempPath.isEmpty();
}

bool ReplacingFile::commit() {
    if (!close()) {
        discard();
        return false;
    }
    if (std::rename(QFile::encodeName(m_tempPath).constData(),
                    QFile::encodeName(m_target).constData()) != 0) {
        discard();
        return false;
    }
    m_tempPath.clear();
    return true;
}

void ReplacingFile::discard() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempPath.isEmpty()) {
        ::unlink(QFile::encodeName(m_tempPath).constData());
        m_tempPath.clear();
    }
}

bool writeFileReplacing(const QString& target, const QByteArray& bytes, const QString& tempFolder) {
    ReplacingFile file(target, tempFolder);
    return file.open() && file.write(bytes.constData(), bytes.size()) && file.commit();
}

bool copyFileReplacing(const QString& source, const QString& target, const QString& tempFolder) {
    ReplacingFile file(target, tempFolder);
    return file.open() && file.writeFromFile(source) && file.commit();
}

int sweepAbandonedTempFiles(const QString& tempFolder) {
    int removed = 0;
    const QStringList names = QDir(tempFolder)
                                  .entryList({kTempPrefix + QLatin1String("*") + kTempSuffix},
                                             QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        const pid_t writer = writerOf(name);
        if (writer != 0 && writerIsGone(writer) &&
            ::unlink(QFile::encodeName(tempFolder + QLatin1Char('/') + name).constData()) == 0)
            ++removed;
    }
    return removed;
}
