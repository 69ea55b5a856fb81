#pragma once

#include <QString>

// The text without the white space at its end; white space at its start
// stays. Entries typed into the dialogs are taken this way.
QString withoutTrailingBlanks(QString text);
