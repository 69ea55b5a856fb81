#include "store/player/ocx1.h"
#include "store/player/playercontrols.h"
#include "testenvironment.h"
#include "testmessage.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QVideoFrame>
#include <QVideoSink>

using namespace Qt::StringLiterals;

namespace {
constexpr int kWidth = testmessage::kWidth;
constexpr int kHeight = testmessage::kHeight;
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
    // The picture stands above the controls, as high as the area there.
    QVERIFY(m_player->controls()->isVisible());
    QCOMPARE(m_player->pictureArea(), QRect(0, 0, kWidth, kHeight - PlayerControls::kHeight));
    QCOMPARE(m_player->controls()->geometry().top(), m_player->pictureArea().bottom() + 1);
    QTRY_COMPARE(m_player->pictureRect().height(), m_player->pictureArea().height());
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
    QVERIFY(m_player->controls()->isHidden());
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
    // A 4:3 message in a wider area, above the controls.
    QTest::newRow("fills the area") << true << QRect(0, 0, 400, 212);
    QTest::newRow("keeps the proportions") << false << QRect(59, 0, 282, 212);
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
    // The reason fills the area; there is nothing to control.
    QVERIFY(m_player->controls()->isHidden());
    QCOMPARE(errorLabel()->geometry(), m_player->rect());
    QCOMPARE(m_player->url(), path);

    // The next message plays in the same player, without the old error.
    QSignalSpy frames(m_player->videoSink(), &QVideoSink::videoFrameChanged);
    m_player->setURL(m_message);
    QVERIFY(m_player->errorText().isEmpty());
    QVERIFY(!errorLabel()->isVisible());
    QVERIFY(m_player->controls()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(frames.count() > 0, 10000);
}

QTEST_MAIN(TestOcx1)
#include "tst_ocx1.moc"
