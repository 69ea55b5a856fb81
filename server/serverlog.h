#pragma once

#include <string>

// One line to standard error. The server writes only start-up problems and
// failures there, never request values (they carry passwords).
void logServerProblem(const std::string& line);
