#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QSize>

// The recorder's frame: 320 x 240 pixels, 24 bits each, stored the way a
// device-independent bitmap stores them: rows from the bottom of the picture
// up, each pixel blue, green, red, rows packed without padding (960 bytes is
// already a multiple of four).
inline constexpr int kFrameWidth = 320;
inline constexpr int kFrameHeight = 240;
inline constexpr int kFrameBytesPerPixel = 3;
inline constexpr int kFrameRowBytes = kFrameWidth * kFrameBytesPerPixel;
inline constexpr int kFrameBytes = kFrameRowBytes * kFrameHeight; // 230,400

// The part of a picture of this size that a frame shows: the largest 4:3
// rectangle centred in it. A camera of another shape fills the whole frame
// and loses the overflow on both sides (or top and bottom) rather than
// leaving black bars in every message. Empty for an empty size.
QRect frameCropRect(QSize pictureSize);

// A picture of any size and pixel format as the frame shows it, top-down, in
// Format_RGB32: the crop above stretched to 320 x 240. Transparent pixels
// come out as if drawn on black. Null for a null picture.
QImage fitToFrame(const QImage& picture);

// Writes the frame of a picture into `out`, exactly kFrameBytes bytes. False
// for a null picture, and then `out` is left as it was.
bool toBottomUpBgr(const QImage& picture, unsigned char* out);
// The same for a picture already fitted to the frame (fitToFrame's result).
void fittedToBottomUpBgr(const QImage& fitted, unsigned char* out);

// Of the sizes a camera offers, the index of the one to ask for: the
// smallest that still covers the frame without enlarging it, or the largest
// one when none does. Less to decode and scale on every frame. -1 for none.
int preferredCaptureSize(const QList<QSize>& offered);
