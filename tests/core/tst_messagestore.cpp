#include "platform/filestatus.h"
#include "store/messagestore.h"
#include "storefixture.h"

#include <QBuffer>
#include <QTest>

#include <sys/wait.h>
#include <unistd.h>

// The message store over a user folder under a path with capitals: paths,
// listing, counting, filing a recording, sending, receiving, deleting,
// resending and saving a copy. Every test runs with the read state in
// extended attributes and in the state file (the global data rows).
class TestMessageStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase_data();
    void init();
    void paths_data();
    void paths();
    void foldersInAnyCase();
    void listingRule();
    void counts_data();
    void counts();
    void userFolderNamedJpgStillCounts();
    void fileRecording_data();
    void fileRecording();
    void sendingKeepsOrDrops();
    void receiving_data();
    void receiving();
    void receivingAgainKeepsOneRow_data();
    void receivingAgainKeepsOneRow();
    void receivedToConfirmOutlivesTheStore();
    void sweepRemovesOnlyAbandonedWorkingFiles();
    void refusedReceivedNamesTouchNothing_data();
    void refusedReceivedNamesTouchNothing();
    void senderIsContact_data();
    void senderIsContact();
    void markReadLowersTheCount();
    void deleting_data();
    void deleting();
    void resend();
    void saveCopy();

private:
    FileStatus::Mode mode() const;
    QString in(const QString& folder, const QString& name = {}) const {
        return m_userFolder + QLatin1Char('/') + folder + (name.isEmpty() ? "" : "/" + name);
    }
    // Temporary files must never stay behind in the user folder.
    void verifyNoLeftovers() const;

    TestEnvironment m_env;
    QString m_userFolder;
    QString m_sources;
    int m_round = 0;
};

void TestMessageStore::initTestCase_data() {
    QTest::addColumn<bool>("attributes");
    QTest::newRow("extended attributes") << true;
    QTest::newRow("state file") << false;
}

FileStatus::Mode TestMessageStore::mode() const {
    QFETCH_GLOBAL(bool, attributes);
    return attributes ? FileStatus::Mode::Automatic : FileStatus::Mode::StateFileOnly;
}

void TestMessageStore::init() {
    m_userFolder = makeUserFolder(m_env, QStringLiteral("Work Dir %1").arg(++m_round),
                                  QStringLiteral("Alice@Example.ORG"));
    m_sources = m_env.makeFolder(QStringLiteral("Recording %1").arg(m_round));
}

void TestMessageStore::verifyNoLeftovers() const {
    for (const QString& name : filesIn(m_userFolder))
        QVERIFY2(!name.endsWith(QLatin1String(".part")), qPrintable(name));
}

void TestMessageStore::paths_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");
    QTest::newRow("inbox file") << "path" << 0 << "alice;456.wmv"
                                << "Inbox/alice;456.wmv";
    QTest::newRow("inbox thumbnail") << "thumbnail" << 0 << "alice;456.wmv"
                                     << "Inbox/alice;456.jpg";
    QTest::newRow("inbox video of notes.txt") << "video" << 0 << "notes.txt"
                                              << "Inbox/notes.wmv";
    QTest::newRow("outbox thumbnail") << "thumbnail" << 1 << "Bob;alice;123"
                                      << "Outbox/Bob;alice;123.jpg";
    QTest::newRow("sent thumbnail") << "thumbnail" << 2 << "bob;alice;123.wmv"
                                    << "Sent/bob;alice;123.jpg";
    QTest::newRow("contact picture") << "thumbnail" << 3 << "bob"
                                     << "Contacts/bob.jpg";
    QTest::newRow("sent video") << "sent" << 1 << "Bob;alice;123"
                                << "Sent/bob;alice;123.wmv";
    QTest::newRow("sent thumbnail of outbox") << "sent" << 1 << "Bob;alice;123.jpg"
                                              << "Sent/bob;alice;123.jpg";
    QTest::newRow("popup thumbnail") << "popup" << 0 << "Alice;456"
                                     << "Inbox/alice;456.jpg";
    QTest::newRow("popup refuses a path") << "popup" << 0 << "../x"
                                          << "";
}

