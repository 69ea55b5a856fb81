#include "app/appfonts.h"

namespace {
QFont makeFont(int pixelHeight, QFont::Weight weight) {
    QFont font;
    font.setPixelSize(pixelHeight);
    font.setWeight(weight);
    font.setStyleStrategy(QFont::PreferQuality);
    return font;
}
} // namespace

const AppFonts& appFonts() {
    static const AppFonts fonts{makeFont(14, QFont::Bold), makeFont(11, QFont::Bold),
                                makeFont(10, QFont::Normal), makeFont(9, QFont::Normal)};
    return fonts;
}
