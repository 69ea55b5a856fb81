#include "listfixture.h"
#include "store/lists/outboxlist.h"

// The Outbox list: waiting messages R;U;N with their thumbnails.
class TestOutBoxList : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void fill_data();
    void fill();
    void drawsRecipientAndThumbnail();
    void refusedRowShowsWhyAndRetries_data();
    void refusedRowShowsWhyAndRetries();
    void badFolderStillFillsAndDraws();

private:
    ListWorld m_world;
};

void TestOutBoxList::init() {
    m_world.reset();
    PictureCache::lists().clear();
}

void TestOutBoxList::fill_data() {
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("recipients");
    QTest::newRow("one pair") << QStringList{"Bob;alice;123", "Bob;alice;123.jpg"}
                              << QStringList{"Bob;alice;123"} << QStringList{"Bob"};
    QTest::newRow("ascending text, letter case ignored")
        << QStringList{"carol;alice;5", "Bob;alice;7", "dave;alice;-3", "bob;alice;9"}
        << QStringList{"Bob;alice;7", "bob;alice;9", "carol;alice;5", "dave;alice;-3"}
        << QStringList{"Bob", "bob", "carol", "dave"};
    QTest::newRow("a thumbnail whose video went first is no row")
        << QStringList{"Bob;alice;1.jpg", "x;alice;2.JPG"} << QStringList{} << QStringList{};
    QTest::newRow("no semicolon: no recipient")
        << QStringList{"stray"} << QStringList{"stray"} << QStringList{""};
}

void TestOutBoxList::fill() {
    QFETCH(QStringList, files);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, recipients);
    for (const QString& name : files)
        m_world.put(Folder::Outbox, name);
    COutBoxList list(&m_world.window);
    QVERIFY(showFilled(list));
    QCOMPARE(list.texts(), rows);
    list.selectAll();
    QCOMPARE(list.selectedUserIds(), recipients);
}

void TestOutBoxList::drawsRecipientAndThumbnail() {
    m_world.put(Folder::Outbox, QStringLiteral("Bob;alice;123"));
    m_world.putJpeg(Folder::Outbox, QStringLiteral("Bob;alice;123.jpg"), Qt::green);
    m_world.put(Folder::Outbox, QStringLiteral("carol;alice;124"));
    COutBoxList list(&m_world.window);
    QVERIFY(showFilled(list));
    const QImage image = grabList(list);
    QVERIFY(isNear(image.pixelColor(pictureArea(list, 0).center()), Qt::green, 40));
    QCOMPARE(image.pixelColor(pictureArea(list, 1).center()), QColor(Qt::white));
    // The recipient is centred in height: ink above and below the middle.
    const QRect text = textArea(list, 0);
    const int middle = text.center().y();
    const auto inked = [](const QColor& c) { return c.red() + c.green() + c.blue() < 600; };
    QVERIFY(countPixels(image, QRect(text.left(), text.top(), 60, middle - text.top()), inked) > 3);
    QVERIFY(countPixels(image, QRect(text.left(), middle, 60, text.bottom() - middle), inked) > 3);
    // Text starts right of the picture column.
    QCOMPARE(countPixels(image, QRect(24, text.top(), 2, text.height()), inked), 0);
}

void TestOutBoxList::refusedRowShowsWhyAndRetries_data() {
    QTest::addColumn<int>("command");
    QTest::newRow("retry now") << int(COutBoxList::kCommandRetryNow);
    QTest::newRow("delete") << int(COutBoxList::kCommandDelete);
}

void TestOutBoxList::refusedRowShowsWhyAndRetries() {
    QFETCH(int, command);
    m_world.put(Folder::Outbox, QStringLiteral("bob;alice;1"));
    m_world.put(Folder::Outbox, QStringLiteral("zed;alice;2"));
    const SendFailures failures = MessageStore(m_world.userFolder).sendFailures();
    QVERIFY(failures.mark(QStringLiteral("zed;alice;2"), QStringLiteral("zed is not a user")));
    std::atomic<int> flag{0};
    COutBoxList list(&m_world.window);
    list.setSendReceiveFlag(&flag);
    QVERIFY(showFilled(list));
    QCOMPARE(list.problemAt(0), QString());
    QCOMPARE(list.problemAt(1), QStringLiteral("zed is not a user"));
    const QModelIndex refusedRow = list.model()->index(1, 0);
    QCOMPARE(refusedRow.data(Qt::ToolTipRole).toString(), QStringLiteral("zed is not a user"));

    // The reason is drawn in red under the recipient; a well row has no red.
    const QImage image = grabList(list);
    const auto red = [](const QColor& c) { return c.red() > 120 && c.green() < 80; };
    QVERIFY(countPixels(image, textArea(list, 1), red) > 10);
    QCOMPARE(countPixels(image, textArea(list, 0), red), 0);

    // Only a refused row offers a retry.
    QVERIFY(!menuWith(m_world, list, {0}).commands.contains(COutBoxList::kCommandRetryNow));
    const MenuSeen menu = menuWith(m_world, list, {1});
    QCOMPARE(menu.texts, (QStringList{"Retry now", "Delete", QString(), "Send/Receive"}));

    selectRows(list, {1});
    m_world.menuChoice = command;
    rightClick(list, 1);
    // Either way the refusal is forgotten; a retry also asks for a cycle now.
    QCOMPARE(failures.all(), (QHash<QString, QString>{}));
    QCOMPARE(flag.load(), command == COutBoxList::kCommandRetryNow ? 1 : 0);
    QCOMPARE(list.texts().contains(QStringLiteral("zed;alice;2")),
             command == COutBoxList::kCommandRetryNow);
    if (command == COutBoxList::kCommandRetryNow)
        QCOMPARE(list.problemAt(1), QString());
}

void TestOutBoxList::badFolderStillFillsAndDraws() {
    m_world.put(Folder::Outbox, QStringLiteral("bob;alice;1"));
    m_world.put(Folder::Outbox, QStringLiteral("bob;alice;1.jpg"), QByteArray());
    m_world.put(Folder::Outbox, QStringLiteral("tab\tname;alice;2"));
    m_world.put(Folder::Outbox, QStringLiteral("tab\tname;alice;2.jpg"), "not a picture");
    QVERIFY(QDir().mkpath(m_world.path(Folder::Outbox, QStringLiteral("sub;alice;3"))));
    QVERIFY(QFile::link(QStringLiteral("/nonexistent"),
                        m_world.path(Folder::Outbox, QStringLiteral("gone;alice;4"))));
    const auto before = m_world.snapshot();
    COutBoxList list(&m_world.window);
    QVERIFY(showFilled(list));
    QCOMPARE(list.texts(), (QStringList{"bob;alice;1", "gone;alice;4", "tab\tname;alice;2"}));
    QVERIFY(!grabList(list).isNull());
    QCOMPARE(m_world.snapshot(), before);
    // Deleting the dangling entry removes only it.
    clickRow(list, 1);
    QTest::keyClick(&list, Qt::Key_Delete);
    QVERIFY(!m_world.exists(Folder::Outbox, QStringLiteral("gone;alice;4")));
    QCOMPARE(m_world.snapshot().size(), before.size() - 1);
}

QTEST_MAIN(TestOutBoxList)
#include "tst_outboxlist.moc"
