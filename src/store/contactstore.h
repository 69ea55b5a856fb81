#pragma once

#include <QList>
#include <QString>

#include <optional>

// How many bytes of a contact file make its display name: the Contacts list
// reads 259, the main window's preview 254.
inline constexpr int kDisplayNameBytes = 259;
inline constexpr int kPreviewNameBytes = 254;
// The built-in contacts are records of this many bytes: name, then zeros.
inline constexpr int kBuiltInRecordBytes = 259;

inline constexpr char kBuiltInMeName[] = "Me";
inline constexpr char kBuiltInAdministratorName[] = "Ostrand Administrator";

struct Contact {
    QString id;          // the contact's user ID, which is its file name
    QString displayName; // the text of its file
    friend bool operator==(const Contact&, const Contact&) = default;
};

// The Contacts folder of a user folder F: one file per contact named by the
// user ID and holding the display name, and an optional picture ID.jpg.
// IDs are matched ignoring letter case, as one contact: "Alice@x.org" finds
// the file "alice@x.org". IDs from outside are checked with isSafeStoreName;
// an unsafe ID writes nothing and is no contact. Thread-safe: it keeps no
// state beyond the folder.
class ContactStore {
public:
    explicit ContactStore(QString userFolder);

    QString folderPath() const;
    // The file of a contact: an existing file matching the ID ignoring case,
    // else the ID itself. Empty for an unsafe ID.
    QString contactPath(const QString& id) const;
    // The contact's picture, found the same way.
    QString picturePath(const QString& id) const;

    // The display name: at most maxBytes bytes, up to the first zero byte.
    // Nothing when the file cannot be opened for reading.
    std::optional<QString> readDisplayName(const QString& id,
                                           int maxBytes = kDisplayNameBytes) const;
    // Every contact in file-system order; pictures and unreadable files are
    // left out.
    QList<Contact> list() const;
    // "Me" (file named by the user ID) and "Ostrand Administrator", as
    // 259-byte records; returns those that could be written.
    QList<Contact> createBuiltIns(const QString& userId) const;
    // The list, or the built-in contacts when the folder has no contact.
    QList<Contact> listOrCreateBuiltIns(const QString& userId) const;

    // Creates the contact or replaces its display name; the name's bytes are
    // written without a terminator.
    bool add(const QString& id, const QString& displayName) const;
    enum class AddResult { Added, AlreadyExists, Failed };
    // The same, but an existing contact is left as it is.
    AddResult addIfNew(const QString& id, const QString& displayName) const;

    // Whether the contact's file (not its picture) can be opened for reading.
    bool isContact(const QString& id) const;
    // Removes the picture, then the contact file; failures are passed over.
    void remove(const QString& id) const;
    // Copies a received thumbnail over the owner's picture, contact or not.
    bool storePicture(const QString& ownerId, const QString& sourcePath) const;

private:
    QString resolvedName(const QString& name) const;
    QString m_userFolder;
};
