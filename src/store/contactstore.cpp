#include "store/contactstore.h"

#include "service/serviceaddress.h"
#include "store/folderlisting.h"
#include "store/replacingfile.h"
#include "store/storefolder.h"
#include "store/storenames.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens a file for reading. Only a regular file is a contact: a folder
// cannot be read, and a pipe under a contact's name would otherwise hold
// the list up until someone writes to it.
int openForReading(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

QByteArray builtInRecord(const char* displayName) {
    QByteArray record(displayName);
    record.resize(kBuiltInRecordBytes, '\0');
    return record;
}

} // namespace

ContactStore::ContactStore(QString userFolder) : m_userFolder(std::move(userFolder)) {}

QString ContactStore::folderPath() const {
    return resolvedFolderPath(m_userFolder, Folder::Contacts);
}

QString ContactStore::resolvedName(const QString& name) const {
    const QString found = findEntryIgnoringCase(folderPath(), name, EntryKind::File);
    return found.isEmpty() ? name : found;
}

QString ContactStore::contactPath(const QString& id) const {
    if (!isSafeStoreName(id))
        return {};
    return folderPath() + QLatin1Char('/') + resolvedName(id);
}

QString ContactStore::picturePath(const QString& id) const {
    if (!isSafeStoreName(id))
        return {};
    return folderPath() + QLatin1Char('/') + resolvedName(thumbnailName(Folder::Contacts, id));
}

std::optional<QString> ContactStore::readDisplayName(const QString& id, int maxBytes) const {
    const QString path = contactPath(id);
    if (path.isEmpty())
        return std::nullopt;
    const int fd = openForReading(path);
    if (fd < 0)
        return std::nullopt;
    QByteArray bytes(qMax(maxBytes, 0), '\0');
    qsizetype filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + filled, size_t(bytes.size() - filled));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        filled += n;
    }
    ::close(fd);
    bytes.truncate(filled);
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    return QString::fromUtf8(bytes);
}

QList<Contact> ContactStore::list() const {
    QList<Contact> contacts;
    for (const QString& name : listFileNames(folderPath())) {
        if (isThumbnailName(name))
            continue;
        if (const auto displayName = readDisplayName(name))
            contacts.append({name, *displayName});
    }
    return contacts;
}

QList<Contact> ContactStore::createBuiltIns(const QString& userId) const {
    QList<Contact> created;
    const QString administrator = QLatin1String(kAdministratorAddress);
    const std::pair<QString, const char*> builtIns[] = {{userId, kBuiltInMeName},
                                                        {administrator, kBuiltInAdministratorName}};
    for (const auto& [id, displayName] : builtIns) {
        const QString path = contactPath(id);
        if (!path.isEmpty() && writeFileReplacing(path, builtInRecord(displayName), m_userFolder))
            created.append({id, QLatin1String(displayName)});
    }
    return created;
}

QList<Contact> ContactStore::listOrCreateBuiltIns(const QString& userId) const {
    QList<Contact> contacts = list();
    return contacts.isEmpty() ? createBuiltIns(userId) : contacts;
}

bool ContactStore::add(const QString& id, const QString& displayName) const {
    const QString path = contactPath(id);
    return !path.isEmpty() && writeFileReplacing(path, displayName.toUtf8(), m_userFolder);
}

ContactStore::AddResult ContactStore::addIfNew(const QString& id,
                                               const QString& displayName) const {
    if (isContact(id))
        return AddResult::AlreadyExists;
    return add(id, displayName) ? AddResult::Added : AddResult::Failed;
}

bool ContactStore::isContact(const QString& id) const {
    const QString path = contactPath(id);
    if (path.isEmpty())
        return false;
    const int fd = openForReading(path);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

void ContactStore::remove(const QString& id) const {
    const QString picture = picturePath(id);
    const QString contact = contactPath(id);
    if (picture.isEmpty() || contact.isEmpty())
        return;
    ::unlink(QFile::encodeName(picture).constData());
    ::unlink(QFile::encodeName(contact).constData());
}

bool ContactStore::storePicture(const QString& ownerId, const QString& sourcePath) const {
    if (!isSafeStoreName(ownerId))
        return false;
    // The picture goes beside the contact's own file, in its letter case, so
    // the Contacts list finds it under the name it knows.
    const QString picture = folderPath() + QLatin1Char('/') +
                            resolvedName(thumbnailName(Folder::Contacts, resolvedName(ownerId)));
    return copyFileReplacing(sourcePath, picture, m_userFolder);
}
