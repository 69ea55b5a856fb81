#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

// Time as the server sees it. Throttling measures with the steady clock so
// that a change of the wall clock cannot lift a lock; stored dates use the
// wall clock. Tests hand in a clock they can move.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::chrono::steady_clock::time_point steadyNow() const = 0;
    virtual std::chrono::system_clock::time_point wallNow() const = 0;

    // Seconds since 1970 of wallNow(), as stored in the database.
    std::int64_t unixNow() const;
};

class RealClock : public Clock {
public:
    std::chrono::steady_clock::time_point steadyNow() const override;
    std::chrono::system_clock::time_point wallNow() const override;
};

// A clock that stands still until a test moves it; server threads may read
// it while the test moves it.
class ManualClock : public Clock {
public:
    ManualClock();
    std::chrono::steady_clock::time_point steadyNow() const override;
    std::chrono::system_clock::time_point wallNow() const override;
    void advance(std::chrono::seconds by);

private:
    const std::chrono::steady_clock::time_point m_steady;
    const std::chrono::system_clock::time_point m_wall;
    std::atomic<std::int64_t> m_offsetSeconds{0};
};

std::shared_ptr<Clock> makeRealClock();
