#include "listfixture.h"
#include "modal.h"
#include "store/dialogs/addcontact.h"
#include "store/lists/inboxlist.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>

#include <thread>

// The Inbox list over prepared Inbox folders.
class TestInBoxList : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void fillAndOrder_data();
    void fillAndOrder();
    void headerClickTogglesNameOrder();
    void refillOnlyFillsAnEmptyListUnlessReloaded();
    void refillFromAWorkerThread();
    void unreadSenderIsBlue_data();
    void unreadSenderIsBlue();
    void dateAndThumbnail();
    void saveAs_data();
    void saveAs();
    void addToContacts_data();
    void addToContacts();
    void selectionReportsItemChanges();
    void badFolderStillFillsAndDraws();

private:
    void putMessage(const QString& stem, const QDateTime& date, bool read, bool thumbnail = true);
    ListWorld m_world;
};

namespace {
const QDateTime kToday(QDate(2008, 12, 7), QTime(15, 45, 12));
}

void TestInBoxList::init() {
    m_world.reset();
    PictureCache::lists().clear();
}

void TestInBoxList::putMessage(const QString& stem, const QDateTime& date, bool read,
                               bool thumbnail) {
    const QString video = stem + QStringLiteral(".wmv");
    m_world.put(Folder::Inbox, video);
    m_world.setDate(Folder::Inbox, video, date);
    m_world.setRead(Folder::Inbox, video, read);
    if (thumbnail)
        m_world.putJpeg(Folder::Inbox, stem + QStringLiteral(".jpg"), Qt::red);
}

void TestInBoxList::fillAndOrder_data() {
    // Files to create as "name@minutes ago" (no "@": no date set), folders
    // to create, and the rows expected.
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("newest first, thumbnail not a row")
        << QStringList{"alice;100.wmv@1440", "bob;200.wmv@5", "bob;200.jpg@5"} << QStringList{}
        << QStringList{"bob;200.wmv", "alice;100.wmv"};
    QTest::newRow("any extension is a message, .JPG in capitals is not")
        << QStringList{"notes.txt@30", "NOTES.JPG@1", "carol;1.wmv@60", "x.Jpg@2"} << QStringList{}
        << QStringList{"notes.txt", "carol;1.wmv"};
    QTest::newRow("name without a semicolon")
        << QStringList{"plain.wmv@10", "dave;5.wmv@20"} << QStringList{}
        << QStringList{"plain.wmv", "dave;5.wmv"};
    QTest::newRow("sub-folders are skipped")
        << QStringList{"erin;9.wmv@10"} << QStringList{"sub.wmv", "old"}
        << QStringList{"erin;9.wmv"};
    QTest::newRow("empty folder") << QStringList{} << QStringList{} << QStringList{};
}

void TestInBoxList::fillAndOrder() {
    QFETCH(QStringList, files);
    QFETCH(QStringList, folders);
    QFETCH(QStringList, rows);
    for (const QString& entry : files) {
        const QString name = entry.section(QLatin1Char('@'), 0, 0);
        m_world.put(Folder::Inbox, name);
        m_world.setDate(Folder::Inbox, name,
                        kToday.addSecs(-60 * entry.section(QLatin1Char('@'), 1).toInt()));
    }
    for (const QString& folder : folders)
        QVERIFY(QDir().mkpath(m_world.path(Folder::Inbox, folder)));
    CInBoxList list(&m_world.window);
    list.Refill(0);
    QCOMPARE(list.texts(), rows);
    QCOMPARE(list.sortMode(), 0);
}

