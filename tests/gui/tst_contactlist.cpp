#include "listfixture.h"
#include "modal.h"
#include "platform/resources.h"
#include "service/serviceaddress.h"
#include "store/dialogs/addcontact.h"
#include "store/lists/contactlist.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>

// The Contacts list: display names and user IDs, built-in contacts, adding
// and deleting.
class TestContactList : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void builtInContactsOnAnEmptyFolder();
    void builtInContactsComeBackAfterDeletingAll();
    void fill_data();
    void fill();
    void drawsNameIdAndPicture();
    void replacedPictureShowsAtNextPaint();
    void propertiesDoesNothing();
    void add_data();
    void add();
    void badFolderStillFillsAndDraws();

private:
    void addThroughDialog(CContactList& list, const QString& email, const QString& name,
                          bool confirm);
    ListWorld m_world;
};

void TestContactList::init() {
    m_world.reset();
    PictureCache::lists().clear();
}

void TestContactList::builtInContactsOnAnEmptyFolder() {
    CContactList list(&m_world.window);
    QVERIFY(showFilled(list));
    QCOMPARE(list.texts(), (QStringList{"Me", "Ostrand Administrator"}));
    list.selectAll();
    QCOMPARE(list.selectedUserIds(),
             (QStringList{"alice@example.org", QLatin1String(kAdministratorAddress)}));
    for (const QString& file :
         QStringList{"alice@example.org", QLatin1String(kAdministratorAddress)}) {
        const QByteArray record = readFile(m_world.path(Folder::Contacts, file));
        QCOMPARE(record.size(), 259);
    }
    QVERIFY(readFile(m_world.path(Folder::Contacts, "alice@example.org"))
                .startsWith(QByteArray("Me\0\0", 4)));
    // Both rows show the default picture.
    list.clearSelection();
    const QImage image = grabList(list);
    const QImage expected = withColourKey(loadBitmapResource(kBitmapDefaultContact));
    QVERIFY(!expected.isNull());
    for (int row : {0, 1})
        QVERIFY(image.pixelColor(pictureArea(list, row).center()) != QColor(Qt::white));
}

void TestContactList::builtInContactsComeBackAfterDeletingAll() {
    m_world.put(Folder::Contacts, QStringLiteral("bob"), "Bob");
    CContactList list(&m_world.window);
    QVERIFY(showFilled(list));
    QCOMPARE(list.texts(), QStringList{"Bob"});
    list.selectAll();
    list.DeleteSelected();
    QCOMPARE(list.count(), 0);
    QVERIFY(filesIn(m_world.folderPath(Folder::Contacts)).isEmpty());
    list.Refill(0);
    QCOMPARE(list.texts(), (QStringList{"Me", "Ostrand Administrator"}));
}

void TestContactList::fill_data() {
    // Files as "name=content"; rows expected as "display name|user ID".
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("sorted by display name") << QStringList{"zed@x=Anna", "amy@x=Zoe", "bob@x=bert"}
                                            << QStringList{"Anna|zed@x", "bert|bob@x", "Zoe|amy@x"};
    QTest::newRow("pictures in any letter case are not contacts")
        << QStringList{"bob=Bob", "bob.jpg=pic", "carl.JPG=pic", "dora.Jpg=pic"}
        << QStringList{"Bob|bob"};
    QTest::newRow("empty file: empty display name")
        << QStringList{"quiet@x="} << QStringList{"|quiet@x"};
    QTest::newRow("259-byte record up to its first zero")
        << QStringList{QStringLiteral("me@x=Me") + QString(257, QChar(0))}
        << QStringList{"Me|me@x"};
    QTest::newRow("name cut at 259 bytes")
        << QStringList{QStringLiteral("long@x=") + QString(300, QLatin1Char('n'))}
        << QStringList{QString(259, QLatin1Char('n')) + QStringLiteral("|long@x")};
}

void TestContactList::fill() {
    QFETCH(QStringList, files);
    QFETCH(QStringList, rows);
    for (const QString& entry : files) {
        const qsizetype at = entry.indexOf(QLatin1Char('='));
        m_world.put(Folder::Contacts, entry.left(at), entry.mid(at + 1).toUtf8());
    }
    CContactList list(&m_world.window);
    list.Refill(0);
    QStringList seen;
    for (int row = 0; row < list.count(); ++row)
        seen.append(list.textAt(row) + QLatin1Char('|') + list.userIdAt(row));
    QCOMPARE(seen, rows);
}

