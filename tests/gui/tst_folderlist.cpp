#include "listfixture.h"
#include "store/lists/contactlist.h"
#include "store/lists/inboxlist.h"
#include "store/lists/outboxlist.h"
#include "store/lists/sentlist.h"

#include <memory>

// What the four lists share through CFolderList, run once per list: the
// context menu, deleting by menu and by the Delete key, and Send/Receive.
// What differs between the lists is in the columns.
class TestFolderList : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void menuEnabling_data();
    void menuEnabling();
    void deleteSelected_data();
    void deleteSelected();
    void sendReceiveSetsTheFlag_data();
    void sendReceiveSetsTheFlag();

private:
    std::unique_ptr<CFolderList> makeList(Folder folder);
    // Items 0 .. n-1 of a folder, each with its picture; item i is row i.
    void putItems(Folder folder, int n);
    ListWorld m_world;
};

namespace {
const QDateTime kToday(QDate(2008, 12, 7), QTime(15, 45, 12));

// The file of item i and the text of its row.
QString itemFile(Folder folder, int i) {
    switch (folder) {
    case Folder::Inbox:
        return QStringLiteral("u%1;%1.wmv").arg(i);
    case Folder::Outbox:
        return QStringLiteral("u%1;alice;%1").arg(i);
    case Folder::Sent:
        return QStringLiteral("u%1;alice;%1.wmv").arg(i);
    case Folder::Contacts:
        break;
    }
    return QStringLiteral("u%1").arg(i);
}
QString itemText(Folder folder, int i) {
    return folder == Folder::Contacts ? QStringLiteral("U%1").arg(i) : itemFile(folder, i);
}
} // namespace

void TestFolderList::init() {
    m_world.reset();
    PictureCache::lists().clear();
}

std::unique_ptr<CFolderList> TestFolderList::makeList(Folder folder) {
    switch (folder) {
    case Folder::Inbox:
        return std::make_unique<CInBoxList>(&m_world.window);
    case Folder::Outbox:
        return std::make_unique<COutBoxList>(&m_world.window);
    case Folder::Sent:
        return std::make_unique<CSentList>(&m_world.window);
    case Folder::Contacts:
        break;
    }
    return std::make_unique<CContactList>(&m_world.window);
}

void TestFolderList::putItems(Folder folder, int n) {
    for (int i = 0; i < n; ++i) {
        const QString file = itemFile(folder, i);
        m_world.put(folder, file, itemText(folder, i).toUtf8());
        m_world.put(folder, thumbnailName(folder, file), "picture");
        // The Inbox shows the newest first.
        m_world.setDate(folder, file, kToday.addSecs(-i));
    }
}

void TestFolderList::menuEnabling_data() {
    QTest::addColumn<Folder>("folder");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QStringList>("texts"); // separators as ""
    QTest::addColumn<QList<int>>("commands");
    QTest::addColumn<QList<int>>("enabled");
    const QStringList inbox{"Delete", "Save As...", "Add To Contacts...", QString(),
                            "Send/Receive"};
    const QList<int> inboxCommands{32776, 32778, 32789, 0, 32779};
    QTest::newRow("Inbox, none") << Folder::Inbox << QList<int>{} << inbox << inboxCommands
                                 << QList<int>{32779};
    QTest::newRow("Inbox, one") << Folder::Inbox << QList<int>{1} << inbox << inboxCommands
                                << QList<int>{32776, 32778, 32789, 32779};
    QTest::newRow("Inbox, two") << Folder::Inbox << QList<int>{0, 2} << inbox << inboxCommands
                                << QList<int>{32776, 32779};
    const QStringList outbox{"Delete", QString(), "Send/Receive"};
    const QList<int> outboxCommands{32775, 0, 32781};
    QTest::newRow("Outbox, none") << Folder::Outbox << QList<int>{} << outbox << outboxCommands
                                  << QList<int>{32781};
    QTest::newRow("Outbox, one") << Folder::Outbox << QList<int>{1} << outbox << outboxCommands
                                 << QList<int>{32775, 32781};
    QTest::newRow("Outbox, two") << Folder::Outbox << QList<int>{0, 2} << outbox << outboxCommands
                                 << QList<int>{32775, 32781};
    const QStringList sent{"Resend...", "Delete", QString(), "Send/Receive"};
    const QList<int> sentCommands{32784, 32785, 0, 32781};
    QTest::newRow("Sent, none") << Folder::Sent << QList<int>{} << sent << sentCommands
                                << QList<int>{32781};
    QTest::newRow("Sent, one") << Folder::Sent << QList<int>{1} << sent << sentCommands
                               << QList<int>{32784, 32785, 32781};
    QTest::newRow("Sent, two") << Folder::Sent << QList<int>{0, 2} << sent << sentCommands
                               << QList<int>{32785, 32781};
    const QStringList contacts{"Add...", "Delete...", QString(), "Properties..."};
    const QList<int> contactCommands{32771, 32772, 0, 32773};
    QTest::newRow("Contacts, none")
        << Folder::Contacts << QList<int>{} << contacts << contactCommands << QList<int>{32771};
    QTest::newRow("Contacts, one") << Folder::Contacts << QList<int>{1} << contacts
                                   << contactCommands << QList<int>{32771, 32772, 32773};
    QTest::newRow("Contacts, two") << Folder::Contacts << QList<int>{0, 2} << contacts
                                   << contactCommands << QList<int>{32771, 32772, 32773};
}

