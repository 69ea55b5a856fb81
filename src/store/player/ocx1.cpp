#include "store/player/ocx1.h"

#include "store/player/playercontrols.h"

#include <QAudioOutput>
#include <QLabel>
#include <QPainter>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoFrame>
#include <QVideoSink>

COcx1::COcx1(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_player = new QMediaPlayer(this);
    m_audio = new QAudioOutput(this);
    m_player->setAudioOutput(m_audio);
    m_sink = new QVideoSink(this);
    m_player->setVideoSink(m_sink);
    m_errorLabel = new QLabel(this);
    m_errorLabel->setObjectName(QStringLiteral("error"));
    m_errorLabel->setAlignment(Qt::AlignCenter);
    m_errorLabel->setWordWrap(true);
    QPalette palette = m_errorLabel->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    m_errorLabel->setPalette(palette);
    m_errorLabel->hide();
    m_controls = new PlayerControls(m_player, m_audio, this);
    m_controls->setObjectName(QStringLiteral("controls"));
    m_controls->hide();
    // The reason a file cannot be played fills the whole area: the controls
    // are hidden then.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_errorLabel);

    connect(m_sink, &QVideoSink::videoFrameChanged, this, &COcx1::onFrame);
    connect(m_player, &QMediaPlayer::errorOccurred, this, &COcx1::onError);
}

COcx1::~COcx1() {
    // The player and the sink outlive this part of the object and still
    // signal as they wind down; nothing of them may reach it any more.
    m_sink->disconnect(this);
    m_player->disconnect(this);
    m_player->stop();
}

void COcx1::setURL(const QString& path) {
    m_error.clear();
    m_errorLabel->clear();
    m_errorLabel->hide();
    m_picture = QImage();
    update();
    if (path.isEmpty()) {
        m_url.clear();
        m_controls->hide();
        m_player->stop();
        m_player->setSource(QUrl());
        return;
    }
    m_controls->show();
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
    update();
}

bool COcx1::playing() const {
    return m_player->playbackState() == QMediaPlayer::PlayingState;
}

QMediaPlayer::MediaStatus COcx1::mediaStatus() const {
    return m_player->mediaStatus();
}

QRect COcx1::pictureArea() const {
    if (m_controls->isHidden())
        return rect();
    return rect().adjusted(0, 0, 0, -PlayerControls::kHeight);
}

QRect COcx1::pictureRect() const {
    if (m_picture.isNull())
        return {};
    const QRect area = pictureArea();
    if (m_stretch)
        return area;
    QRect fitted(QPoint(0, 0), m_picture.size().scaled(area.size(), Qt::KeepAspectRatio));
    fitted.moveCenter(area.center());
    return fitted;
}

void COcx1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_controls->setGeometry(0, height() - PlayerControls::kHeight, width(),
                            PlayerControls::kHeight);
}

void COcx1::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!m_picture.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(pictureRect(), m_picture);
    }
}

void COcx1::onFrame(const QVideoFrame& frame) {
    // A frame still arriving after the player was cleared is dropped.
    if (m_url.isEmpty() || !frame.isValid())
        return;
    m_picture = frame.toImage();
    update();
}

void COcx1::onError(QMediaPlayer::Error error, const QString& text) {
    if (error == QMediaPlayer::NoError || m_url.isEmpty())
        return;
    m_error = text.isEmpty() ? QStringLiteral("The file cannot be played.") : text;
    m_errorLabel->setText(m_error);
    m_errorLabel->show();
    // Nothing to play: the reason takes the whole area.
    m_controls->hide();
    emit errorShown(m_error);
}
