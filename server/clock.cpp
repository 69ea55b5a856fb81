#include "clock.h"

std::int64_t Clock::unixNow() const {
    return std::chrono::duration_cast<std::chrono::seconds>(wallNow().time_since_epoch()).count();
}

std::chrono::steady_clock::time_point RealClock::steadyNow() const {
    return std::chrono::steady_clock::now();
}

std::chrono::system_clock::time_point RealClock::wallNow() const {
    return std::chrono::system_clock::now();
}

ManualClock::ManualClock()
    : m_steady(std::chrono::steady_clock::now()), m_wall(std::chrono::system_clock::now()) {}

std::chrono::steady_clock::time_point ManualClock::steadyNow() const {
    return m_steady + std::chrono::seconds(m_offsetSeconds.load());
}

std::chrono::system_clock::time_point ManualClock::wallNow() const {
    return m_wall + std::chrono::seconds(m_offsetSeconds.load());
}

void ManualClock::advance(std::chrono::seconds by) {
    m_offsetSeconds += by.count();
}

std::shared_ptr<Clock> makeRealClock() {
    return std::make_shared<RealClock>();
}