void TestFolderList::menuEnabling() {
    QFETCH(Folder, folder);
    QFETCH(QList<int>, selected);
    QFETCH(QStringList, texts);
    QFETCH(QList<int>, commands);
    QFETCH(QList<int>, enabled);
    putItems(folder, 3);
    const auto list = makeList(folder);
    QVERIFY(showFilled(*list));
    const MenuSeen menu = menuWith(m_world, *list, selected);
    QVERIFY(menu.opened);
    QCOMPARE(menu.texts, texts);
    QCOMPARE(menu.commands, commands);
    QList<int> on;
    for (int command : commands) {
        if (command != 0 && menu.isEnabled(command))
            on.append(command);
    }
    QCOMPARE(on, enabled);
    QCOMPARE(list->selectedRowNumbers(), selected); // the right click kept the selection
}

void TestFolderList::deleteSelected_data() {
    QTest::addColumn<Folder>("folder");
    QTest::addColumn<int>("command"); // the menu's Delete; 0: the Delete key
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QList<int>>("left"); // the items still there afterwards
    QTest::addColumn<QList<qintptr>>("posted");
    const QList<int> all{0, 1, 2, 3};
    // The Inbox count follows at the next update.
    QTest::newRow("Inbox, menu") << Folder::Inbox << int(CInBoxList::kCommandDelete)
                                 << QList<int>{1, 2} << QList<int>{0, 3} << QList<qintptr>{};
    QTest::newRow("Inbox, Delete key")
        << Folder::Inbox << 0 << QList<int>{1, 2} << QList<int>{0, 3} << QList<qintptr>{};
    QTest::newRow("Inbox, Delete key, nothing selected")
        << Folder::Inbox << 0 << QList<int>{} << all << QList<qintptr>{};
    QTest::newRow("Outbox, menu") << Folder::Outbox << int(COutBoxList::kCommandDelete)
                                  << QList<int>{1, 2} << QList<int>{0, 3} << QList<qintptr>{1};
    QTest::newRow("Outbox, Delete key")
        << Folder::Outbox << 0 << QList<int>{1, 2} << QList<int>{0, 3} << QList<qintptr>{1};
    // The count is brought up to date even when nothing went.
    QTest::newRow("Outbox, Delete key, nothing selected")
        << Folder::Outbox << 0 << QList<int>{} << all << QList<qintptr>{1};
    QTest::newRow("Sent, menu") << Folder::Sent << int(CSentList::kCommandDelete)
                                << QList<int>{1, 2} << QList<int>{0, 3} << QList<qintptr>{2};
    // The Sent list deletes only through the menu.
    QTest::newRow("Sent, Delete key does nothing")
        << Folder::Sent << 0 << QList<int>{1, 2} << all << QList<qintptr>{};
    QTest::newRow("Contacts, menu") << Folder::Contacts << int(CContactList::kCommandDelete)
                                    << QList<int>{1, 2} << QList<int>{0, 3} << QList<qintptr>{3};
    QTest::newRow("Contacts, Delete key")
        << Folder::Contacts << 0 << QList<int>{1, 2} << QList<int>{0, 3} << QList<qintptr>{3};
}

void TestFolderList::deleteSelected() {
    QFETCH(Folder, folder);
    QFETCH(int, command);
    QFETCH(QList<int>, selected);
    QFETCH(QList<int>, left);
    QFETCH(QList<qintptr>, posted);
    putItems(folder, 4);
    const auto list = makeList(folder);
    QVERIFY(showFilled(*list));
    selectRows(*list, selected);
    if (command == 0) {
        QTest::keyClick(list.get(), Qt::Key_Delete);
    } else {
        m_world.menuChoice = command;
        rightClick(*list, selected.first());
    }
    // The rows and files of the deleted items are gone, their pictures too.
    QStringList rows;
    QStringList files;
    for (int i : left) {
        rows.append(itemText(folder, i));
        files << itemFile(folder, i) << thumbnailName(folder, itemFile(folder, i));
    }
    QCOMPARE(list->texts(), rows);
    QStringList found = filesIn(m_world.folderPath(folder));
    found.sort();
    files.sort();
    QCOMPARE(found, files);
    QVERIFY(m_world.boxes.isEmpty()); // nothing is asked
    QCoreApplication::sendPostedEvents(&m_world.window);
    QCOMPARE(m_world.window.lParams, posted);
}

void TestFolderList::sendReceiveSetsTheFlag_data() {
    QTest::addColumn<Folder>("folder");
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("ownFlag"); // the list is given a flag instead of ClientCore's
    QTest::newRow("Inbox") << Folder::Inbox << int(CInBoxList::kCommandSendReceive) << false;
    QTest::newRow("Outbox") << Folder::Outbox << int(COutBoxList::kCommandSendReceive) << true;
    QTest::newRow("Sent") << Folder::Sent << int(CSentList::kCommandSendReceive) << false;
}

void TestFolderList::sendReceiveSetsTheFlag() {
    QFETCH(Folder, folder);
    QFETCH(int, command);
    QFETCH(bool, ownFlag);
    std::atomic<int> flag{0};
    const auto list = makeList(folder);
    if (ownFlag)
        list->setSendReceiveFlag(&flag);
    QVERIFY(showFilled(*list));
    m_world.menuChoice = command;
    rightClick(*list, -1);
    QCOMPARE(flag.load(), ownFlag ? 1 : 0);
    QCOMPARE(m_world.core().m_bSendReceiveNow.load(), ownFlag ? 0 : 1);
}

QTEST_MAIN(TestFolderList)
#include "tst_folderlist.moc"
