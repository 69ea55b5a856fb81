#include "platform/ticks.h"

#include <ctime>

std::uint32_t GetTickCount() {
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

QString tickText(std::uint32_t tick) {
    return QString::number(static_cast<std::int32_t>(tick));
}
