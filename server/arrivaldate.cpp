#include "arrivaldate.h"

#include <cstdio>
#include <ctime>

std::string arrivalDateText(std::int64_t unixSeconds) {
    const std::time_t when = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    if (!localtime_r(&when, &local))
        return {};
    const int hour12 = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
    char text[64];
    std::snprintf(text, sizeof text, "%d/%d/%04d %d:%02d:%02d %s", local.tm_mon + 1, local.tm_mday,
                  local.tm_year + 1900, hour12, local.tm_min, local.tm_sec,
                  local.tm_hour < 12 ? "AM" : "PM");
    return text;
}
