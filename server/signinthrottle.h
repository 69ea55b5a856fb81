#pragma once

#include "clock.h"
#include "database.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

// Slows down password guessing for one user ID. Every attempt counts as a
// failure from the moment it is admitted (so parallel attempts cannot slip
// past the count) until succeeded() clears the record. From the
// freeFailures-th failure on, each failure locks the ID for a while,
// doubling from firstLock up to longestLock; a locked ID is refused without
// checking the password. A quiet window after the last failure or lock
// forgets the record. Nothing sleeps: a refusal returns at once with the
// time left.
class SignInThrottle {
public:
    struct Policy {
        int freeFailures = 5;
        std::chrono::seconds window{15 * 60};
        std::chrono::seconds firstLock{30};
        std::chrono::seconds longestLock{60 * 60};
        // Bounds memory when someone tries very many IDs.
        std::size_t maxTracked = 100000;
    };

    explicit SignInThrottle(std::shared_ptr<Clock> clock);
    SignInThrottle(std::shared_ptr<Clock> clock, Policy policy);
    // Keeps the records in the database, shared by every server process on
    // it, to the second; maxTracked does not apply there.
    SignInThrottle(std::shared_ptr<Clock> clock, Policy policy, Database& shared);

    // Zero when the attempt may go ahead; otherwise the whole seconds to
    // wait before the next one is admitted.
    std::chrono::seconds admit(const std::string& key);
    void succeeded(const std::string& key);

    std::size_t tracked() const;

private:
    using TimePoint = std::chrono::steady_clock::time_point;
    struct Record {
        int failures = 0;
        TimePoint lastFailure;
        TimePoint lockedUntil;
    };
    bool isStale(const Record& record, TimePoint now) const;
    void makeRoom(TimePoint now);
    std::chrono::seconds lockFor(int failuresBeyondFree) const;

    std::chrono::seconds admitShared(const std::string& key);

    std::shared_ptr<Clock> m_clock;
    Policy m_policy;
    Database* m_shared = nullptr;
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, Record> m_records;
};
