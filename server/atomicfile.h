#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Writes a whole file under a temporary name beside the target (a dot name,
// so nobody takes it for a finished file), flushes it to disk and renames it
// into place: readers see either nothing or the complete file. On failure
// nothing is left behind and error (if given) says why.
bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         std::string* error = nullptr);
