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
    void menuEnabling_data();
    void menuEnabling();
    void deleteByMenuRemovesBothFiles();
    void deleteKey_data();
    void deleteKey();
    void sendReceiveSetsTheFlag();
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

void TestOutBoxList::menuEnabling_data() {
    QTest::addColumn<QList<int>>("selected");
    QTest::newRow("none") << QList<int>{};
    QTest::newRow("one") << QList<int>{0};
    QTest::newRow("two") << QList<int>{0, 1};
}

void TestOutBoxList::menuEnabling() {
    QFETCH(QList<int>, selected);
    m_world.put(Folder::Outbox, QStringLiteral("bob;alice;1"));
    m_world.put(Folder::Outbox, QStringLiteral("carol;alice;2"));
    COutBoxList list(&m_world.window);
    QVERIFY(showFilled(list));
    const MenuSeen menu = menuWith(m_world, list, selected);
    QVERIFY(menu.opened);
    QCOMPARE(menu.texts, (QStringList{"Delete", QString(), "Send/Receive"}));
    QCOMPARE(menu.commands, (QList<int>{32775, 0, 32781}));
    QCOMPARE(menu.isEnabled(32775), !selected.isEmpty());
    QVERIFY(menu.isEnabled(32781));
}

void TestOutBoxList::deleteByMenuRemovesBothFiles() {
    for (const char* name : {"a;alice;1", "b;alice;2", "c;alice;3", "d;alice;4"}) {
        m_world.put(Folder::Outbox, QLatin1String(name));
        m_world.put(Folder::Outbox, QLatin1String(name) + QStringLiteral(".jpg"), "jpeg");
    }
    COutBoxList list(&m_world.window);
    QVERIFY(showFilled(list));
    selectRows(list, {1, 2});
    m_world.menuChoice = COutBoxList::kCommandDelete;
    rightClick(list, 2);
    QCOMPARE(list.texts(), (QStringList{"a;alice;1", "d;alice;4"}));
    QCOMPARE(filesIn(m_world.folderPath(Folder::Outbox)),
             (QStringList{"a;alice;1", "a;alice;1.jpg", "d;alice;4", "d;alice;4.jpg"}));
    QTRY_COMPARE(m_world.window.lParams, QList<qintptr>{1});
}

void TestOutBoxList::deleteKey_data() {
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<QList<qintptr>>("posted");
    QTest::newRow("two adjacent") << QList<int>{0, 1} << QStringList{"c;alice;3"}
                                  << QList<qintptr>{1};
    // The count is brought up to date even when nothing went.
    QTest::newRow("nothing selected")
        << QList<int>{} << QStringList{"a;alice;1", "b;alice;2", "c;alice;3"} << QList<qintptr>{1};
}

void TestOutBoxList::deleteKey() {
    QFETCH(QList<int>, selected);
    QFETCH(QStringList, left);
    QFETCH(QList<qintptr>, posted);
    for (const char* name : {"a;alice;1", "b;alice;2", "c;alice;3"})
        m_world.put(Folder::Outbox, QLatin1String(name));
    COutBoxList list(&m_world.window);
    QVERIFY(showFilled(list));
    selectRows(list, selected);
    QTest::keyClick(&list, Qt::Key_Delete);
    QCOMPARE(list.texts(), left);
    QCOMPARE(filesIn(m_world.folderPath(Folder::Outbox)), left);
    QTRY_COMPARE(m_world.window.lParams, posted);
}

void TestOutBoxList::sendReceiveSetsTheFlag() {
    std::atomic<int> flag{0};
    COutBoxList list(&m_world.window);
    list.setSendReceiveFlag(&flag);
    QVERIFY(showFilled(list));
    m_world.menuChoice = COutBoxList::kCommandSendReceive;
    rightClick(list, -1);
    QCOMPARE(flag.load(), 1);
    QCOMPARE(m_world.core().m_bSendReceiveNow.load(), 0);
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
