#pragma once

#include <QFont>

// The program's four fonts, made once on first use (after the application
// object exists) and borrowed by every window.
struct AppFonts {
    QFont bold14;
    QFont bold11;
    QFont thin10;
    QFont thin9;
};

const AppFonts& appFonts();