void TestInBoxList::headerClickTogglesNameOrder() {
    putMessage(QStringLiteral("alice;100"), kToday.addDays(-1), true);
    putMessage(QStringLiteral("bob;200"), kToday, true);
    putMessage(QStringLiteral("Carl;300"), kToday.addDays(-2), true);
    CInBoxList list(&m_world.window);
    QVERIFY(showFilled(list));
    QCOMPARE(list.texts(), (QStringList{"bob;200.wmv", "alice;100.wmv", "Carl;300.wmv"}));
    clickRow(list, 1); // alice stays selected through both sorts
    QSignalSpy changes(&list, &CFolderList::itemChanged);

    const QHeaderView* header = list.header();
    const QPoint onHeader(header->sectionViewportPosition(0) + 20, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, onHeader);
    QCOMPARE(list.sortMode(), 1);
    QCOMPARE(list.texts(), (QStringList{"Carl;300.wmv", "bob;200.wmv", "alice;100.wmv"}));
    QCOMPARE(list.selectedTexts(), QStringList{"alice;100.wmv"});

    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, onHeader);
    QCOMPARE(list.sortMode(), 0);
    QCOMPARE(list.texts(), (QStringList{"bob;200.wmv", "alice;100.wmv", "Carl;300.wmv"}));
    QCOMPARE(list.selectedTexts(), QStringList{"alice;100.wmv"});
    QCOMPARE(changes.count(), 0); // sorting plays nothing again

    // A fill always starts in date order again.
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, onHeader);
    list.Refill(1);
    QCOMPARE(list.sortMode(), 0);
    QCOMPARE(list.textAt(0), QStringLiteral("bob;200.wmv"));
}

void TestInBoxList::refillOnlyFillsAnEmptyListUnlessReloaded() {
    putMessage(QStringLiteral("alice;1"), kToday, false);
    CInBoxList list(&m_world.window);
    list.Refill(0);
    QCOMPARE(list.count(), 1);
    putMessage(QStringLiteral("bob;2"), kToday.addSecs(60), false);
    list.Refill(0);
    QCOMPARE(list.count(), 1);
    list.Refill(1);
    QCOMPARE(list.texts(), (QStringList{"bob;2.wmv", "alice;1.wmv"}));
}

void TestInBoxList::refillFromAWorkerThread() {
    putMessage(QStringLiteral("alice;1"), kToday, false);
    CInBoxList list(&m_world.window);
    std::thread worker([&list] { list.Refill(1); });
    worker.join();
    QTRY_COMPARE(list.count(), 1);
}

void TestInBoxList::unreadSenderIsBlue_data() {
    QTest::addColumn<bool>("read");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<bool>("blue");
    QTest::newRow("unread") << false << false << true;
    QTest::newRow("unread, selected: blue on the highlight") << false << true << true;
    QTest::newRow("played") << true << false << false;
    QTest::newRow("played, selected: black on the highlight") << true << true << false;
}

void TestInBoxList::unreadSenderIsBlue() {
    QFETCH(bool, read);
    QFETCH(bool, selected);
    QFETCH(bool, blue);
    putMessage(QStringLiteral("alice;100"), kToday, read);
    CInBoxList list(&m_world.window);
    QVERIFY(showFilled(list));
    if (selected)
        clickRow(list, 0);
    const QImage image = grabList(list);
    QRect nameArea = textArea(list, 0);
    nameArea.setHeight(CFolderList::kItemHeight / 2);
    // The sender's thin strokes blend with the background; their darkest
    // pixel shows the colour they were drawn in.
    const QColor ink = darkestPixel(image, nameArea);
    QCOMPARE(ink.blue() - ink.red() > 100, blue);
    QVERIFY(ink.red() + ink.green() + ink.blue() < (blue ? 400 : 240));
    const QColor highlight = list.palette().color(QPalette::Active, QPalette::Highlight);
    const QColor background = selected ? highlight : QColor(Qt::white);
    QCOMPARE(image.pixelColor(textArea(list, 0).right() - 2, nameArea.top() + 2), background);
    // The picture column is never filled with the highlight.
    QVERIFY(image.pixelColor(0, list.rowRect(0).top() + 1) != highlight);
}

