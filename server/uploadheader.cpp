#include "uploadheader.h"

#include <algorithm>

namespace {

std::string_view fieldAt(std::string_view text, std::size_t offset, std::size_t width) {
    if (offset >= text.size())
        return {};
    std::string_view field = text.substr(offset, width);
    while (!field.empty() && field.back() == ' ')
        field.remove_suffix(1);
    return field;
}

std::optional<UploadHeader> fail(UploadHeaderFault* fault, UploadHeaderFault why) {
    if (fault)
        *fault = why;
    return std::nullopt;
}

} // namespace

std::optional<UploadHeader> parseUploadHeader(std::string_view block, UploadHeaderFault* fault) {
    if (block.size() < kUploadHeaderBytes)
        return fail(fault, UploadHeaderFault::Short);
    block = block.substr(0, kUploadHeaderBytes);
    const std::size_t end = block.find('\0');
    if (end == std::string_view::npos || end > kUploadTextBytes)
        return fail(fault, UploadHeaderFault::Malformed);
    const std::string_view text = block.substr(0, end);
    UploadHeader header;
    std::size_t offset = 0;
    header.name = fieldAt(text, offset, kUploadNameWidth);
    offset += kUploadNameWidth;
    header.sender = fieldAt(text, offset, kUploadIdWidth);
    offset += kUploadIdWidth;
    header.recipient = fieldAt(text, offset, kUploadIdWidth);
    offset += kUploadIdWidth;
    header.fourth = fieldAt(text, offset, kUploadIdWidth);
    if (fault)
        *fault = UploadHeaderFault::None;
    return header;
}

bool isRelayableMessageName(std::string_view name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return c > ' ' && c < 0x7f && c != '/' && c != '\\'; });
}
