#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// User IDs are e-mail addresses. Besides naming the account they become
// folder and file names on the users' machines and fields of message names
// ("recipient;sender;stamp.jpg"), so the accepted shape is deliberately
// narrow: ASCII letters, digits and ". _ - +" before the "@", a dotted host
// name after it, never ";", "/", "\", blanks or control characters, never a
// leading ".", and not ending in ".jpg", which the client would take for a
// picture.
//
// Two IDs plus ";", a stamp of up to 11 characters and ".jpg" must fit the
// 128-byte name field of an upload: 2 * 55 + 2 + 11 + 4 = 127.
inline constexpr std::size_t kMaxUserIdLength = 55;

bool isValidUserId(std::string_view id);

// The form under which an ID is stored and compared: ASCII lower case.
std::string userIdKey(std::string_view id);
