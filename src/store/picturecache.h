#pragma once

#include <QCache>
#include <QImage>
#include <QSize>
#include <QString>

#include <cstdint>
#include <mutex>

// The small pictures of the folder lists, ready to draw. A list paints every
// visible row again on each scroll step, and decoding a JPEG for each of them
// each time makes scrolling thousands of rows slow, so a picture is kept once
// decoded, colour-keyed and stretched to the size it is drawn at.
//
// Each entry remembers the identity of the file it came from (device, inode,
// size, modification and change times), and every lookup compares it with
// the file as it is now: a picture replaced on disk (a contact's picture
// after a received message) is decoded again at once, and a removed one is
// no longer drawn. A file that does not decode is remembered as such, so a
// corrupt thumbnail is not decoded again at every paint either.
//
// Only QImage is kept, so the cache holds nothing tied to the user-interface
// thread; it is safe to use from any thread.
class PictureCache {
public:
    // maxBytes bounds the memory of the kept pictures.
    explicit PictureCache(qint64 maxBytes = 8 * 1024 * 1024);

    // The picture of a file with exactly the pixels of `colourKey`
    // transparent, stretched to `size` without keeping its aspect. Null when
    // the file is missing or does not decode as a picture.
    QImage picture(const QString& path, QSize size, std::uint32_t colourKey = 0xFF00FF);

    // Files decoded so far (each decode, also a failing one).
    int decodeCount() const;
    int entryCount() const;
    void clear();

    // The cache the folder lists draw from.
    static PictureCache& lists();

private:
    struct FileIdentity {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::int64_t size = 0;
        std::int64_t modifiedNs = 0;
        std::int64_t changedNs = 0;
        friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
    };
    struct Entry {
        FileIdentity identity;
        QImage image;
    };
    static bool identify(const QString& path, FileIdentity& identity);

    mutable std::mutex m_mutex;
    QCache<QString, Entry> m_entries;
    int m_decodes = 0;
};
