#include "userid.h"

#include <algorithm>

namespace {
bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isValidLocalPart(std::string_view local) {
    if (local.empty() || local.size() > 64 || local.front() == '.' || local.back() == '.')
        return false;
    if (local.find("..") != std::string_view::npos)
        return false;
    return std::all_of(local.begin(), local.end(), [](char c) {
        return isAsciiLetter(c) || isAsciiDigit(c) || c == '.' || c == '_' || c == '-' || c == '+';
    });
}

bool isValidLabel(std::string_view label) {
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
        return false;
    return std::all_of(label.begin(), label.end(),
                       [](char c) { return isAsciiLetter(c) || isAsciiDigit(c) || c == '-'; });
}

bool isValidDomain(std::string_view domain) {
    int labels = 0;
    std::string_view last;
    while (true) {
        const size_t dot = domain.find('.');
        const std::string_view label = domain.substr(0, dot);
        if (!isValidLabel(label))
            return false;
        ++labels;
        last = label;
        if (dot == std::string_view::npos)
            break;
        domain.remove_prefix(dot + 1);
    }
    // A top-level name is letters only, which also rules out bare addresses.
    return labels >= 2 && last.size() >= 2 && std::all_of(last.begin(), last.end(), isAsciiLetter);
}
} // namespace

bool isValidUserId(std::string_view id) {
    if (id.size() > kMaxUserIdLength)
        return false;
    const size_t at = id.find('@');
    if (at == std::string_view::npos || id.find('@', at + 1) != std::string_view::npos)
        return false;
    if (userIdKey(id).ends_with(".jpg"))
        return false;
    return isValidLocalPart(id.substr(0, at)) && isValidDomain(id.substr(at + 1));
}

std::string userIdKey(std::string_view id) {
    std::string key(id);
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}
