#include "ratelimiter.h"

#include <algorithm>

namespace {
// Records looked at for clean-up on each call: enough to keep pace with new
// keys, few enough that no call pays for the whole table.
constexpr int kCleanUpPerCall = 2;
} // namespace

RateLimiter::RateLimiter(std::shared_ptr<Clock> clock, Policy policy)
    : m_clock(std::move(clock)), m_policy(policy) {
    m_policy.burst = std::max(m_policy.burst, 1);
    m_policy.maxTracked = std::max<std::size_t>(m_policy.maxTracked, 1);
}

std::chrono::seconds RateLimiter::admit(const std::string& key) {
    const TimePoint now = m_clock->steadyNow();
    std::lock_guard guard(m_mutex);
    dropWholeRecords(now);
    auto it = m_records.find(key);
    if (it == m_records.end()) {
        if (m_records.size() >= m_policy.maxTracked) {
            m_records.erase(m_useOrder.front());
            m_useOrder.pop_front();
        }
        m_useOrder.push_back(key);
        it = m_records.emplace(key, Record{now, std::prev(m_useOrder.end())}).first;
    } else {
        m_useOrder.splice(m_useOrder.end(), m_useOrder, it->second.use);
    }
    Record& record = it->second;
    const TimePoint next = std::max(record.whole, now) + m_policy.refill;
    const auto allowance = m_policy.refill * m_policy.burst;
    if (next - now > allowance)
        return std::chrono::ceil<std::chrono::seconds>(next - now - allowance);
    record.whole = next;
    return std::chrono::seconds(0);
}

std::size_t RateLimiter::tracked() const {
    std::lock_guard guard(m_mutex);
    return m_records.size();
}

// The least recently used records are the likeliest to be whole again.
void RateLimiter::dropWholeRecords(TimePoint now) {
    for (int i = 0; i < kCleanUpPerCall && !m_useOrder.empty(); ++i) {
        const auto front = m_records.find(m_useOrder.front());
        if (front->second.whole > now)
            return;
        m_records.erase(front);
        m_useOrder.pop_front();
    }
}