void TestInBoxList::dateAndThumbnail() {
    putMessage(QStringLiteral("alice;100"), kToday, true);
    m_world.put(Folder::Inbox, QStringLiteral("notes.txt")); // looks for notes.wmv: no date
    m_world.setDate(Folder::Inbox, QStringLiteral("notes.txt"), kToday.addDays(-3));
    CInBoxList list(&m_world.window);
    QVERIFY(showFilled(list));
    QCOMPARE(list.texts(), (QStringList{"alice;100.wmv", "notes.txt"}));
    const QImage image = grabList(list);
    for (int row : {0, 1}) {
        QRect dateArea = textArea(list, row);
        dateArea.setTop(dateArea.top() + CFolderList::kItemHeight / 2);
        const bool dated = row == 0;
        QCOMPARE(countPixels(image, dateArea, isGrey) > 10, dated);
    }
    // The red thumbnail fills the 23 x 23 picture area of the first row;
    // notes has none.
    const QRect picture = pictureArea(list, 0);
    QVERIFY(isNear(image.pixelColor(picture.center()), Qt::red, 40));
    QVERIFY(isNear(image.pixelColor(picture.topLeft()), Qt::red, 40));
    QVERIFY(isNear(image.pixelColor(picture.bottomRight()), Qt::red, 40));
    QVERIFY(!isNear(image.pixelColor(pictureArea(list, 1).center()), Qt::red, 40));
}

void TestInBoxList::saveAs_data() {
    QTest::addColumn<QStringList>("typed");  // answers of the dialog, in order
    QTest::addColumn<QList<int>>("answers"); // answers to "replace?"
    QTest::addColumn<bool>("existsBefore");
    QTest::addColumn<QString>("savedAs"); // empty: nothing saved
    QTest::addColumn<int>("questions");
    QTest::newRow("extension added")
        << QStringList{"copy"} << QList<int>{} << false << "copy.wmv" << 0;
    QTest::newRow("own extension kept")
        << QStringList{"copy.avi"} << QList<int>{} << false << "copy.avi" << 0;
    QTest::newRow("replace after asking")
        << QStringList{"copy.wmv"} << QList<int>{QMessageBox::Yes} << true << "copy.wmv" << 1;
    QTest::newRow("typed without extension, the .wmv exists")
        << QStringList{"copy"} << QList<int>{QMessageBox::Yes} << true << "copy.wmv" << 1;
    QTest::newRow("not replaced, then cancelled")
        << QStringList{"copy.wmv"} << QList<int>{QMessageBox::No} << true << "" << 1;
    QTest::newRow("not replaced, then another name")
        << QStringList{"copy.wmv", "other"} << QList<int>{QMessageBox::No} << true << "other.wmv"
        << 1;
    QTest::newRow("cancelled") << QStringList{} << QList<int>{} << false << "" << 0;
}

void TestInBoxList::saveAs() {
    QFETCH(QStringList, typed);
    QFETCH(QList<int>, answers);
    QFETCH(bool, existsBefore);
    QFETCH(QString, savedAs);
    QFETCH(int, questions);
    const QString outside = m_world.env.makeFolder(QStringLiteral("saved"));
    const QString existing = outside + QStringLiteral("/copy.wmv");
    if (existsBefore)
        QVERIFY(writeFile(existing, "old bytes"));
    putMessage(QStringLiteral("alice;100"), kToday, false);
    m_world.put(Folder::Inbox, QStringLiteral("alice;100.wmv"), "the message");
    m_world.setRead(Folder::Inbox, QStringLiteral("alice;100.wmv"), false);
    for (const QString& name : typed)
        m_world.saveAnswers.append(outside + QLatin1Char('/') + name);
    for (int answer : answers)
        m_world.boxAnswers.append(QMessageBox::StandardButton(answer));

    CInBoxList list(&m_world.window);
    QVERIFY(showFilled(list));
    clickRow(list, 0);
    m_world.menuChoice = CInBoxList::kCommandSaveAs;
    rightClick(list, 0);

    QVERIFY(!m_world.saveRequests.isEmpty());
    QCOMPARE(m_world.saveRequests.first().filter, QStringLiteral("Video (*.wmv)"));
    QCOMPARE(m_world.saveRequests.first().defaultSuffix, QStringLiteral("wmv"));
    QCOMPARE(m_world.saveRequests.first().initialName, QString());
    // After "No" the dialog comes back holding the name as it was typed.
    QCOMPARE(m_world.saveRequests.size(), typed.size() + (savedAs.isEmpty() ? 1 : 0));
    for (qsizetype i = 1; i < m_world.saveRequests.size(); ++i)
        QCOMPARE(m_world.saveRequests[i].initialName, outside + QLatin1Char('/') + typed[i - 1]);
    QCOMPARE(m_world.boxes.size(), questions);
    if (questions > 0) {
        QCOMPARE(m_world.boxes.first().text, replaceQuestion(existing));
        QCOMPARE(m_world.boxes.first().buttons, QMessageBox::Yes | QMessageBox::No);
    }
    if (savedAs.isEmpty()) {
        QCOMPARE(readFile(existing), existsBefore ? QByteArray("old bytes") : QByteArray());
    } else {
        QCOMPARE(readFile(outside + QLatin1Char('/') + savedAs), QByteArray("the message"));
    }
    QCOMPARE(filesIn(outside).size(),
             (savedAs.isEmpty() ? 0 : 1) + (existsBefore && savedAs != "copy.wmv" ? 1 : 0));
    // The copy leaves the message unread and the thumbnail where it was.
    QVERIFY(!FileStatus::shared().isRead(m_world.path(Folder::Inbox, "alice;100.wmv")));
}

