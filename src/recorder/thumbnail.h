#pragma once

#include "platform/hresult.h"

#include <QByteArray>
#include <QSize>
#include <QString>

// The box every thumbnail is shrunk to fit.
inline constexpr QSize kThumbnailBox(192, 168);
// A bitmap file of one recorder frame: 14-byte file header, 40-byte info
// header, the frame's 230,400 bytes.
inline constexpr int kFrameBitmapFileBytes = 14 + 40 + 320 * 240 * 3;

// The frame (320 x 240, 24-bit, bottom-up BGR) as a complete bitmap file.
QByteArray bitmapFileFromFrame(const unsigned char* bottomUpBgr);

// The thumbnail beside a video file: its path up to the last "." of the file
// name, then ".jpg" ("<temp>/vnote.wmv" gives "<temp>/vnote.jpg"). A name
// without a dot gets ".jpg" added.
QString thumbnailPathFor(const QString& videoPath);

// The size a picture is shrunk to for a box. Never larger: a picture within
// the box keeps its size. A wider-than-tall picture takes the box's width
// and a height in proportion (integer division), so it can come out taller
// than the box (200 x 180 gives 192 x 172); any other takes the box's height
// and a width in proportion. A side is never shrunk below one pixel.
QSize shrunkSize(QSize picture, QSize box = kThumbnailBox);

// Replaces a picture file by a JPEG of shrunkSize when the picture is larger
// than the box; a picture within the box is left exactly as it was. E_FAIL
// when the file does not load or the new file cannot be written (the old
// one stays then).
HRESULT ShrinkImageFile(const QString& path, QSize box = kThumbnailBox);

// Writes the thumbnail of a recording from one of its frames: the frame
// through a bitmap file, saved as JPEG at thumbnailPathFor(videoPath), then
// shrunk to the box (192 x 144 for the frame). On failure no thumbnail is
// left at that path, not even one of an earlier recording, which would
// otherwise be filed with this one.
HRESULT MakeThumbnail(const unsigned char* bottomUpBgr, const QString& videoPath);