void TestMessageStore::paths() {
    QFETCH(QString, kind);
    QFETCH(int, folder);
    QFETCH(QString, name);
    QFETCH(QString, path);
    FileStatus status(mode());
    const MessageStore store(m_userFolder, status);
    const Folder f = static_cast<Folder>(folder);
    QString actual;
    if (kind == QLatin1String("path"))
        actual = store.path(f, name);
    else if (kind == QLatin1String("thumbnail"))
        actual = store.thumbnailPath(f, name);
    else if (kind == QLatin1String("video"))
        actual = store.inboxVideoPath(name);
    else if (kind == QLatin1String("sent"))
        actual = store.sentPathOf(name);
    else
        actual = store.popupThumbnailPath(name);
    QCOMPARE(actual, path.isEmpty() ? QString() : m_userFolder + QLatin1Char('/') + path);
}

void TestMessageStore::foldersInAnyCase() {
    const QString lower = makeUserFolder(m_env, QStringLiteral("Lower %1").arg(m_round),
                                         QStringLiteral("Bob"), {"inbox", "OUTBOX"});
    QVERIFY(writeFile(lower + QStringLiteral("/inbox/alice;1.wmv"), "v"));
    FileStatus status(mode());
    const MessageStore store(lower, status);
    QCOMPARE(store.list(Folder::Inbox), QStringList{"alice;1.wmv"});
    QCOMPARE(store.path(Folder::Outbox, QStringLiteral("x")), lower + QStringLiteral("/OUTBOX/x"));
    QCOMPARE(store.countUnread(), 1);
}

void TestMessageStore::listingRule() {
    for (const char* name :
         {"alice;100.wmv", "bob;200.wmv", "bob;200.jpg", "notes.txt", "NOTES.JPG"})
        QVERIFY(writeFile(in("Inbox", QLatin1String(name)), "x"));
    QVERIFY(QDir().mkpath(in("Inbox", "old.wmv")));
    QVERIFY(writeFile(in("Outbox", "Bob;alice;123"), "x"));
    QVERIFY(writeFile(in("Outbox", "Bob;alice;123.jpg"), "x"));
    FileStatus status(mode());
    const MessageStore store(m_userFolder, status);
    QStringList inbox = store.list(Folder::Inbox);
    inbox.sort();
    QCOMPARE(inbox, (QStringList{"alice;100.wmv", "bob;200.wmv", "notes.txt"}));
    QCOMPARE(store.list(Folder::Outbox), QStringList{"Bob;alice;123"});
    QVERIFY(store.list(Folder::Sent).isEmpty());
}

void TestMessageStore::counts_data() {
    QTest::addColumn<int>("folder");
    QTest::addColumn<QString>("exclusion");
    QTest::addColumn<bool>("unreadOnly");
    QTest::addColumn<int>("count");
    QTest::newRow("inbox unread") << 0 << ".jpg" << true << 3;
    QTest::newRow("inbox all") << 0 << ".jpg" << false << 4;
    QTest::newRow("inbox without exclusion") << 0 << "" << false << 7;
    QTest::newRow("outbox") << 1 << ".jpg" << false << 2;
    QTest::newRow("sent, empty") << 2 << ".jpg" << false << 0;
    QTest::newRow("contacts with pictures") << 3 << "" << false << 3;
    QTest::newRow("folder name is no exclusion") << 0 << "inbox" << false << 0;
}

void TestMessageStore::counts() {
    QFETCH(int, folder);
    QFETCH(QString, exclusion);
    QFETCH(bool, unreadOnly);
    QFETCH(int, count);
    for (const char* name :
         {"alice;100.wmv", "bob;200.wmv", "bob;200.jpg", "notes.txt", "NOTES.JPG"})
        QVERIFY(writeFile(in("Inbox", QLatin1String(name)), "x"));
    // Names beyond ASCII are lower-cased as text too.
    QVERIFY(writeFile(in("Inbox", QStringLiteral("zoë;3.wmv")), "x"));
    QVERIFY(writeFile(in("Inbox", QStringLiteral("ZOË;3.JPG")), "x"));
    QVERIFY(QDir().mkpath(in("Inbox", "sub")));
    for (const char* name : {"Bob;alice;1", "Bob;alice;1.jpg", "carol;alice;2"})
        QVERIFY(writeFile(in("Outbox", QLatin1String(name)), "x"));
    for (const char* name : {"bob", "bob.jpg", "carol"})
        QVERIFY(writeFile(in("Contacts", QLatin1String(name)), "x"));
    FileStatus status(mode());
    const MessageStore store(m_userFolder, status);
    QVERIFY(store.markRead(QStringLiteral("alice;100.wmv")));
    QCOMPARE(QFile::exists(in(".Inbox.status")), mode() == FileStatus::Mode::StateFileOnly);
    QCOMPARE(store.countFiles(static_cast<Folder>(folder), exclusion, unreadOnly), count);
    QCOMPARE(store.countUnread(), 3);
}

