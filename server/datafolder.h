#pragma once

#include <filesystem>
#include <string>

// The server's data folder: the database, the mail folder and the lock that
// keeps a second server from using the same folder at the same time.
class DataFolder {
public:
    DataFolder() = default;
    ~DataFolder();
    DataFolder(const DataFolder&) = delete;
    DataFolder& operator=(const DataFolder&) = delete;

    // Creates the folder (owner-only) if missing and takes the lock. False
    // with a reason when either fails.
    bool open(const std::filesystem::path& folder, std::string* error);

    const std::filesystem::path& root() const { return m_root; }
    std::filesystem::path databaseFile() const { return m_root / "clipnote.db"; }
    std::filesystem::path mailFolder() const { return m_root / "mail"; }
    std::filesystem::path messageFolder() const { return m_root / "messages"; }

private:
    std::filesystem::path m_root;
    int m_lockFd = -1;
};
