#pragma once

#include <QDir>
#include <QFile>
#include <QString>

#include <csignal>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// A folder that refuses new files while the object lives, also for tests run
// as root: root ignores permission bits through two capabilities, which are
// then taken from the calling thread's effective set (they stay permitted
// and come back at the end). Only the calling thread is affected, so the
// refused writes must happen on it. active() is false where the folder could
// not be made to refuse; a test skips then.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(QString path) : m_path(std::move(path)) {
        ::chmod(QFile::encodeName(m_path).constData(), 0555);
        if (!refuses() && dropOverride())
            m_dropped = true;
        m_active = refuses();
    }
    ~ReadOnlyFolder() {
        if (m_dropped)
            capset(m_saved);
        ::chmod(QFile::encodeName(m_path).constData(), 0755);
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    bool active() const { return m_active; }

private:
    using Caps = __user_cap_data_struct[_LINUX_CAPABILITY_U32S_3];

    bool refuses() const {
        const QByteArray probe = QFile::encodeName(m_path + QStringLiteral("/.probe"));
        const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd < 0)
            return true;
        ::close(fd);
        ::unlink(probe.constData());
        return false;
    }
    static bool capget(Caps& caps) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        return ::syscall(SYS_capget, &header, caps) == 0;
    }
    static bool capset(Caps& caps) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        return ::syscall(SYS_capset, &header, caps) == 0;
    }
    bool dropOverride() {
        if (!capget(m_saved))
            return false;
        Caps reduced;
        std::copy(std::begin(m_saved), std::end(m_saved), std::begin(reduced));
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        return capset(reduced);
    }

    QString m_path;
    Caps m_saved{};
    bool m_dropped = false;
    bool m_active = false;
};

// The whole disk "full" for this process while the object lives: no file
// grows past `bytes`, and a write beyond fails with EFBIG instead of raising
// SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        m_set = ::getrlimit(RLIMIT_FSIZE, &m_old) == 0;
        if (m_set) {
            rlimit limited = m_old;
            limited.rlim_cur = bytes;
            m_set = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
        }
    }
    ~FileSizeLimit() {
        if (m_set)
            ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool active() const { return m_set; }

private:
    rlimit m_old{};
    bool m_set = false;
    void (*m_oldHandler)(int) = nullptr;
};
