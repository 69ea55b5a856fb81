#pragma once

#include <cstdint>
#include <string>

// The date field of a download record: when the message arrived at the
// service, in the server's local time, as "M/D/YYYY h:mm:ss AM" or "PM"
// ("12/7/2008 3:45:12 PM"). Midnight is 12 AM, noon 12 PM.
std::string arrivalDateText(std::int64_t unixSeconds);
