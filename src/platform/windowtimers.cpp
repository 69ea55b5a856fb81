#include "platform/windowtimers.h"

#include "platform/helpers.h"

void WindowTimers::start(int id, int periodMs) {
    m_timers[id].start(scaledPeriod(periodMs), m_owner);
}

void WindowTimers::stop(int id) {
    const auto it = m_timers.find(id);
    if (it != m_timers.end())
        it->second.stop();
}

bool WindowTimers::isActive(int id) const {
    const auto it = m_timers.find(id);
    return it != m_timers.end() && it->second.isActive();
}

int WindowTimers::idFor(int qtTimerId) const {
    for (const auto& [id, timer] : m_timers) {
        if (timer.isActive() && timer.timerId() == qtTimerId)
            return id;
    }
    return 0;
}