void TestContactList::drawsNameIdAndPicture() {
    m_world.put(Folder::Contacts, QStringLiteral("bob"), "Bob Builder");
    m_world.putJpeg(Folder::Contacts, QStringLiteral("bob.jpg"), Qt::red);
    m_world.put(Folder::Contacts, QStringLiteral("carol"), "Carol");
    CContactList list(&m_world.window);
    QVERIFY(showFilled(list));
    QCOMPARE(list.texts(), (QStringList{"Bob Builder", "Carol"}));
    const QImage image = grabList(list);
    QVERIFY(isNear(image.pixelColor(pictureArea(list, 0).center()), Qt::red, 40));
    // Carol has no picture: the default one, not nothing.
    const QColor fallback = image.pixelColor(pictureArea(list, 1).center());
    QVERIFY(fallback != QColor(Qt::white));
    QVERIFY(!isNear(fallback, Qt::red, 40));
    // Name at the top, user ID at the bottom.
    const QRect text = textArea(list, 0);
    const auto inked = [](const QColor& c) { return c.red() + c.green() + c.blue() < 500; };
    QVERIFY(countPixels(image, QRect(text.left(), text.top(), 80, 11), inked) > 5);
    QVERIFY(countPixels(image, QRect(text.left(), text.bottom() - 10, 80, 11), inked) > 5);
}

void TestContactList::replacedPictureShowsAtNextPaint() {
    m_world.put(Folder::Contacts, QStringLiteral("bob"), "Bob");
    m_world.putJpeg(Folder::Contacts, QStringLiteral("bob.jpg"), Qt::red);
    CContactList list(&m_world.window);
    QVERIFY(showFilled(list));
    QVERIFY(isNear(grabList(list).pixelColor(pictureArea(list, 0).center()), Qt::red, 40));
    // The worker copies a received thumbnail over the picture.
    m_world.putJpeg(Folder::Contacts, QStringLiteral("bob.jpg"), Qt::green, QSize(40, 30));
    QVERIFY(isNear(grabList(list).pixelColor(pictureArea(list, 0).center()), Qt::green, 40));
    QVERIFY(QFile::remove(m_world.path(Folder::Contacts, QStringLiteral("bob.jpg"))));
    const QColor fallback = grabList(list).pixelColor(pictureArea(list, 0).center());
    QVERIFY(!isNear(fallback, Qt::green, 40));
}

void TestContactList::propertiesDoesNothing() {
    m_world.put(Folder::Contacts, QStringLiteral("bob"), "Bob");
    m_world.put(Folder::Contacts, QStringLiteral("carol"), "Carol");
    CContactList list(&m_world.window);
    QVERIFY(showFilled(list));
    const auto before = m_world.snapshot();
    // "Properties..." has nothing to show, for one contact or several.
    m_world.menuChoice = CContactList::kCommandProperties;
    for (const QList<int>& selected : {QList<int>{0}, QList<int>{0, 1}})
        QVERIFY(menuWith(m_world, list, selected).opened);
    QCOMPARE(m_world.snapshot(), before);
    QCOMPARE(list.count(), 2);
    QCoreApplication::sendPostedEvents(&m_world.window);
    QVERIFY(m_world.window.lParams.isEmpty());
}

void TestContactList::addThroughDialog(CContactList& list, const QString& email,
                                       const QString& name, bool confirm) {
    whenModal<CAddContact>([=](CAddContact* dialog) {
        QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("name")), name);
        QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("email")), email);
        dialog->findChild<QPushButton*>(confirm ? QStringLiteral("ok") : QStringLiteral("cancel"))
            ->click();
    });
    m_world.menuChoice = CContactList::kCommandAdd;
    // On the selected first row, which keeps the selection.
    rightClick(list, list.count() > 0 ? 0 : -1);
}

