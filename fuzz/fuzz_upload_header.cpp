// Upload header blocks come from any client: no input may crash the
// server's reader, and every field it returns must lie inside its place in
// the block, without padding or terminator.
#include "uploadheader.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {
void checkField(const std::string& field, std::size_t width) {
    if (field.size() > width || field.find('\0') != std::string::npos ||
        (!field.empty() && field.back() == ' '))
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    UploadHeaderFault fault = UploadHeaderFault::None;
    const auto header = parseUploadHeader(bytes, &fault);
    if (header) {
        if (size < kUploadHeaderBytes || fault != UploadHeaderFault::None)
            std::abort();
        checkField(header->name, kUploadNameWidth);
        checkField(header->sender, kUploadIdWidth);
        checkField(header->recipient, kUploadIdWidth);
        checkField(header->fourth, kUploadIdWidth);
        if (isRelayableMessageName(header->name) &&
            (header->name.find('/') != std::string::npos || header->name == ".."))
            std::abort();
    } else if (fault == UploadHeaderFault::None) {
        std::abort();
    }
    return 0;
}
