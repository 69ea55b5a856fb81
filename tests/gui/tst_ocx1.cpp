#include "recorder/wmvwriter.h"
#include "store/player/ocx1.h"
#include "testenvironment.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QVideoFrame>
#include <QVideoSink>

#include <atomic>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// A two-second message written by the program's own writer: a bright bar
// moving over a dark picture, with a quiet hum.
bool writeMessage(const QString& path) {
    auto now = std::make_shared<std::atomic<std::uint32_t>>(1000);
    CWmvWriter writer(path, u"{29B00C2B-09A9-48BD-AD09-CDAE117D1DA7}"_s, 20,
                      [now] { return now->load(); });
    QByteArray frame(kWidth * kHeight * 3, '\0');
    const QByteArray sound(1102, char(128 + 8)); // 50 ms of 8-bit mono at 22,050 Hz
    for (int i = 0; i < 40; ++i) {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const bool bar = x >= i * 8 && x < i * 8 + 24;
                char* p = frame.data() + (y * kWidth + x) * 3;
                p[0] = p[1] = p[2] = char(bar ? 230 : 40);
            }
        if (writer.WriteFrame(kWidth, kHeight, reinterpret_cast<const unsigned char*>(frame.data()),
                              24) != S_OK)
            return false;
        if (writer.WriteAudio(reinterpret_cast<const unsigned char*>(sound.data()),
                              int(sound.size())) != S_OK)
            return false;
        now->fetch_add(50);
    }
    writer.Close();
    return QFileInfo(path).size() > 0;
}

} // namespace

class TestOcx1 : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void playsMessage();
    void emptyUrlStopsAndClears();
    void sameUrlPlaysAgain();
    void stretchToFit_data();
    void stretchToFit();
    void unplayableFile_data();
    void unplayableFile();

private:
    QLabel* errorLabel() const { return m_player->findChild<QLabel*>(u"error"_s); }

    TestEnvironment m_env;
    QString m_message;
    COcx1* m_player = nullptr;
};

void TestOcx1::initTestCase() {
    m_message = m_env.makeFolder(u"inbox"_s) + u"/bob;200.wmv"_s;
    QVERIFY(writeMessage(m_message));
}

void TestOcx1::init() {
    m_player = new COcx1;
    m_player->resize(kWidth, kHeight);
    m_player->show();
}

void TestOcx1::cleanup() {
    delete m_player;
    m_player = nullptr;
}

void TestOcx1::playsMessage() {
    QVERIFY(m_player->url().isEmpty());
    QVERIFY(!m_player->playing());
    QSignalSpy frames(m_player->videoSink(), &QVideoSink::videoFrameChanged);
    m_player->setURL(m_message);
    QCOMPARE(m_player->url(), m_message);
    QTRY_VERIFY_WITH_TIMEOUT(frames.count() > 0, 10000);
    const auto frame = frames.last().first().value<QVideoFrame>();
    QCOMPARE(frame.size(), QSize(kWidth, kHeight));
    QVERIFY(m_player->errorText().isEmpty());
    QVERIFY(!errorLabel()->isVisible());
    QTRY_COMPARE(m_player->pictureRect(), m_player->rect());
    // It plays through to the end of the message.
    QTRY_COMPARE_WITH_TIMEOUT(m_player->mediaStatus(), QMediaPlayer::EndOfMedia, 15000);
    QVERIFY(frames.count() > 10);
}

void TestOcx1::emptyUrlStopsAndClears() {
    m_player->setURL(m_message);
    QTRY_VERIFY_WITH_TIMEOUT(m_player->playing(), 10000);
    m_player->setURL(QString());
    QVERIFY(m_player->url().isEmpty());
    QVERIFY(!m_player->playing());
    QTRY_COMPARE(m_player->mediaStatus(), QMediaPlayer::NoMedia);
    // Clearing an empty player is harmless.
    m_player->setURL(QString());
    QVERIFY(!m_player->playing());
}

void TestOcx1::sameUrlPlaysAgain() {
    m_player->setURL(m_message);
    QTRY_COMPARE_WITH_TIMEOUT(m_player->mediaStatus(), QMediaPlayer::EndOfMedia, 15000);
    QVERIFY(!m_player->playing());
    QSignalSpy frames(m_player->videoSink(), &QVideoSink::videoFrameChanged);
    m_player->setURL(m_message);
    QTRY_VERIFY_WITH_TIMEOUT(m_player->playing(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(frames.count() > 0, 10000);
}

void TestOcx1::stretchToFit_data() {
    QTest::addColumn<bool>("stretch");
    QTest::addColumn<QRect>("picture");
    // A 4:3 message in a wider area.
    QTest::newRow("fills the area") << true << QRect(0, 0, 400, 240);
    QTest::newRow("keeps the proportions") << false << QRect(40, 0, 320, 240);
}

void TestOcx1::stretchToFit() {
    QFETCH(bool, stretch);
    QFETCH(QRect, picture);
    // The player starts with its picture in proportion.
    QCOMPARE(m_player->stretchToFit(), false);
    m_player->resize(400, 240);
    m_player->setStretchToFit(!stretch);
    QSignalSpy frames(m_player->videoSink(), &QVideoSink::videoFrameChanged);
    m_player->setURL(m_message);
    QTRY_VERIFY_WITH_TIMEOUT(frames.count() > 0, 10000);
    m_player->setStretchToFit(stretch);
    QCOMPARE(m_player->stretchToFit(), stretch);
    QCOMPARE(m_player->pictureRect(), picture);
    // Left of a picture kept in proportion the area stays black; a
    // stretched one covers it with the message's grey.
    const QImage shown = m_player->grab().toImage();
    const QRgb edge = shown.pixel(10, 120);
    QCOMPARE(qGray(edge) > 20, stretch);

    // Clearing leaves an empty black area and keeps the setting.
    m_player->setURL(QString());
    QVERIFY(m_player->pictureRect().isNull());
    QCOMPARE(m_player->stretchToFit(), stretch);
    QCOMPARE(m_player->grab().toImage().pixel(200, 120) & 0xFFFFFF, 0u);
}

void TestOcx1::unplayableFile_data() {
    QTest::addColumn<QByteArray>("content"); // empty: no file at all
    QTest::newRow("missing file") << QByteArray();
    QTest::newRow("not a video") << QByteArray("this is no video at all, just text\n").repeated(50);
}

void TestOcx1::unplayableFile() {
    QFETCH(QByteArray, content);
    const QString path = m_env.root() + u"/broken;1.wmv"_s;
    QFile::remove(path);
    if (!content.isEmpty())
        QVERIFY(writeFile(path, content));
    QSignalSpy errors(m_player, &COcx1::errorShown);
    m_player->setURL(path);
    QTRY_VERIFY_WITH_TIMEOUT(errors.count() > 0, 10000);
    QVERIFY(!m_player->errorText().isEmpty());
    QCOMPARE(errorLabel()->text(), m_player->errorText());
    QVERIFY(errorLabel()->isVisible());
    QCOMPARE(m_player->url(), path);

    // The next message plays in the same player, without the old error.
    QSignalSpy frames(m_player->videoSink(), &QVideoSink::videoFrameChanged);
    m_player->setURL(m_message);
    QVERIFY(m_player->errorText().isEmpty());
    QVERIFY(!errorLabel()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(frames.count() > 0, 10000);
}

QTEST_MAIN(TestOcx1)
#include "tst_ocx1.moc"