void TestContactList::add_data() {
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QStringList>("rows");     // after the add
    QTest::addColumn<QString>("file");         // contact file checked afterwards
    QTest::addColumn<QByteArray>("content");   // its bytes; empty: must not exist
    QTest::addColumn<int>("selectedRow");      // -1: selection untouched
    QTest::addColumn<QStringList>("reloaded"); // rows after a reload
    QTest::newRow("new contact") << "dave"
                                 << "Dave " << true << QStringList{"Bob", "Dave"} << "dave"
                                 << QByteArray("Dave") << 1 << QStringList{"Bob", "Dave"};
    QTest::newRow("existing contact: name replaced, second row until reload")
        << "bob"
        << "Robert" << true << QStringList{"Bob", "Robert"} << "bob" << QByteArray("Robert") << 1
        << QStringList{"Robert"};
    QTest::newRow("empty name") << "eve"
                                << "" << true << QStringList{"", "Bob"} << "eve" << QByteArray()
                                << 0 << QStringList{"", "Bob"};
    QTest::newRow("cancelled") << "dave"
                               << "Dave" << false << QStringList{"Bob"} << "dave" << QByteArray()
                               << -1 << QStringList{"Bob"};
    QTest::newRow("an ID that cannot be a file name")
        << "a/b"
        << "Slash" << true << QStringList{"Bob"} << "a" << QByteArray() << -1 << QStringList{"Bob"};
}

void TestContactList::add() {
    QFETCH(QString, email);
    QFETCH(QString, name);
    QFETCH(bool, confirm);
    QFETCH(QStringList, rows);
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(int, selectedRow);
    QFETCH(QStringList, reloaded);
    m_world.put(Folder::Contacts, QStringLiteral("bob"), "Bob");
    CContactList list(&m_world.window);
    QVERIFY(showFilled(list));
    clickRow(list, 0);
    QSignalSpy changes(&list, &CFolderList::itemChanged);
    addThroughDialog(list, email, name, confirm);
    QCOMPARE(list.texts(), rows);
    QCoreApplication::sendPostedEvents(&m_world.window);
    const bool added = selectedRow >= 0;
    QCOMPARE(m_world.window.lParams, added ? QList<qintptr>{3} : QList<qintptr>{});
    if (added) {
        QCOMPARE(readFile(m_world.path(Folder::Contacts, file)), content);
        QVERIFY(QFileInfo::exists(m_world.path(Folder::Contacts, file)));
        QCOMPARE(list.selectedRowNumbers(), QList<int>{selectedRow});
        QCOMPARE(list.selectedUserIds(), QStringList{email});
        QCOMPARE(list.currentIndex().row(), selectedRow);
        QVERIFY(!changes.isEmpty()); // the main window hears of the new selection
    } else {
        QVERIFY(!m_world.exists(Folder::Contacts, file));
        QCOMPARE(list.selectedRowNumbers(), QList<int>{0});
    }
    list.Refill(1);
    QCOMPARE(list.texts(), reloaded);
}

void TestContactList::badFolderStillFillsAndDraws() {
    m_world.put(Folder::Contacts, QStringLiteral("bob"), "Bob");
    m_world.put(Folder::Contacts, QStringLiteral("bob.jpg"), QByteArray());
    m_world.put(Folder::Contacts, QStringLiteral("corrupt"), "Corrupt");
    m_world.put(Folder::Contacts, QStringLiteral("corrupt.jpg"), QByteArray("\xFF\xD8\xFF\xE0", 4));
    m_world.put(Folder::Contacts, QStringLiteral("nl"), "two\nlines");
    QVERIFY(QDir().mkpath(m_world.path(Folder::Contacts, QStringLiteral("folder"))));
    QVERIFY(QFile::link(QStringLiteral("/nonexistent"),
                        m_world.path(Folder::Contacts, QStringLiteral("dangling"))));
    QCOMPARE(::mkfifo(QFile::encodeName(m_world.path(Folder::Contacts, "pipe")).constData(), 0600),
             0);
    const auto before = m_world.snapshot();
    CContactList list(&m_world.window);
    QVERIFY(showFilled(list));
    // Unreadable entries are no contacts; the folder is not empty, so no
    // built-in contact is made either.
    QCOMPARE(list.texts(), (QStringList{"Bob", "Corrupt", "two\nlines"}));
    const QImage image = grabList(list);
    for (int row : {0, 1})
        QVERIFY(image.pixelColor(pictureArea(list, row).center()) != QColor(Qt::white));
    QCOMPARE(m_world.snapshot(), before);
    list.clearSelection();
    QTest::keyClick(&list, Qt::Key_Delete);
    QCOMPARE(m_world.snapshot(), before);
}

QTEST_MAIN(TestContactList)
#include "tst_contactlist.moc"
