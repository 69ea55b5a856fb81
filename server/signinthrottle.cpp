#include "signinthrottle.h"

#include <algorithm>

SignInThrottle::SignInThrottle(std::shared_ptr<Clock> clock)
    : SignInThrottle(std::move(clock), Policy{}) {}

SignInThrottle::SignInThrottle(std::shared_ptr<Clock> clock, Policy policy)
    : m_clock(std::move(clock)), m_policy(policy) {}

SignInThrottle::SignInThrottle(std::shared_ptr<Clock> clock, Policy policy, Database& shared)
    : m_clock(std::move(clock)), m_policy(policy), m_shared(&shared) {}

std::chrono::seconds SignInThrottle::admit(const std::string& key) {
    if (m_shared)
        return admitShared(key);
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

std::chrono::seconds SignInThrottle::admitShared(const std::string& key) {
    const std::int64_t now = m_clock->unixNow();
    auto guard = m_shared->lock();
    Transaction transaction(*m_shared, "sign-in:" + key);
    int failures = 0;
    Statement query(*m_shared, "SELECT failures, last_failure, locked_until FROM sign_in_failures "
                               "WHERE uid_key = ?");
    query.bind(1, key);
    if (query.step()) {
        const std::int64_t lockedUntil = query.integer(2);
        if (now < lockedUntil)
            return std::chrono::seconds(lockedUntil - now);
        const bool stale = now - std::max(query.integer(1), lockedUntil) > m_policy.window.count();
        failures = stale ? 0 : static_cast<int>(query.integer(0));
    }
    ++failures;
    const std::int64_t lockedUntil = failures >= m_policy.freeFailures
                                         ? now + lockFor(failures - m_policy.freeFailures).count()
                                         : 0;
    Statement(*m_shared, "INSERT INTO sign_in_failures (uid_key, failures, last_failure, "
                         "locked_until) VALUES (?, ?, ?, ?) ON CONFLICT (uid_key) DO UPDATE SET "
                         "failures = excluded.failures, last_failure = excluded.last_failure, "
                         "locked_until = excluded.locked_until")
        .bind(1, key)
        .bind(2, std::int64_t{failures})
        .bind(3, now)
        .bind(4, lockedUntil)
        .run();
    transaction.commit();
    return std::chrono::seconds(0);
}

void SignInThrottle::succeeded(const std::string& key) {
    if (m_shared) {
        auto guard = m_shared->lock();
        Statement(*m_shared, "DELETE FROM sign_in_failures WHERE uid_key = ?").bind(1, key).run();
        return;
    }
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
