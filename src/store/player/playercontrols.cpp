#include "store/player/playercontrols.h"

#include <QAudioOutput>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProxyStyle>
#include <QSlider>
#include <QToolButton>

#include <algorithm>

namespace {
// A press on the seek bar's groove goes straight to that place, rather than
// a page at a time towards it.
class SeekBarStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_Slider_AbsoluteSetButtons)
            return Qt::LeftButton;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

bool canTakeRate(QMediaPlayer::MediaStatus status) {
    return status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferingMedia ||
           status == QMediaPlayer::BufferedMedia;
}
} // namespace

PlayerControls::PlayerControls(QMediaPlayer* player, QAudioOutput* audio, QWidget* parent)
    : QWidget(parent), m_player(player), m_audio(audio) {
    setFixedHeight(kHeight);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::NoFocus);

    m_play = addButton(QStringLiteral("playPause"), QStringLiteral("Play"));
    m_replay = addButton(QStringLiteral("replay"), QStringLiteral("Play from the start"));
    m_replay->setIcon(style()->standardIcon(QStyle::SP_MediaSkipBackward));
    m_seek = new QSlider(Qt::Horizontal, this);
    m_seek->setObjectName(QStringLiteral("seek"));
    m_seek->setFocusPolicy(Qt::NoFocus);
    auto* seekStyle = new SeekBarStyle;
    seekStyle->setParent(m_seek);
    m_seek->setStyle(seekStyle);
    m_seek->setPageStep(int(kSeekStepMs));
    m_seek->setSingleStep(1000);
    m_time = new QLabel(this);
    m_time->setObjectName(QStringLiteral("time"));
    m_mute = addButton(QStringLiteral("mute"), QStringLiteral("Mute"));
    m_mute->setCheckable(true);
    m_speed = addButton(QStringLiteral("speed"), QStringLiteral("Playback speed"));
    m_speed->setToolButtonStyle(Qt::ToolButtonTextOnly);
    // Wide enough for every speed, so the bar does not shift as it changes.
    m_speed->setMinimumWidth(fontMetrics().horizontalAdvance(rateText(1.5)) + 10);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 1, 4, 1);
    layout->setSpacing(2);
    layout->addWidget(m_play);
    layout->addWidget(m_replay);
    layout->addWidget(m_seek, 1);
    layout->addSpacing(2);
    layout->addWidget(m_time);
    layout->addWidget(m_mute);
    layout->addWidget(m_speed);

    connect(m_play, &QToolButton::clicked, this, &PlayerControls::togglePlay);
    connect(m_replay, &QToolButton::clicked, this, &PlayerControls::replay);
    connect(m_mute, &QToolButton::clicked, this, &PlayerControls::toggleMute);
    connect(m_speed, &QToolButton::clicked, this, &PlayerControls::nextRate);
    // While the handle is dragged the time follows it; the player moves once
    // it is let go, so a drag is one seek, not hundreds.
    connect(m_seek, &QSlider::sliderMoved, this, &PlayerControls::showTime);
    connect(m_seek, &QSlider::sliderReleased, this, [this] { seekTo(m_seek->sliderPosition()); });
    connect(m_seek, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove && !m_seek->isSliderDown())
            seekTo(m_seek->sliderPosition());
    });

    connect(m_player, &QMediaPlayer::durationChanged, this, [this](qint64 duration) {
        m_seek->setRange(0, int(std::max<qint64>(duration, 0)));
        showTime();
    });
    connect(m_player, &QMediaPlayer::positionChanged, this, &PlayerControls::showTime);
    connect(m_player, &QMediaPlayer::playbackStateChanged, this, [this] {
        showState();
        applyRate();
    });
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this, [this] {
        applyRate();
        showTime();
    });
    // A new source starts from the normal speed in the player; the chosen
    // one is set again once it has loaded. Otherwise the player would still
    // report the old speed while playing the new message at 1x.
    connect(m_player, &QMediaPlayer::sourceChanged, this,
            [this] { m_player->setPlaybackRate(1.0); });
    connect(m_audio, &QAudioOutput::mutedChanged, this, &PlayerControls::showState);
    showState();
    showTime();
}

QToolButton* PlayerControls::addButton(const QString& name, const QString& tip) {
    auto* button = new QToolButton(this);
    button->setObjectName(name);
    button->setToolTip(tip);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIconSize(QSize(16, 16));
    return button;
}

void PlayerControls::togglePlay() {
    if (m_player->playbackState() == QMediaPlayer::PlayingState)
        m_player->pause();
    else
        m_player->play();
}

void PlayerControls::replay() {
    m_player->setPosition(0);
    m_player->play();
}

void PlayerControls::toggleMute() {
    m_audio->setMuted(!m_audio->isMuted());
}

void PlayerControls::seekBy(qint64 ms) {
    seekTo(m_player->position() + ms);
}

void PlayerControls::seekTo(qint64 ms) {
    const qint64 duration = m_player->duration();
    if (duration <= 0)
        return;
    m_player->setPosition(std::clamp<qint64>(ms, 0, duration));
}

void PlayerControls::setRate(qreal rate) {
    m_rate = rate;
    showState();
    applyRate();
}

void PlayerControls::nextRate() {
    const auto current = std::find(kRates.begin(), kRates.end(), m_rate);
    setRate(current == kRates.end() || current + 1 == kRates.end() ? kRates.front()
                                                                   : *(current + 1));
}

void PlayerControls::applyRate() {
    if (m_player->playbackRate() == m_rate || !canTakeRate(m_player->mediaStatus()) ||
        m_player->playbackState() == QMediaPlayer::StoppedState)
        return;
    m_player->setPlaybackRate(m_rate);
}

bool PlayerControls::handleKey(QKeyEvent* event) {
    if (event->type() != QEvent::KeyPress || isHidden() || m_player->source().isEmpty())
        return false;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // A held Enter would pause and play by turns.
        if (!event->isAutoRepeat())
            togglePlay();
        return true;
    case Qt::Key_Left:
        seekBy(-kSeekStepMs);
        return true;
    case Qt::Key_Right:
        seekBy(kSeekStepMs);
        return true;
    default:
        return false;
    }
}

QString PlayerControls::formatTime(qint64 ms) {
    const qint64 seconds = std::max<qint64>(ms, 0) / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString PlayerControls::rateText(qreal rate) {
    return QString::number(rate) + QChar(0x00D7);
}

QString PlayerControls::timeText() const {
    return m_time->text();
}

void PlayerControls::showTime() {
    const qint64 duration = std::max<qint64>(m_player->duration(), 0);
    qint64 shown = m_player->position();
    // The last frame starts a little before the end; a message played to
    // its end shows all of its length.
    if (m_player->mediaStatus() == QMediaPlayer::EndOfMedia)
        shown = duration;
    if (m_seek->isSliderDown())
        shown = m_seek->sliderPosition();
    else
        m_seek->setValue(int(shown));
    m_time->setText(formatTime(shown) + QStringLiteral(" / ") + formatTime(duration));
}

void PlayerControls::showState() {
    const bool playing = m_player->playbackState() == QMediaPlayer::PlayingState;
    m_play->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    m_play->setToolTip(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
    const bool muted = m_audio->isMuted();
    m_mute->setChecked(muted);
    m_mute->setIcon(
        style()->standardIcon(muted ? QStyle::SP_MediaVolumeMuted : QStyle::SP_MediaVolume));
    m_mute->setToolTip(muted ? QStringLiteral("Sound on") : QStringLiteral("Mute"));
    m_speed->setText(rateText(m_rate));
}
