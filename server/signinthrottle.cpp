#include "signinthrottle.h"

#include <algorithm>

SignInThrottle::SignInThrottle(std::shared_ptr<Clock> clock)
    : SignInThrottle(std::move(clock), Policy{}) {}

SignInThrottle::SignInThrottle(std::shared_ptr<Clock> clock, Policy policy)
    : m_clock(std::move(clock)), m_policy(policy) {}

std::chrono::seconds SignInThrottle::admit(const std::string& key) {
    const TimePoint now = m_clock->steadyNow();
    std::lock_guard guard(m_mutex);
    auto it = m_records.find(key);
    if (it != m_records.end()) {
        if (now < it->second.lockedUntil)
            return std::chrono::ceil<std::chrono::seconds>(it->second.lockedUntil - now);
        if (isStale(it->second, now))
            it->second = Record{};
    } else {
        if (m_records.size() >= m_policy.maxTracked)
            makeRoom(now);
        it = m_records.emplace(key, Record{}).first;
    }
    Record& record = it->second;
    ++record.failures;
    record.lastFailure = now;
    if (record.failures >= m_policy.freeFailures)
        record.lockedUntil = now + lockFor(record.failures - m_policy.freeFailures);
    return std::chrono::seconds(0);
}

void SignInThrottle::succeeded(const std::string& key) {
    std::lock_guard guard(m_mutex);
    m_records.erase(key);
}

std::size_t SignInThrottle::tracked() const {
    std::lock_guard guard(m_mutex);
    return m_records.size();
}

bool SignInThrottle::isStale(const Record& record, TimePoint now) const {
    return now >= record.lockedUntil &&
           now - std::max(record.lastFailure, record.lockedUntil) > m_policy.window;
}

void SignInThrottle::makeRoom(TimePoint now) {
    std::erase_if(m_records, [&](const auto& entry) { return isStale(entry.second, now); });
    if (m_records.empty() || m_records.size() < m_policy.maxTracked)
        return;
    // Still full of live records: give up the one that has been quiet longest.
    auto oldest =
        std::min_element(m_records.begin(), m_records.end(), [](const auto& a, const auto& b) {
            return std::max(a.second.lastFailure, a.second.lockedUntil) <
                   std::max(b.second.lastFailure, b.second.lockedUntil);
        });
    m_records.erase(oldest);
}

std::chrono::seconds SignInThrottle::lockFor(int failuresBeyondFree) const {
    const int doublings = std::min(failuresBeyondFree, 20);
    return std::min(m_policy.firstLock * (std::int64_t{1} << doublings), m_policy.longestLock);
}
