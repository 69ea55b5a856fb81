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

RateLimiter::RateLimiter(std::shared_ptr<Clock> clock, Policy policy, Database& shared,
                         std::string kind)
    : RateLimiter(std::move(clock), policy) {
    m_shared = &shared;
    m_kind = std::move(kind);
}

std::chrono::seconds RateLimiter::admit(const std::string& key) {
    if (m_shared)
        return admitShared(key);
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

std::chrono::seconds RateLimiter::admitShared(const std::string& key) {
    const std::int64_t now = m_clock->unixNow();
    const std::int64_t refill = m_policy.refill.count();
    auto guard = m_shared->lock();
    Transaction transaction(*m_shared, "limit:" + m_kind + ":" + key);
    // A whole allowance is the same as none: such rows go as they are met.
    Statement(*m_shared, "DELETE FROM rate_limits WHERE kind = ? AND whole <= ?")
        .bind(1, m_kind)
        .bind(2, now)
        .run();
    std::int64_t whole = now;
    Statement query(*m_shared, "SELECT whole FROM rate_limits WHERE kind = ? AND key = ?");
    query.bind(1, m_kind).bind(2, key);
    if (query.step())
        whole = std::max(whole, query.integer(0));
    const std::int64_t next = whole + refill;
    const std::int64_t allowance = refill * m_policy.burst;
    if (next - now > allowance)
        return std::chrono::seconds(next - now - allowance);
    Statement(*m_shared, "INSERT INTO rate_limits (kind, key, whole) VALUES (?, ?, ?) "
                         "ON CONFLICT (kind, key) DO UPDATE SET whole = excluded.whole")
        .bind(1, m_kind)
        .bind(2, key)
        .bind(3, next)
        .run();
    transaction.commit();
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
