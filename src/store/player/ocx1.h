#pragma once

#include <QImage>
#include <QMediaPlayer>
#include <QString>
#include <QWidget>

class PlayerControls;
class QAudioOutput;
class QLabel;
class QVideoFrame;
class QVideoSink;

// The player of the main window's preview area. The main window drives it
// with two settings: the path of the message to play ("" stops and clears
// the player) and whether the picture fills the whole area; the user drives
// it with the controls under the picture (PlayerControls), which the window
// also hands Enter and the arrows. A file that cannot be played shows the
// player's own error text in its place, without controls. Frames are
// painted by the player itself, so it works the same on every display,
// including none.
class COcx1 : public QWidget {
    Q_OBJECT

public:
    explicit COcx1(QWidget* parent = nullptr);
    ~COcx1() override;

    // Starts playing the file at once, from its beginning even when it is
    // the file already set; "" stops and clears.
    void setURL(const QString& path);
    void setStretchToFit(bool stretch);

    QString url() const { return m_url; }
    bool stretchToFit() const { return m_stretch; }
    bool playing() const;
    QMediaPlayer::MediaStatus mediaStatus() const;
    // The latest playing error; empty when the current file plays.
    QString errorText() const { return m_error; }
    QVideoSink* videoSink() const { return m_sink; }
    QMediaPlayer* mediaPlayer() const { return m_player; }
    QAudioOutput* audioOutput() const { return m_audio; }
    PlayerControls* controls() const { return m_controls; }
    // Where the current picture is drawn; empty while there is none.
    QRect pictureRect() const;
    // The part of the player above the controls.
    QRect pictureArea() const;

Q_SIGNALS:
    void errorShown(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void onFrame(const QVideoFrame& frame);
    void onError(QMediaPlayer::Error error, const QString& text);

    QMediaPlayer* m_player;
    QAudioOutput* m_audio;
    QVideoSink* m_sink;
    QLabel* m_errorLabel;
    PlayerControls* m_controls;
    QImage m_picture;
    QString m_url;
    QString m_error;
    bool m_stretch = false;
};
