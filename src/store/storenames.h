#pragma once

#include "store/storefolder.h"

#include <QString>

#include <cstdint>

// Naming rules of the message store. Every function works on a file name
// inside one folder, never on the user folder, so a user folder holding
// capitals, ";" or ".jpg" changes nothing. None of them touches the disk.
//
// Message names are R;U;N: recipient, sender and the filing tick count.

// Whether a name coming from outside (a contact ID, a received name, a
// recipient) may become a file name in a store folder: not empty, not "." or
// "..", and without "/", NUL or other control characters, so it can never
// name anything outside its folder.
bool isSafeStoreName(const QString& name);

// The text from the last "." to the end; the whole name when it has no ".".
QString nameExtension(const QString& name);
// A thumbnail or picture: its extension is ".jpg" in any letter case. Such a
// file is never a message or a contact of its own.
bool isThumbnailName(const QString& name);

// "R;U;N" with the tick printed signed.
QString makeMessageName(const QString& recipient, const QString& sender, std::uint32_t tick);

// The text before the first ";": the recipient of an Outbox or Sent name, the
// sender of an Inbox name. Empty when the name has no ";".
QString firstField(const QString& name);

// Inbox items: the lower-cased name cut at its last "." (all of it without a
// "."), the video and thumbnail names made from that stem, and the sender the
// Inbox list draws (the stem before its first ";", the whole stem without one).
QString inboxStem(const QString& itemName);
QString inboxVideoName(const QString& itemName);
QString inboxDrawnSender(const QString& itemName);

// The thumbnail beside a listed message: Inbox the stem + ".jpg"; Outbox the
// name + ".jpg"; Sent the name with ".wmv" replaced by ".jpg". Contacts: the
// picture, the contact ID + ".jpg".
QString thumbnailName(Folder folder, const QString& name);

// What deleting an Inbox message removes besides the file itself: the name up
// to its first ".wmv" followed by ".jpg"; empty when the name has no ".wmv".
QString inboxDeletedThumbnail(const QString& inboxName);

// The name an Outbox file gets in Sent: lower case, with ".wmv" appended
// unless it contains ".jpg". R;U;N becomes r;u;n.wmv, R;U;N.jpg r;u;n.jpg.
QString sentNameOf(const QString& outboxName);

// The sender of a kept Sent message, for sending it again: the text after the
// first ";" cut at its last ";" (empty with fewer than two ";").
QString resendSenderOf(const QString& sentName);

// A received name r;u;n or r;u;n.jpg as the service relays it: the part
// after the first ";" (the whole text without one), then the Inbox name made
// of it: lower case, ".wmv" appended unless it ends in ".jpg". Both give an
// empty text when the result would not be a safe store name.
QString receivedMessagePart(const QString& receivedName);
QString inboxNameOfReceived(const QString& receivedName);
// Whose picture a received thumbnail replaces: the received message part up
// to its first ";", in the case it arrived in (empty without a ";").
QString pictureOwnerOfReceived(const QString& receivedName);

// The contact an Inbox name comes from, for accepting only contacts' messages:
// the name up to its last ";" (empty without a ";").
QString contactOfInboxName(const QString& inboxName);

// The thumbnail the new-message popup shows for a received name U;N: ".wmv"
// replaced by ".jpg", or ".jpg" appended, in the lower case the Inbox stores.
QString popupThumbnailName(const QString& messageName);
