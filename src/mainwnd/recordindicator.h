#pragma once

#include <QWidget>

#include <array>

class QLabel;

// The record indicator: four icons at one place, exactly one visible.
// 0 nothing to record for, 1 ready, 2 counting down, 3 recording.
class RecordIndicator : public QWidget {
    Q_OBJECT

public:
    enum State { NoRecording = 0, Ready = 1, CountingDown = 2, Recording = 3 };

    explicit RecordIndicator(QWidget* parent = nullptr);

    void setState(int state);
    int state() const { return m_state; }

private:
    std::array<QLabel*, 4> m_icons{};
    int m_state = -1;
};
