#pragma once

#include <QFont>

// The program's four fonts, made once on first use (after the application
// object exists) and borrowed by every window.
//
// The two "thin" fonts of the lists, dates, tabs and popup are drawn at the
// regular weight: the face they were designed with has no thin cut, so they
// always looked regular, while a real extra-light face is too pale to read.
struct AppFonts {
    QFont bold14;
    QFont bold11;
    QFont thin10;
    QFont thin9;
};

const AppFonts& appFonts();
