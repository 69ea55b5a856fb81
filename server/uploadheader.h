#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The 1024-byte block that starts every upload: the text
// "%-128s%-255s%-255s%-255s" (name, sender, recipient, a fourth field that
// is not used) followed by zero bytes. Each field sits at a fixed place and
// is padded with spaces, which are not part of its value.
inline constexpr std::size_t kUploadHeaderBytes = 1024;
inline constexpr std::size_t kUploadNameWidth = 128;
inline constexpr std::size_t kUploadIdWidth = 255;
// Where the text ends when every value fits its width.
inline constexpr std::size_t kUploadTextBytes = kUploadNameWidth + 3 * kUploadIdWidth;

struct UploadHeader {
    std::string name;
    std::string sender;
    std::string recipient;
    std::string fourth;
};

enum class UploadHeaderFault {
    None,
    Short,     // fewer than 1024 bytes
    Malformed, // no terminating zero byte, or text running past the fourth field
};

// Reads the fields of a header block. The text ends at the first zero byte;
// a text that runs past the fourth field (a value longer than its width, or
// no terminator at all) would put every later field in the wrong place and
// is refused, as is a block shorter than 1024 bytes. A text that ends early
// leaves the later fields empty.
std::optional<UploadHeader> parseUploadHeader(std::string_view block,
                                              UploadHeaderFault* fault = nullptr);

// Whether a message name may be relayed to a recipient, who files it under
// that name: printable ASCII without blanks, "/" or "\", so it can name no
// other place than its own file.
bool isRelayableMessageName(std::string_view name);
