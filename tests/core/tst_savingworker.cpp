#include "service/savingworker.h"
#include "service/sendreceiveworker.h"
#include "store/messagestore.h"
#include "storefixture.h"

#include <QTest>

namespace {

class StatusLog : public QuietCycleObserver {
public:
    void setStatus(const QString& text) override { statuses << text; }
    QStringList statuses;
};

} // namespace

// The Saving worker files the recording the recorder says it finished, and
// nothing else: never a video an earlier recording left behind.
class TestSavingWorker : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void handOff_data();
    void handOff();

private:
    TestEnvironment m_env;
};

void TestSavingWorker::handOff_data() {
    QTest::addColumn<bool>("videoThere");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<int>("filed");
    QTest::newRow("finished recording") << true << true << 2;
    QTest::newRow("failed recording, earlier video left") << true << false << 0;
    QTest::newRow("finished, yet the video went missing") << false << true << 0;
}

void TestSavingWorker::handOff() {
    QFETCH(bool, videoThere);
    QFETCH(bool, finished);
    QFETCH(int, filed);
    const QString user = makeUserFolder(m_env, QStringLiteral("Start"), "alice@example.org");
    const QString work = m_env.makeFolder(QStringLiteral("work"));
    const RecordingHandOff recording{work + QStringLiteral("/vnote.wmv"),
                                     work + QStringLiteral("/vnote.jpg"), finished};
    if (videoThere)
        QVERIFY(writeFile(recording.video, "the video"));
    QVERIFY(writeFile(recording.thumbnail, "the picture"));
    const MessageStore store(user);
    StatusLog observer;
    int asked = 0;
    const int result =
        SaveToOutbox(store, QStringLiteral("alice@example.org"), recording, observer, [&asked] {
            ++asked;
            return QStringList{QStringLiteral("bob@example.org"),
                               QStringLiteral("carol@example.org")};
        });
    QCOMPARE(result, filed);
    const QStringList outbox = filesIn(user + QStringLiteral("/Outbox"));
    QCOMPARE(outbox.size(), filed * 2);
    for (const QString& name : outbox)
        QCOMPARE(readFile(user + QStringLiteral("/Outbox/") + name),
                 name.endsWith(QLatin1String(".jpg")) ? QByteArray("the picture")
                                                      : QByteArray("the video"));
    // A failed recording is not even offered to the recipients.
    QCOMPARE(asked, finished ? 1 : 0);
    QVERIFY(!QFile::exists(recording.video));
    QCOMPARE(readFile(recording.thumbnail), QByteArray("the picture"));
    QVERIFY(!observer.statuses.isEmpty());
    QCOMPARE(observer.statuses.last(), QString());
}

QTEST_MAIN(TestSavingWorker)
#include "tst_savingworker.moc"
