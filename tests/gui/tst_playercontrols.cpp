#include "store/player/ocx1.h"
#include "store/player/playercontrols.h"
#include "testenvironment.h"
#include "testmessage.h"

#include <QAudioOutput>
#include <QKeyEvent>
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {
// Seeks land on a frame near the place asked for.
constexpr qint64 kSlackMs = 300;

bool near(qint64 position, qint64 wanted, qint64 slack = kSlackMs) {
    return qAbs(position - wanted) <= slack;
}
} // namespace

// The controls under the embedded player, on a real 12-second message:
// what each button and key does to the player, and how the bar follows it.
class TestPlayerControls : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void buttons_data();
    void buttons();
    void keys_data();
    void keys();
    void pressOnSeekBarGoesThere();
    void endShowsPlayAgain();
    void speedHoldsForNextMessage();

private:
    QToolButton* button(const QString& name) const {
        return m_player->controls()->findChild<QToolButton*>(name);
    }
    QSlider* seekBar() const { return m_player->controls()->findChild<QSlider*>(u"seek"_s); }
    QMediaPlayer* media() const { return m_player->mediaPlayer(); }
    // Paused at `ms` of the loaded message.
    void pauseAt(qint64 ms);

    TestEnvironment m_env;
    QString m_message;
    QString m_second;
    COcx1* m_player = nullptr;
    PlayerControls* m_controls = nullptr;
    qint64 m_duration = 0;
};

void TestPlayerControls::initTestCase() {
    const QString inbox = m_env.makeFolder(u"inbox"_s);
    m_message = inbox + u"/bob;200.wmv"_s;
    m_second = inbox + u"/carol;300.wmv"_s;
    QVERIFY(writeMessage(m_message, 12));
    QVERIFY(QFile::copy(m_message, m_second));
}

void TestPlayerControls::init() {
    m_player = new COcx1;
    m_player->resize(testmessage::kWidth, testmessage::kHeight);
    m_player->show();
    m_controls = m_player->controls();
    m_player->setURL(m_message);
    QTRY_COMPARE_WITH_TIMEOUT(media()->mediaStatus(), QMediaPlayer::BufferedMedia, 30000);
    QTRY_VERIFY(media()->duration() > 11000);
    m_duration = media()->duration();
    QCOMPARE(seekBar()->maximum(), int(m_duration));
}

void TestPlayerControls::cleanup() {
    delete m_player;
    m_player = nullptr;
}

void TestPlayerControls::pauseAt(qint64 ms) {
    if (media()->playbackState() == QMediaPlayer::PlayingState)
        m_controls->togglePlay();
    QTRY_COMPARE(media()->playbackState(), QMediaPlayer::PausedState);
    m_controls->seekTo(ms);
    QTRY_VERIFY2(near(media()->position(), ms), qPrintable(QString::number(media()->position())));
}

void TestPlayerControls::buttons_data() {
    QTest::addColumn<bool>("playing");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<QMediaPlayer::PlaybackState>("state");
    QTest::addColumn<qreal>("rate");
    QTest::addColumn<bool>("muted");
    const auto paused = QMediaPlayer::PausedState;
    const auto playing = QMediaPlayer::PlayingState;
    QTest::newRow("play") << false << u"playPause"_s << 1 << playing << 1.0 << false;
    QTest::newRow("pause") << true << u"playPause"_s << 1 << paused << 1.0 << false;
    QTest::newRow("replay while paused") << false << u"replay"_s << 1 << playing << 1.0 << false;
    QTest::newRow("replay while playing") << true << u"replay"_s << 1 << playing << 1.0 << false;
    QTest::newRow("mute") << true << u"mute"_s << 1 << playing << 1.0 << true;
    QTest::newRow("mute and sound on") << true << u"mute"_s << 2 << playing << 1.0 << false;
    QTest::newRow("1.5x") << true << u"speed"_s << 1 << playing << 1.5 << false;
    QTest::newRow("2x while paused") << false << u"speed"_s << 2 << paused << 2.0 << false;
    QTest::newRow("back to 1x") << true << u"speed"_s << 3 << playing << 1.0 << false;
}

void TestPlayerControls::buttons() {
    QFETCH(bool, playing);
    QFETCH(QString, name);
    QFETCH(int, clicks);
    QFETCH(QMediaPlayer::PlaybackState, state);
    QFETCH(qreal, rate);
    QFETCH(bool, muted);
    pauseAt(6000);
    if (playing) {
        m_controls->togglePlay();
        QTRY_COMPARE(media()->playbackState(), QMediaPlayer::PlayingState);
    }
    QSignalSpy positions(media(), &QMediaPlayer::positionChanged);
    for (int i = 0; i < clicks; ++i)
        QTest::mouseClick(button(name), Qt::LeftButton);
    QTRY_COMPARE(media()->playbackState(), state);
    QTRY_COMPARE(media()->playbackRate(), rate);
    QCOMPARE(m_player->audioOutput()->isMuted(), muted);
    // The bar shows what the player does.
    QCOMPARE(button(u"playPause"_s)->toolTip(),
             state == QMediaPlayer::PlayingState ? u"Pause"_s : u"Play"_s);
    QCOMPARE(button(u"mute"_s)->isChecked(), muted);
    QCOMPARE(button(u"speed"_s)->text(), PlayerControls::rateText(rate));
    const bool replayed = name == u"replay"_s;
    if (replayed)
        QTRY_VERIFY(std::any_of(positions.cbegin(), positions.cend(), [](const QList<QVariant>& p) {
            return p.first().toLongLong() < 1000;
        }));
    else if (state == QMediaPlayer::PausedState)
        QVERIFY(near(media()->position(), 6000));
    else
        QVERIFY(media()->position() >= 6000 - kSlackMs);
}