void TestInBoxList::addToContacts_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<bool>("alreadyContact");
    QTest::addColumn<QString>("typedEmail"); // empty: keep the preset
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("expectedBox");
    QTest::addColumn<QString>("contactFile"); // the file expected afterwards, empty for none
    QTest::newRow("new sender") << "alice;456.wmv" << false << "" << true << "Contact added!"
                                << "alice";
    QTest::newRow("already a contact")
        << "alice;456.wmv" << true << "" << true << "Contact already exists!"
        << "alice";
    QTest::newRow("already a contact in other letter case")
        << "ALICE;456.wmv" << true << "" << true << "Contact already exists!"
        << "alice";
    QTest::newRow("cancelled") << "alice;456.wmv" << false << "" << false << ""
                               << "";
    QTest::newRow("an ID that cannot be a file name")
        << "alice;456.wmv" << false << "../escape" << true << ""
        << "";
}

void TestInBoxList::addToContacts() {
    QFETCH(QString, item);
    QFETCH(bool, alreadyContact);
    QFETCH(QString, typedEmail);
    QFETCH(bool, confirm);
    QFETCH(QString, expectedBox);
    QFETCH(QString, contactFile);
    m_world.put(Folder::Inbox, item);
    if (alreadyContact)
        m_world.put(Folder::Contacts, QStringLiteral("alice"), "Old Name");
    const auto before = m_world.snapshot();
    CInBoxList list(&m_world.window);
    QVERIFY(showFilled(list));
    clickRow(list, 0);

    QString presetEmail = QStringLiteral("<none>");
    QString presetName = QStringLiteral("<none>");
    whenModal<CAddContact>([&](CAddContact* dialog) {
        auto* email = dialog->findChild<QLineEdit*>(QStringLiteral("email"));
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("name"));
        presetEmail = email->text();
        presetName = name->text();
        if (!typedEmail.isEmpty())
            email->setText(typedEmail);
        QTest::keyClicks(name, QStringLiteral("Alice Liddell  "));
        QTest::mouseClick(dialog->findChild<QPushButton*>(confirm ? QStringLiteral("ok")
                                                                  : QStringLiteral("cancel")),
                          Qt::LeftButton);
    });
    m_world.menuChoice = CInBoxList::kCommandAddToContacts;
    rightClick(list, 0);
    QCOMPARE(presetEmail, firstField(item));
    QCOMPARE(presetName, QString());

    QCoreApplication::sendPostedEvents(&m_world.window);
    if (expectedBox.isEmpty()) {
        QVERIFY(m_world.boxes.isEmpty());
    } else {
        QCOMPARE(m_world.boxes.size(), 1);
        QCOMPARE(m_world.boxes.first().text, expectedBox);
        QCOMPARE(m_world.boxes.first().caption, QStringLiteral("Clipnote"));
        QCOMPARE(m_world.boxes.first().icon,
                 alreadyContact ? QMessageBox::Warning : QMessageBox::Information);
    }
    const bool added = expectedBox == QLatin1String("Contact added!");
    QCOMPARE(m_world.window.lParams, added ? QList<qintptr>{3} : QList<qintptr>{});
    if (added) {
        QCOMPARE(readFile(m_world.path(Folder::Contacts, contactFile)),
                 QByteArray("Alice Liddell"));
    } else {
        QCOMPARE(m_world.snapshot(), before); // nothing written anywhere
    }
}