void TestMessageStore::userFolderNamedJpgStillCounts() {
    const QString odd = makeUserFolder(m_env, QStringLiteral("photos.jpg %1").arg(m_round),
                                       QStringLiteral("me.jpg@x.org"));
    QVERIFY(writeFile(odd + QStringLiteral("/Inbox/alice;1.wmv"), "v"));
    QVERIFY(writeFile(odd + QStringLiteral("/Inbox/alice;1.jpg"), "j"));
    FileStatus status(mode());
    const MessageStore store(odd, status);
    QCOMPARE(store.countUnread(), 1);
    QCOMPARE(store.countFiles(Folder::Inbox, QStringLiteral(".jpg"), false), 1);
}

void TestMessageStore::fileRecording_data() {
    QTest::addColumn<QStringList>("recipients");
    QTest::addColumn<bool>("haveVideo");
    QTest::addColumn<bool>("haveThumbnail");
    QTest::addColumn<QStringList>("filed");
    QTest::addColumn<QStringList>("outbox");
    QTest::newRow("bob and carol")
        << QStringList{"bob", "carol"} << true << true
        << QStringList{"bob;alice;100", "carol;alice;-2147483648"}
        << QStringList{"bob;alice;100", "bob;alice;100.jpg", "carol;alice;-2147483648",
                       "carol;alice;-2147483648.jpg"};
    QTest::newRow("no thumbnail") << QStringList{"bob"} << true << false
                                  << QStringList{"bob;alice;100"} << QStringList{"bob;alice;100"};
    QTest::newRow("no video: no thumbnail either")
        << QStringList{"bob"} << false << true << QStringList{} << QStringList{};
    QTest::newRow("unsafe recipient skipped")
        << QStringList{"../evil", "carol"} << true << true << QStringList{"carol;alice;-2147483648"}
        << QStringList{"carol;alice;-2147483648", "carol;alice;-2147483648.jpg"};
}

void TestMessageStore::fileRecording() {
    QFETCH(QStringList, recipients);
    QFETCH(bool, haveVideo);
    QFETCH(bool, haveThumbnail);
    QFETCH(QStringList, filed);
    QFETCH(QStringList, outbox);
    const QString video = m_sources + QStringLiteral("/vnote.wmv");
    const QString thumbnail = m_sources + QStringLiteral("/vnote.jpg");
    if (haveVideo)
        QVERIFY(writeFile(video, "video bytes"));
    if (haveThumbnail)
        QVERIFY(writeFile(thumbnail, "jpeg bytes"));

    FileStatus status(mode());
    MessageStore store(m_userFolder, status);
    QList<std::uint32_t> ticks = {100u, 0x80000000u};
    int calls = 0;
    store.setTickSource([&] { return ticks.at(qMin(calls++, 1)); });
    const QList<FiledMessage> result =
        store.fileRecording(video, thumbnail, recipients, QStringLiteral("alice"));

    QStringList names;
    for (const FiledMessage& message : result) {
        names.append(message.name);
        QCOMPARE(message.thumbnailFiled, haveThumbnail);
        QCOMPARE(readFile(in("Outbox", message.name)), QByteArray("video bytes"));
        if (haveThumbnail)
            QCOMPARE(readFile(in("Outbox", message.name + ".jpg")), QByteArray("jpeg bytes"));
    }
    QCOMPARE(names, filed);
    QCOMPARE(calls, recipients.size());
    QCOMPARE(filesIn(in("Outbox")), outbox);
    // Nothing lands beside the folders: no temporary file, no "../evil" name.
    QCOMPARE(filesIn(m_userFolder), QStringList{});
}

