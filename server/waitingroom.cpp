#include "waitingroom.h"

#include <vector>

WaitingRoom::WaitingRoom() : m_thread([this] { keepDeadlines(); }) {}

WaitingRoom::~WaitingRoom() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void WaitingRoom::wait(const std::string& recipientKey,
                       std::chrono::steady_clock::time_point deadline, Answer answer) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_stopping) {
            const std::uint64_t id = m_next++;
            m_waiters.emplace(id, Waiter{recipientKey, deadline, std::move(answer)});
            m_deadlines.emplace(deadline, id);
            m_byKey.emplace(recipientKey, id);
            m_wake.notify_all();
            return;
        }
    }
    answer(false);
}

void WaitingRoom::arrived(const std::string& recipientKey) {
    heard(recipientKey);
    if (m_announcer)
        m_announcer(recipientKey);
}

void WaitingRoom::heard(const std::string& recipientKey) {
    std::vector<Answer> answers;
    {
        std::lock_guard lock(m_mutex);
        const auto [first, last] = m_byKey.equal_range(recipientKey);
        for (auto it = first; it != last; ++it) {
            const auto waiter = m_waiters.find(it->second);
            const auto [from, to] = m_deadlines.equal_range(waiter->second.deadline);
            for (auto d = from; d != to; ++d) {
                if (d->second == it->second) {
                    m_deadlines.erase(d);
                    break;
                }
            }
            answers.push_back(std::move(waiter->second.answer));
            m_waiters.erase(waiter);
        }
        m_byKey.erase(first, last);
    }
    for (Answer& answer : answers)
        answer(true);
}

std::size_t WaitingRoom::waiting() const {
    std::lock_guard lock(m_mutex);
    return m_waiters.size();
}

void WaitingRoom::keepDeadlines() {
    std::unique_lock lock(m_mutex);
    while (true) {
        std::vector<Answer> due;
        const auto now = std::chrono::steady_clock::now();
        while (!m_deadlines.empty() && (m_stopping || m_deadlines.begin()->first <= now)) {
            const std::uint64_t id = m_deadlines.begin()->second;
            m_deadlines.erase(m_deadlines.begin());
            const auto waiter = m_waiters.find(id);
            const auto [first, last] = m_byKey.equal_range(waiter->second.key);
            for (auto it = first; it != last; ++it) {
                if (it->second == id) {
                    m_byKey.erase(it);
                    break;
                }
            }
            due.push_back(std::move(waiter->second.answer));
            m_waiters.erase(waiter);
        }
        const bool stop = m_stopping;
        if (!due.empty()) {
            lock.unlock();
            for (Answer& answer : due)
                answer(false);
            lock.lock();
            continue;
        }
        if (stop)
            return;
        if (m_deadlines.empty())
            m_wake.wait(lock);
        else {
            // A copy: the entry may go while the lock is released.
            const auto next = m_deadlines.begin()->first;
            m_wake.wait_until(lock, next);
        }
    }
}
