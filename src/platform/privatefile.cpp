#include "platform/privatefile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

bool writePrivateFile(const QString& target, const QByteArray& bytes) {
    const QFileInfo info(target);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QByteArray temp =
            QFile::encodeName(info.absolutePath() + QStringLiteral("/.%1.%2.part")
                                                        .arg(info.fileName())
                                                        .arg(QRandomGenerator::global()->generate(),
                                                             8, 16, QLatin1Char('0')));
        const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        bool ok = writeAll(fd, bytes.constData(), bytes.size()) && ::fsync(fd) == 0;
        ok = ::close(fd) == 0 && ok;
        ok = ok && std::rename(temp.constData(), QFile::encodeName(target).constData()) == 0;
        if (!ok)
            ::unlink(temp.constData());
        return ok;
    }
    return false;
}
