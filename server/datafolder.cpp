#include "datafolder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

DataFolder::~DataFolder() {
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

bool DataFolder::open(const std::filesystem::path& folder, std::string* error) {
    std::error_code ec;
    std::filesystem::path root = std::filesystem::absolute(folder, ec).lexically_normal();
    if (!root.has_filename() && root.has_relative_path())
        root = root.parent_path();
    if (ec) {
        *error = "cannot find the data folder " + folder.string() + ": " + ec.message();
        return false;
    }
    if (!std::filesystem::exists(root, ec)) {
        // It will hold password hashes and mailed passwords.
        std::filesystem::create_directories(root, ec);
        if (!ec)
            ::chmod(root.c_str(), 0700);
    }
    if (ec || !std::filesystem::is_directory(root)) {
        *error = "cannot create the data folder " + root.string() + ": " +
                 (ec ? ec.message() : "not a folder");
        return false;
    }
    const std::filesystem::path lockFile = root / "clipnote.lock";
    const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = "cannot use the data folder " + root.string() + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        *error = "another clipnote-server is using the data folder " + root.string();
        return false;
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_lockFd = fd;
    m_root = root;
    return true;
}