void TestMessageStore::sendingKeepsOrDrops() {
    for (const char* name : {"Bob;alice;123", "Bob;alice;123.jpg", "carol;alice;5"})
        QVERIFY(writeFile(in("Outbox", QLatin1String(name)), name));
    FileStatus status(mode());
    const MessageStore store(m_userFolder, status);
    // "SaveSent" on: both files of the pair are kept under lower-case names.
    QVERIFY(store.moveToSent(QStringLiteral("Bob;alice;123")));
    QVERIFY(store.moveToSent(QStringLiteral("Bob;alice;123.jpg")));
    QCOMPARE(filesIn(in("Sent")), (QStringList{"bob;alice;123.jpg", "bob;alice;123.wmv"}));
    QCOMPARE(readFile(in("Sent", "bob;alice;123.wmv")), QByteArray("Bob;alice;123"));
    // "SaveSent" off: the file just leaves the Outbox.
    QVERIFY(store.removeFromOutbox(QStringLiteral("carol;alice;5")));
    QCOMPARE(filesIn(in("Outbox")), QStringList{});
    QVERIFY(!store.moveToSent(QStringLiteral("gone")));
    QVERIFY(!store.removeFromOutbox(QStringLiteral("gone")));
}

void TestMessageStore::receiving_data() {
    QTest::addColumn<QString>("received");
    QTest::addColumn<QString>("inboxName");
    QTest::addColumn<QString>("picture");
    QTest::newRow("video") << "bob;alice;456"
                           << "alice;456.wmv"
                           << "";
    QTest::newRow("thumbnail replaces picture") << "bob;alice;456.jpg"
                                                << "alice;456.jpg"
                                                << "alice.jpg";
    QTest::newRow("mixed case stored lower") << "Bob;Alice;789"
                                             << "alice;789.wmv"
                                             << "";
}

void TestMessageStore::receiving() {
    QFETCH(QString, received);
    QFETCH(QString, inboxName);
    QFETCH(QString, picture);
    QVERIFY(writeFile(in("Contacts", "alice.jpg"), "old picture"));
    QByteArray record = QByteArray("header") + QByteArray(9000, 'v');
    QBuffer data(&record);
    QVERIFY(data.open(QIODevice::ReadOnly));
    QVERIFY(data.seek(6));
    const QDateTime date(QDate(2008, 12, 7), QTime(15, 45, 12));

    FileStatus status(mode());
    const MessageStore store(m_userFolder, status);
    const ReceivedFile result = store.fileReceived(received, data, date);
    QVERIFY(result.filed);
    QCOMPARE(result.inboxName, inboxName);
    QCOMPARE(result.thumbnail, !picture.isEmpty());
    QCOMPARE(result.pictureStored, !picture.isEmpty());
    QCOMPARE(readFile(in("Inbox", inboxName)), QByteArray(9000, 'v'));
    FileState state;
    QVERIFY(status.GetStatus(in("Inbox", inboxName), state));
    QVERIFY(!state.read);
    QCOMPARE(state.date, date);
    QCOMPARE(readFile(in("Contacts", "alice.jpg")),
             picture.isEmpty() ? QByteArray("old picture") : QByteArray(9000, 'v'));
    verifyNoLeftovers();
}

void TestMessageStore::receivingAgainKeepsOneRow_data() {
    QTest::addColumn<bool>("played");
    QTest::newRow("played stays read") << true;
    QTest::newRow("unread stays unread") << false;
}

void TestMessageStore::receivingAgainKeepsOneRow() {
    QFETCH(bool, played);
    FileStatus status(mode());
    const MessageStore store(m_userFolder, status);
    const QDateTime date(QDate(2008, 12, 7), QTime(15, 45, 12));
    QByteArray bytes("video");
    QBuffer first(&bytes);
    QVERIFY(first.open(QIODevice::ReadOnly));
    const ReceivedFile filed = store.fileReceived(QStringLiteral("bob;alice;456"), first, date);
    QVERIFY(filed.filed);
    QVERIFY(!filed.replaced);
    if (played)
        QVERIFY(store.markRead(QStringLiteral("alice;456.wmv")));
    // The service hands the same message out again.
    QBuffer second(&bytes);
    QVERIFY(second.open(QIODevice::ReadOnly));
    const ReceivedFile again = store.fileReceived(QStringLiteral("bob;alice;456"), second, date);
    QVERIFY(again.filed);
    QVERIFY(again.replaced);
    QCOMPARE(store.list(Folder::Inbox), QStringList{"alice;456.wmv"});
    QCOMPARE(store.countUnread(), played ? 0 : 1);
    FileState state;
    QVERIFY(status.GetStatus(in("Inbox", "alice;456.wmv"), state));
    QCOMPARE(state.read, played);
    QCOMPARE(state.date, date);
    verifyNoLeftovers();
}

