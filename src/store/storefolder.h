#pragma once

#include <QString>

// The four folders of a user folder, numbered as the tabs and the counts
// number them everywhere.
enum class Folder : int { Inbox = 0, Outbox = 1, Sent = 2, Contacts = 3 };

inline constexpr int kFolderCount = 4;

// "Inbox", "Outbox", "Sent", "Contacts": the names the folders are created
// with at sign-in.
QString folderCreatedName(Folder folder);
// "inbox", "outbox", "sent", "contacts": the names every path uses.
QString folderAddressedName(Folder folder);
// The folder of a tab or count index 0..3; false for any other index.
bool folderFromIndex(int index, Folder* folder);

// The folder's name as it exists on disk under the user folder. Paths address
// folders in lower case while sign-in creates them capitalised, so the name
// is matched ignoring case; the capitalised folder wins when both exist, and
// the capitalised name is used when none exists yet. Costs one stat when the
// capitalised folder exists. Thread-safe.
QString resolveFolderName(const QString& userFolder, Folder folder);
// userFolder + "/" + the resolved name. The user folder is used as given,
// never lower-cased.
QString resolvedFolderPath(const QString& userFolder, Folder folder);
