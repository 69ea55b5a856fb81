#pragma once

#include <QMediaPlayer>
#include <QString>
#include <QWidget>

#include <array>

class QAudioOutput;
class QKeyEvent;
class QLabel;
class QSlider;
class QToolButton;

// The bar under the picture of the embedded player: play/pause, replay, a
// seek bar with the elapsed and total time, mute and the playback speed. It
// shows what the player does, not what was last asked of it, so a message
// that ends shows "play" again by itself.
//
// None of its parts takes the keyboard focus: the space bar records in the
// main window, and a focused button would be clicked by it. The window hands
// Enter and the arrows on through handleKey().
class PlayerControls : public QWidget {
    Q_OBJECT

public:
    static constexpr int kHeight = 28;
    static constexpr qint64 kSeekStepMs = 5000;
    // The speeds the speed button steps through, from the normal one.
    static constexpr std::array<qreal, 3> kRates{1.0, 1.5, 2.0};

    PlayerControls(QMediaPlayer* player, QAudioOutput* audio, QWidget* parent = nullptr);

    void togglePlay();
    // From the beginning, playing.
    void replay();
    void toggleMute();
    // Moves by `ms` (back when negative), kept within the message.
    void seekBy(qint64 ms);
    void seekTo(qint64 ms);
    // The speed holds for this message and the next ones.
    void setRate(qreal rate);
    qreal rate() const { return m_rate; }
    // The speed after the current one, back to 1x after the fastest.
    void nextRate();

    // Enter plays or pauses, Left and Right seek by kSeekStepMs. True when
    // the key was used; never for the space bar.
    bool handleKey(QKeyEvent* event);

    QString timeText() const;
    // Minutes and seconds: "0:04", "12:30".
    static QString formatTime(qint64 ms);
    static QString rateText(qreal rate);

private:
    QToolButton* addButton(const QString& name, const QString& tip);
    // The player keeps no speed set while it loads or stands stopped: the
    // chosen one is set again once it can take it.
    void applyRate();
    void showState();
    void showTime();

    QMediaPlayer* m_player;
    QAudioOutput* m_audio;
    QToolButton* m_play;
    QToolButton* m_replay;
    QSlider* m_seek;
    QLabel* m_time;
    QToolButton* m_mute;
    QToolButton* m_speed;
    qreal m_rate = 1.0;
};