void TestPlayerControls::keys_data() {
    QTest::addColumn<qint64>("from");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("used");
    QTest::addColumn<qint64>("to"); // -1: the end
    QTest::addColumn<QMediaPlayer::PlaybackState>("state");
    const auto paused = QMediaPlayer::PausedState;
    QTest::newRow("Right: 5 s on") << 4000LL << int(Qt::Key_Right) << true << 9000LL << paused;
    QTest::newRow("Left: 5 s back") << 9000LL << int(Qt::Key_Left) << true << 4000LL << paused;
    QTest::newRow("Left stops at the start")
        << 2000LL << int(Qt::Key_Left) << true << 0LL << paused;
    QTest::newRow("Right stops at the end")
        << 10000LL << int(Qt::Key_Right) << true << -1LL << paused;
    QTest::newRow("Enter plays") << 4000LL << int(Qt::Key_Return) << true << 4000LL
                                 << QMediaPlayer::PlayingState;
    QTest::newRow("space is not the player's")
        << 4000LL << int(Qt::Key_Space) << false << 4000LL << paused;
}

void TestPlayerControls::keys() {
    QFETCH(qint64, from);
    QFETCH(int, key);
    QFETCH(bool, used);
    QFETCH(qint64, to);
    QFETCH(QMediaPlayer::PlaybackState, state);
    if (to < 0)
        to = m_duration;
    pauseAt(from);
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCOMPARE(m_controls->handleKey(&press), used);
    QTRY_COMPARE(media()->playbackState(), state);
    if (state == QMediaPlayer::PausedState) {
        QTRY_VERIFY2(near(media()->position(), to),
                     qPrintable(QString::number(media()->position())));
        QTRY_COMPARE(m_controls->timeText(), PlayerControls::formatTime(media()->position()) +
                                                 u" / "_s + PlayerControls::formatTime(m_duration));
    } else {
        QVERIFY(media()->position() >= to - kSlackMs);
    }
}

void TestPlayerControls::pressOnSeekBarGoesThere() {
    pauseAt(0);
    QSlider* bar = seekBar();
    // A quarter from the right end: 9 s of 12, not one page of 5 s.
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() * 3 / 4, bar->height() / 2));
    QTRY_VERIFY2(near(media()->position(), m_duration * 3 / 4, 1500),
                 qPrintable(QString::number(media()->position())));
    QCOMPARE(media()->playbackState(), QMediaPlayer::PausedState);
}

void TestPlayerControls::endShowsPlayAgain() {
    QCOMPARE(m_controls->timeText(), u"0:00 / 0:12"_s);
    pauseAt(m_duration - 1000);
    m_controls->togglePlay();
    QTRY_COMPARE_WITH_TIMEOUT(media()->mediaStatus(), QMediaPlayer::EndOfMedia, 30000);
    QCOMPARE(media()->playbackState(), QMediaPlayer::StoppedState);
    QCOMPARE(button(u"playPause"_s)->toolTip(), u"Play"_s);
    QCOMPARE(seekBar()->value(), seekBar()->maximum());
    QCOMPARE(m_controls->timeText(), u"0:12 / 0:12"_s);
    // Play again starts over.
    QSignalSpy positions(media(), &QMediaPlayer::positionChanged);
    QTest::mouseClick(button(u"playPause"_s), Qt::LeftButton);
    QTRY_COMPARE(media()->playbackState(), QMediaPlayer::PlayingState);
    QTRY_VERIFY(!positions.isEmpty() && positions.first().first().toLongLong() < 1000);
}

void TestPlayerControls::speedHoldsForNextMessage() {
    m_controls->setRate(2.0);
    QTRY_COMPARE(media()->playbackRate(), 2.0);
    // The player only keeps a speed set once a message has loaded: set
    // before, it would report 2x and play at 1x.
    QList<QMediaPlayer::MediaStatus> setAt;
    connect(media(), &QMediaPlayer::playbackRateChanged, this,
            [&setAt, this] { setAt.append(media()->mediaStatus()); });
    m_player->setURL(m_second);
    QTRY_COMPARE_WITH_TIMEOUT(media()->mediaStatus(), QMediaPlayer::BufferedMedia, 30000);
    QTRY_COMPARE(media()->playbackRate(), 2.0);
    QCOMPARE(media()->playbackState(), QMediaPlayer::PlayingState);
    QVERIFY(!setAt.isEmpty());
    QVERIFY2(setAt.last() == QMediaPlayer::LoadedMedia ||
                 setAt.last() == QMediaPlayer::BufferedMedia,
             "2x was set once the message had loaded");
    QCOMPARE(button(u"speed"_s)->text(), PlayerControls::rateText(2.0));
}

QTEST_MAIN(TestPlayerControls)
#include "tst_playercontrols.moc"
