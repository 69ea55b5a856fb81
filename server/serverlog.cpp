#include "serverlog.h"

#include <cstdio>

void logServerProblem(const std::string& line) {
    std::fprintf(stderr, "clipnote-server: %s\n", line.c_str());
    std::fflush(stderr);
}
