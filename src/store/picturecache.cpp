#include "store/picturecache.h"

#include "platform/resources.h"

#include <QFile>
#include <QImageReader>

#include <sys/stat.h>

namespace {
// What a remembered failure costs, so that the bound also holds for them.
constexpr int kFailureCost = 64;

QString keyOf(const QString& path, QSize size, std::uint32_t colourKey) {
    return QStringLiteral("%1x%2/%3/").arg(size.width()).arg(size.height()).arg(colourKey) + path;
}

std::int64_t nanoseconds(const timespec& time) {
    return std::int64_t(time.tv_sec) * 1000000000 + time.tv_nsec;
}
} // namespace

PictureCache::PictureCache(qint64 maxBytes) : m_entries(maxBytes) {}

PictureCache& PictureCache::lists() {
    static PictureCache cache;
    return cache;
}

bool PictureCache::identify(const QString& path, FileIdentity& identity) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    identity = {std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), std::int64_t(st.st_size),
                nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
    return true;
}

QImage PictureCache::picture(const QString& path, QSize size, std::uint32_t colourKey) {
    if (path.isEmpty() || size.isEmpty())
        return {};
    FileIdentity identity;
    const QString key = keyOf(path, size, colourKey);
    if (!identify(path, identity)) {
        std::lock_guard lock(m_mutex);
        m_entries.remove(key);
        return {};
    }
    {
        std::lock_guard lock(m_mutex);
        if (const Entry* entry = m_entries.object(key); entry && entry->identity == identity)
            return entry->image;
    }

    // Decoded outside the lock: another thread may draw meanwhile.
    QImageReader reader(path);
    const QImage decoded = reader.read();
    QImage image;
    if (!decoded.isNull())
        image = withColourKey(decoded, colourKey)
                    .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

    std::lock_guard lock(m_mutex);
    ++m_decodes;
    const qint64 cost =
        image.isNull() ? kFailureCost : qMax<qint64>(image.sizeInBytes(), kFailureCost);
    m_entries.insert(key, new Entry{identity, image}, cost);
    return image;
}

int PictureCache::decodeCount() const {
    std::lock_guard lock(m_mutex);
    return m_decodes;
}

int PictureCache::entryCount() const {
    std::lock_guard lock(m_mutex);
    return int(m_entries.count());
}

void PictureCache::clear() {
    std::lock_guard lock(m_mutex);
    m_entries.clear();
}
