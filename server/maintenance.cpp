#include "maintenance.h"

#include "database.h"
#include "messagequeue.h"
#include "serverlog.h"

#include <algorithm>
#include <string>

Maintenance::Maintenance(MessageQueue& queue, int expireDays, std::chrono::seconds period)
    : m_queue(queue), m_expireDays(expireDays), m_period(period) {
    runOnce();
    m_thread = std::thread([this] { loop(); });
}

Maintenance::~Maintenance() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

int Maintenance::runOnce() {
    try {
        const int expired = m_queue.expireWaiting(std::int64_t(m_expireDays) * 24 * 3600);
        m_queue.forgetOldDeliveredNames();
        return expired;
    } catch (const DatabaseError& e) {
        logServerProblem("housekeeping failed: " + std::string(e.what()));
        return 0;
    }
}

void Maintenance::loop() {
    const std::chrono::seconds renewal(MessageQueue::kClaimSeconds / 4);
    auto housekeepingDue = std::chrono::steady_clock::now() + m_period;
    std::unique_lock lock(m_mutex);
    while (!m_wake.wait_for(lock,
                            std::min<std::chrono::steady_clock::duration>(
                                renewal, housekeepingDue - std::chrono::steady_clock::now()),
                            [this] { return m_stopping; })) {
        lock.unlock();
        try {
            m_queue.renewClaims();
        } catch (const DatabaseError& e) {
            logServerProblem("claims could not be renewed: " + std::string(e.what()));
        }
        if (std::chrono::steady_clock::now() >= housekeepingDue) {
            runOnce();
            housekeepingDue = std::chrono::steady_clock::now() + m_period;
        }
        lock.lock();
    }
}
