#pragma once

#include <QBasicTimer>

#include <map>

class QObject;

// A window's numbered timers: one QBasicTimer per id, started and stopped by
// number like the desktop platform's window timers. Starting a running timer
// restarts it with the new period. Periods pass through scaledPeriod().
class WindowTimers {
public:
    explicit WindowTimers(QObject* owner) : m_owner(owner) {}

    void start(int id, int periodMs);
    void stop(int id);
    bool isActive(int id) const;
    // The window timer id for a QTimerEvent's timer id, or 0.
    int idFor(int qtTimerId) const;

private:
    QObject* m_owner;
    std::map<int, QBasicTimer> m_timers;
};
