#pragma once

#include <QString>
#include <cstdint>

// Milliseconds since boot as an unsigned 32-bit value; it wraps after about
// 49.7 days, like the counter the message names were designed around.
std::uint32_t GetTickCount();

// Message names print the tick value signed, so after about 24.9 days of
// uptime it carries a leading minus sign.
QString tickText(std::uint32_t tick);