void TestInBoxList::selectionReportsItemChanges() {
    putMessage(QStringLiteral("alice;1"), kToday, false);
    putMessage(QStringLiteral("bob;2"), kToday.addSecs(-60), false);
    CInBoxList list(&m_world.window);
    QVERIFY(showFilled(list));
    QSignalSpy changes(&list, &CFolderList::itemChanged);
    clickRow(list, 0);
    clickRow(list, 1);
    QCOMPARE(changes.count(), 3);
    QCOMPARE(changes.at(0), (QVariantList{0, QStringLiteral("alice;1.wmv"), true}));
    QCOMPARE(changes.at(1), (QVariantList{0, QStringLiteral("alice;1.wmv"), false}));
    QCOMPARE(changes.at(2), (QVariantList{1, QStringLiteral("bob;2.wmv"), true}));
    QCOMPARE(list.selectedUserIds(), QStringList{"bob"});
    list.Refill(1); // a reload by the worker plays nothing and stops nothing
    QCOMPARE(changes.count(), 3);
}

void TestInBoxList::badFolderStillFillsAndDraws() {
    putMessage(QStringLiteral("alice;1"), kToday, false);
    m_world.put(Folder::Inbox, QStringLiteral("empty;2.wmv"));
    m_world.put(Folder::Inbox, QStringLiteral("empty;2.jpg"), QByteArray());
    m_world.put(Folder::Inbox, QStringLiteral("corrupt;3.wmv"));
    m_world.put(Folder::Inbox, QStringLiteral("corrupt;3.jpg"),
                QByteArray("\xFF\xD8\xFF garbage", 12));
    m_world.put(Folder::Inbox, QStringLiteral("line\nbreak;4.wmv"));
    m_world.put(Folder::Inbox, QStringLiteral("-rf;5.wmv"));
    m_world.put(Folder::Inbox, QString(300, QLatin1Char('x')).left(250) + QStringLiteral(".wmv"));
    QVERIFY(QDir().mkpath(m_world.path(Folder::Inbox, QStringLiteral("folder;6.wmv"))));
    m_world.put(Folder::Inbox, QStringLiteral("folder;6.wmv/inside.wmv"));
    QVERIFY(QFile::link(QStringLiteral("/nonexistent/target"),
                        m_world.path(Folder::Inbox, QStringLiteral("dangling;7.wmv"))));
    QCOMPARE(
        ::mkfifo(QFile::encodeName(m_world.path(Folder::Inbox, "pipe;8.wmv")).constData(), 0600),
        0);
    QCOMPARE(
        ::mkfifo(QFile::encodeName(m_world.path(Folder::Inbox, "pipe;8.jpg")).constData(), 0600),
        0);
    const auto before = m_world.snapshot();

    CInBoxList list(&m_world.window);
    QVERIFY(showFilled(list));
    QCOMPARE(list.count(), 8);
    QVERIFY(!list.texts().contains(QStringLiteral("folder;6.wmv")));
    const QImage image = grabList(list);
    QVERIFY(!image.isNull());
    // The corrupt and empty thumbnails draw nothing.
    for (const QString& name : {QStringLiteral("empty;2.wmv"), QStringLiteral("corrupt;3.wmv")}) {
        const int row = int(list.texts().indexOf(name));
        QVERIFY(row >= 0);
        QCOMPARE(image.pixelColor(pictureArea(list, row).center()), QColor(Qt::white));
    }
    // Copying the pipe fails at once instead of waiting for a writer.
    list.clearSelection();
    clickRow(list, int(list.texts().indexOf(QStringLiteral("pipe;8.wmv"))));
    m_world.saveAnswers.append(m_world.env.makeFolder(QStringLiteral("out")) + "/pipe");
    list.SaveSelectedAs();
    QVERIFY(filesIn(m_world.env.root() + QStringLiteral("/out")).isEmpty());
    list.clearSelection();
    QTest::keyClick(&list, Qt::Key_Delete);
    QCOMPARE(m_world.snapshot(), before);
}

QTEST_MAIN(TestInBoxList)
#include "tst_inboxlist.moc"
