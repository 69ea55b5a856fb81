#pragma once

#include <QMediaPlayer>
#include <QString>
#include <QWidget>

class QAudioOutput;
class QLabel;
class QStackedLayout;
class QVideoSink;
class QVideoWidget;

// The player of the main window's preview area. The main window drives it
// with two settings only: the path of the message to play ("" stops and
// clears the player) and whether the picture fills the whole area. A file
// that cannot be played shows the player's own error text in its place.
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
    QVideoSink* videoSink() const;

Q_SIGNALS:
    void errorShown(const QString& text);

private:
    void onError(QMediaPlayer::Error error, const QString& text);

    QMediaPlayer* m_player;
    QAudioOutput* m_audio;
    QVideoWidget* m_video;
    QLabel* m_errorLabel;
    QStackedLayout* m_stack;
    QString m_url;
    QString m_error;
    bool m_stretch = false;
};
