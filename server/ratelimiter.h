#pragma once

#include "clock.h"
#include "database.h"

#include <chrono>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

// Limits how often something may happen per key (an e-mail address, a
// client's IP address): up to `burst` times at once, then once per `refill`
// as the allowance grows back. Pages that send mail or create accounts use
// it so that nobody can flood a mailbox or the account table.
//
// Each key costs one small record until its allowance is whole again; a
// record with a whole allowance is the same as none. The table holds at most
// maxTracked records: when a new key arrives at a full table, the key used
// longest ago gives up its record. Keys should be short (a checked address),
// since the bound counts records, not bytes.
//
// Safe to call from any thread. Nothing sleeps: a refusal returns at once
// with the time to wait.
class RateLimiter {
public:
    struct Policy {
        int burst = 3;
        std::chrono::seconds refill{60};
        std::size_t maxTracked = 100000;
    };

    RateLimiter(std::shared_ptr<Clock> clock, Policy policy);
    // Keeps the allowances in the database under `kind`, shared by every
    // server process on it, to the second; maxTracked does not apply there.
    RateLimiter(std::shared_ptr<Clock> clock, Policy policy, Database& shared, std::string kind);

    // Zero when the action may go ahead (and it is counted); otherwise the
    // whole seconds until it would be admitted, and nothing is counted.
    std::chrono::seconds admit(const std::string& key);

    std::size_t tracked() const;

private:
    using TimePoint = std::chrono::steady_clock::time_point;
    struct Record {
        // When the allowance is whole again; each admission moves it on by
        // one refill period.
        TimePoint whole;
        std::list<std::string>::iterator use;
    };
    void dropWholeRecords(TimePoint now);
    std::chrono::seconds admitShared(const std::string& key);

    std::shared_ptr<Clock> m_clock;
    Policy m_policy;
    Database* m_shared = nullptr;
    std::string m_kind;
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, Record> m_records;
    // Keys from least to most recently admitted or refused.
    std::list<std::string> m_useOrder;
};
