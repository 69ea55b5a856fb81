#pragma once

#include <QString>

// The user's temporary folder, always ending in "/".
QString GetTempPath();