void TestMessageStore::receivedToConfirmOutlivesTheStore() {
    FileStatus status(mode());
    const QString name = QStringLiteral("Bob;Alice;-12.jpg");
    QCOMPARE(MessageStore(m_userFolder, status).receivedToConfirm(), QString());
    QVERIFY(MessageStore(m_userFolder, status).setReceivedToConfirm(name));
    QCOMPARE(MessageStore(m_userFolder, status).receivedToConfirm(), name);
    // Nowhere a list looks.
    for (const Folder folder : {Folder::Inbox, Folder::Outbox, Folder::Sent, Folder::Contacts})
        QCOMPARE(MessageStore(m_userFolder, status).list(folder), QStringList());
    QVERIFY(MessageStore(m_userFolder, status).setReceivedToConfirm(QString()));
    QCOMPARE(MessageStore(m_userFolder, status).receivedToConfirm(), QString());
    QVERIFY(MessageStore(m_userFolder, status).setReceivedToConfirm(QString()));
    verifyNoLeftovers();
}

void TestMessageStore::sweepRemovesOnlyAbandonedWorkingFiles() {
    // A writer that has ended: its pid names no process any more.
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    QVERIFY(child > 0);
    QCOMPARE(::waitpid(child, nullptr, 0), child);
    const auto working = [](qint64 pid) {
        return QStringLiteral(".clipnote-%1-7-0badf00d.part").arg(pid);
    };
    const QString abandoned = working(child);
    const QString ours = working(::getpid());
    const QString live = working(::getppid());
    for (const QString& name : {abandoned, ours, live, QStringLiteral("notes.part")})
        QVERIFY(writeFile(m_userFolder + "/" + name, "half"));
    FileStatus status(mode());
    QCOMPARE(MessageStore(m_userFolder, status).sweepWorkingFiles(), 1);
    QStringList kept{live, ours, "notes.part"};
    kept.sort();
    QCOMPARE(filesIn(m_userFolder), kept);
}

void TestMessageStore::refusedReceivedNamesTouchNothing_data() {
    QTest::addColumn<QString>("received");
    QTest::newRow("climbs out") << "bob;../../evil";
    QTest::newRow("nothing after the field") << "bob;";
    QTest::newRow("into a folder") << "bob;sub/x";
    QTest::newRow("dot dot") << "bob;..";
}

void TestMessageStore::refusedReceivedNamesTouchNothing() {
    QFETCH(QString, received);
    QVERIFY(writeFile(m_userFolder + QStringLiteral("/../evil.wmv"), "bait"));
    QVERIFY(QDir().mkpath(in("Inbox", "sub")));
    const auto before = snapshotTree(m_env.root());
    QByteArray bytes("payload");
    QBuffer data(&bytes);
    QVERIFY(data.open(QIODevice::ReadOnly));
    FileStatus status(mode());
    const MessageStore store(m_userFolder, status);
    const ReceivedFile result = store.fileReceived(received, data, QDateTime::currentDateTime());
    QVERIFY(!result.filed);
    QVERIFY(result.inboxName.isEmpty());
    QCOMPARE(snapshotTree(m_env.root()), before);
}

void TestMessageStore::senderIsContact_data() {
    QTest::addColumn<QString>("inboxName");
    QTest::addColumn<bool>("contact");
    QTest::newRow("contact") << "alice;456.wmv" << true;
    QTest::newRow("stored in other case") << "dave;1.wmv" << true;
    QTest::newRow("picture only") << "bob;1.wmv" << false;
    QTest::newRow("stranger") << "carol;1.wmv" << false;
    QTest::newRow("no separator") << "notes.txt" << false;
}

void TestMessageStore::senderIsContact() {
    QFETCH(QString, inboxName);
    QFETCH(bool, contact);
    QVERIFY(writeFile(in("Contacts", "alice"), "Alice"));
    QVERIFY(writeFile(in("Contacts", "Dave"), "Dave"));
    QVERIFY(writeFile(in("Contacts", "bob.jpg"), "jpeg"));
    FileStatus status(mode());
    QCOMPARE(MessageStore(m_userFolder, status).senderIsContact(inboxName), contact);
}

void TestMessageStore::markReadLowersTheCount() {
    QVERIFY(writeFile(in("Inbox", "alice;1.wmv"), "v"));
    QVERIFY(writeFile(in("Inbox", "bob;2.wmv"), "v"));
    FileStatus status(mode());
    const MessageStore store(m_userFolder, status);
    QCOMPARE(store.countUnread(), 2);
    QVERIFY(store.markRead(QStringLiteral("bob;2.wmv")));
    QCOMPARE(store.countUnread(), 1);
    QVERIFY(!store.markRead(QStringLiteral("gone;3.wmv")));
    QCOMPARE(store.countUnread(), 1);
}

