#include "store/ocx1.h"

#include <QAudioOutput>
#include <QLabel>
#include <QStackedLayout>
#include <QUrl>
#include <QVideoWidget>

COcx1::COcx1(QWidget* parent) : QWidget(parent) {
    m_player = new QMediaPlayer(this);
    m_audio = new QAudioOutput(this);
    m_player->setAudioOutput(m_audio);
    m_video = new QVideoWidget(this);
    m_video->setObjectName(QStringLiteral("video"));
    m_player->setVideoOutput(m_video);
    m_errorLabel = new QLabel(this);
    m_errorLabel->setObjectName(QStringLiteral("error"));
    m_errorLabel->setAlignment(Qt::AlignCenter);
    m_errorLabel->setWordWrap(true);

    m_stack = new QStackedLayout(this);
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_stack->addWidget(m_video);
    m_stack->addWidget(m_errorLabel);
    setStretchToFit(false);

    connect(m_player, &QMediaPlayer::errorOccurred, this, &COcx1::onError);
}

COcx1::~COcx1() {
    m_player->stop();
}

void COcx1::setURL(const QString& path) {
    m_error.clear();
    m_errorLabel->clear();
    m_stack->setCurrentWidget(m_video);
    if (path.isEmpty()) {
        m_url.clear();
        m_player->stop();
        m_player->setSource(QUrl());
        return;
    }
    const QUrl source = QUrl::fromLocalFile(path);
    if (path == m_url && m_player->source() == source) {
        m_player->setPosition(0);
    } else {
        m_url = path;
        m_player->setSource(source);
    }
    m_player->play();
}

void COcx1::setStretchToFit(bool stretch) {
    m_stretch = stretch;
    m_video->setAspectRatioMode(stretch ? Qt::IgnoreAspectRatio : Qt::KeepAspectRatio);
}

bool COcx1::playing() const {
    return m_player->playbackState() == QMediaPlayer::PlayingState;
}

QMediaPlayer::MediaStatus COcx1::mediaStatus() const {
    return m_player->mediaStatus();
}

QVideoSink* COcx1::videoSink() const {
    return m_video->videoSink();
}

void COcx1::onError(QMediaPlayer::Error error, const QString& text) {
    if (error == QMediaPlayer::NoError || m_url.isEmpty())
        return;
    m_error = text.isEmpty() ? QStringLiteral("The file cannot be played.") : text;
    m_errorLabel->setText(m_error);
    m_stack->setCurrentWidget(m_errorLabel);
    emit errorShown(m_error);
}
