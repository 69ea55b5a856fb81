#pragma once

#include <QImage>
#include <QList>
#include <QString>
#include <QtGui/qrgb.h>

// The program's pictures are known by number, as the windows name them. Icons
// and bitmaps are two separate families: icon 143 (the Sent tab) and bitmap
// 143 (several recipients) are different pictures.

// Icons.
inline constexpr int kIconApp = 128;         // window, tray and About box
inline constexpr int kIconReady = 129;       // record indicator: recipients chosen
inline constexpr int kIconContactsTab = 142; // the four tab images, 16 x 16
inline constexpr int kIconSentTab = 143;
inline constexpr int kIconInboxTab = 144;
inline constexpr int kIconOutboxTab = 145;
inline constexpr int kIconNoRecording = 146;  // record indicator: nothing to record for
inline constexpr int kIconCountingDown = 147; // record indicator: countdown
inline constexpr int kIconRecording = 148;    // record indicator: recording
inline constexpr int kIconAlert = 149;        // tray, the other half of the blink

// Bitmaps.
inline constexpr int kBitmapOneContact = 131;      // one recipient without a picture, 192 x 168
inline constexpr int kBitmapSeveralContacts = 143; // two or more recipients, 192 x 168
inline constexpr int kBitmapNoRecipient = 144;     // nothing selected, 320 x 240
inline constexpr int kBitmapDefaultContact = 145;  // contact without a picture, 24 x 24

// Every picture is drawn on screen with this colour as transparent.
inline constexpr QRgb kColourKey = 0xFF00FF;

// Resource paths (":/res/..."), or an empty string for a number that names no
// picture. An icon comes in one or more square sizes; iconPath(id) is the one
// the windows show it at (16 for the tab images, 32 for the others).
QString iconPath(int id);
QString iconPath(int id, int size);
QList<int> iconSizes(int id); // smallest first; empty for an unknown number
QString bitmapPath(int id);

// A bitmap exactly as stored, colour key included. Drawing code keys it with
// withColourKey before any smooth scaling, which would otherwise blend the key
// colour into the picture's edges. Null for an unknown number, and when the
// pictures are not linked into the program: the core library alone does not
// carry them; every program built on the widgets library has them.
QImage loadBitmapResource(int id);

// An icon at one of its sizes (0: the size the windows show it at) with the
// colour key already turned into transparency, as an icon is never shown
// with its key colour. Null where loadBitmapResource would be null, and for a
// size the icon does not come in.
QImage loadIconResource(int id, int size = 0);

// A copy with an alpha channel in which exactly the pixels of colour key
// (alpha bits of key ignored) are fully transparent and every other pixel
// keeps its colour and alpha. The result is premultiplied ARGB, ready to paint;
// a null image stays null.
QImage withColourKey(const QImage& image, QRgb key = kColourKey);