void TestMessageStore::deleting_data() {
    QTest::addColumn<int>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("inbox pair") << 0 << "alice;456.wmv"
                                << QStringList{"alice;456.wmv", "alice;456.jpg", "bob;1.wmv"}
                                << QStringList{"bob;1.wmv"};
    QTest::newRow("inbox other file")
        << 0 << "notes.txt" << QStringList{"notes.txt", "notes.jpg"} << QStringList{"notes.jpg"};
    QTest::newRow("outbox pair") << 1 << "Bob;alice;123"
                                 << QStringList{"Bob;alice;123", "Bob;alice;123.jpg", "x"}
                                 << QStringList{"x"};
    QTest::newRow("sent pair") << 2 << "bob;alice;123.wmv"
                               << QStringList{"bob;alice;123.wmv", "bob;alice;123.jpg"}
                               << QStringList{};
    QTest::newRow("contact and picture")
        << 3 << "alice" << QStringList{"alice", "alice.jpg", "bob"} << QStringList{"bob"};
    QTest::newRow("missing file") << 1 << "nobody" << QStringList{"x"} << QStringList{"x"};
    QTest::newRow("unsafe name") << 0 << "../Outbox/x" << QStringList{"x"} << QStringList{"x"};
}

void TestMessageStore::deleting() {
    QFETCH(int, folder);
    QFETCH(QString, name);
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    const Folder f = static_cast<Folder>(folder);
    const QString folderName = folderCreatedName(f);
    for (const QString& file : before)
        QVERIFY(writeFile(in(folderName, file), "x"));
    QVERIFY(writeFile(in("Outbox", "x"), "x"));
    FileStatus status(mode());
    MessageStore(m_userFolder, status).remove(f, name);
    after.sort();
    QCOMPARE(filesIn(in(folderName)), after);
    QVERIFY(QFile::exists(in("Outbox", "x")) || f == Folder::Outbox);
}

void TestMessageStore::resend() {
    QVERIFY(writeFile(in("Sent", "bob;alice;123.wmv"), "kept video"));
    QVERIFY(writeFile(in("Sent", "bob;alice;123.jpg"), "kept jpeg"));
    FileStatus status(mode());
    MessageStore store(m_userFolder, status);
    store.setTickSource([] { return 777u; });
    QCOMPARE(store.resend(QStringLiteral("bob;alice;123.wmv"), QStringLiteral("carol")),
             QStringLiteral("carol;alice;777"));
    QCOMPARE(filesIn(in("Outbox")), (QStringList{"carol;alice;777", "carol;alice;777.jpg"}));
    QCOMPARE(readFile(in("Outbox", "carol;alice;777")), QByteArray("kept video"));
    QCOMPARE(readFile(in("Outbox", "carol;alice;777.jpg")), QByteArray("kept jpeg"));
    QCOMPARE(filesIn(in("Sent")).size(), 2);
    QCOMPARE(store.resend(QStringLiteral("gone;alice;1.wmv"), QStringLiteral("carol")), QString());
    QCOMPARE(store.resend(QStringLiteral("bob;alice;123.wmv"), QStringLiteral("a/b")), QString());
    QCOMPARE(filesIn(in("Outbox")).size(), 2);
    verifyNoLeftovers();
}

void TestMessageStore::saveCopy() {
    QVERIFY(writeFile(in("Inbox", "alice;456.wmv"), "message"));
    const QString saved = m_env.makeFolder(QStringLiteral("Saved %1").arg(m_round));
    const QString destination = saved + QStringLiteral("/clip.wmv");
    QVERIFY(writeFile(destination, "old"));
    FileStatus status(mode());
    const MessageStore store(m_userFolder, status);
    QVERIFY(!store.saveCopy(QStringLiteral("gone.wmv"), destination));
    QCOMPARE(readFile(destination), QByteArray("old"));
    QVERIFY(store.saveCopy(QStringLiteral("alice;456.wmv"), destination));
    QCOMPARE(readFile(destination), QByteArray("message"));
    QCOMPARE(filesIn(saved), QStringList{"clip.wmv"});
    QVERIFY(!status.isRead(in("Inbox", "alice;456.wmv")));
}

QTEST_GUILESS_MAIN(TestMessageStore)
#include "tst_messagestore.moc"
