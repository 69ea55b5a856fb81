#include "listfixture.h"
#include "modal.h"
#include "store/dialogs/resend.h"
#include "store/lists/sentlist.h"

#include <QComboBox>
#include <QPushButton>

// The Sent list: kept copies r;u;n.wmv, deleting them and sending them again.
class TestSentList : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void fillAndDraw();
    void menuEnabling_data();
    void menuEnabling();
    void deleteRemovesBothFilesAndPostsTwo();
    void deleteKeyDoesNothing();
    void resend_data();
    void resend();
    void sendReceiveSetsTheFlag();

private:
    ListWorld m_world;
};

void TestSentList::init() {
    m_world.reset();
    PictureCache::lists().clear();
}

void TestSentList::fillAndDraw() {
    m_world.put(Folder::Sent, QStringLiteral("bob;alice;123.wmv"));
    m_world.putJpeg(Folder::Sent, QStringLiteral("bob;alice;123.jpg"), Qt::blue);
    m_world.put(Folder::Sent, QStringLiteral("amy;alice;5.wmv"));
    QVERIFY(QDir().mkpath(m_world.path(Folder::Sent, QStringLiteral("folder.wmv"))));
    CSentList list(&m_world.window);
    QVERIFY(showFilled(list));
    QCOMPARE(list.texts(), (QStringList{"amy;alice;5.wmv", "bob;alice;123.wmv"}));
    const QImage image = grabList(list);
    QVERIFY(isNear(image.pixelColor(pictureArea(list, 1).center()), Qt::blue, 40));
    QCOMPARE(image.pixelColor(pictureArea(list, 0).center()), QColor(Qt::white));
    selectRows(list, {0, 1});
    QCOMPARE(list.selectedUserIds(), (QStringList{"amy", "bob"}));
}

void TestSentList::menuEnabling_data() {
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<bool>("resendOn");
    QTest::addColumn<bool>("deleteOn");
    QTest::newRow("none") << QList<int>{} << false << false;
    QTest::newRow("one") << QList<int>{1} << true << true;
    QTest::newRow("two") << QList<int>{0, 1} << false << true;
}

void TestSentList::menuEnabling() {
    QFETCH(QList<int>, selected);
    QFETCH(bool, resendOn);
    QFETCH(bool, deleteOn);
    m_world.put(Folder::Sent, QStringLiteral("bob;alice;1.wmv"));
    m_world.put(Folder::Sent, QStringLiteral("carol;alice;2.wmv"));
    CSentList list(&m_world.window);
    QVERIFY(showFilled(list));
    const MenuSeen menu = menuWith(m_world, list, selected);
    QVERIFY(menu.opened);
    QCOMPARE(menu.texts, (QStringList{"Resend...", "Delete", QString(), "Send/Receive"}));
    QCOMPARE(menu.commands, (QList<int>{32784, 32785, 0, 32781}));
    QCOMPARE(menu.isEnabled(32784), resendOn);
    QCOMPARE(menu.isEnabled(32785), deleteOn);
    QVERIFY(menu.isEnabled(32781));
}

void TestSentList::deleteRemovesBothFilesAndPostsTwo() {
    for (const char* stem : {"a;alice;1", "b;alice;2", "c;alice;3"}) {
        m_world.put(Folder::Sent, QLatin1String(stem) + QStringLiteral(".wmv"));
        m_world.put(Folder::Sent, QLatin1String(stem) + QStringLiteral(".jpg"), "jpeg");
    }
    CSentList list(&m_world.window);
    QVERIFY(showFilled(list));
    selectRows(list, {0, 1});
    m_world.menuChoice = CSentList::kCommandDelete;
    rightClick(list, 0);
    QCOMPARE(list.texts(), QStringList{"c;alice;3.wmv"});
    QCOMPARE(filesIn(m_world.folderPath(Folder::Sent)),
             (QStringList{"c;alice;3.jpg", "c;alice;3.wmv"}));
    QTRY_COMPARE(m_world.window.lParams, QList<qintptr>{2});
}

void TestSentList::deleteKeyDoesNothing() {
    m_world.put(Folder::Sent, QStringLiteral("bob;alice;1.wmv"));
    CSentList list(&m_world.window);
    QVERIFY(showFilled(list));
    clickRow(list, 0);
    QTest::keyClick(&list, Qt::Key_Delete);
    QCOMPARE(list.count(), 1);
    QVERIFY(m_world.exists(Folder::Sent, QStringLiteral("bob;alice;1.wmv")));
    QCoreApplication::sendPostedEvents(&m_world.window);
    QVERIFY(m_world.window.lParams.isEmpty());
}

void TestSentList::resend_data() {
    QTest::addColumn<QString>("kept");
    QTest::addColumn<QString>("pick"); // contact to pick, empty: cancel
    QTest::addColumn<QString>("preselected");
    QTest::addColumn<QStringList>("outbox");
    QTest::newRow("to another contact")
        << "bob;alice;123.wmv"
        << "carol"
        << "bob" << QStringList{"carol;alice;4242", "carol;alice;4242.jpg"};
    QTest::newRow("the kept recipient preselected, letter case ignored") << "Bob;alice;77.wmv"
                                                                         << ""
                                                                         << "bob" << QStringList{};
    QTest::newRow("sender field kept as it was")
        << "bob;al;ice;9.wmv"
        << "carol"
        << "bob" << QStringList{"carol;al;ice;4242", "carol;al;ice;4242.jpg"};
}

void TestSentList::resend() {
    QFETCH(QString, kept);
    QFETCH(QString, pick);
    QFETCH(QString, preselected);
    QFETCH(QStringList, outbox);
    m_world.put(Folder::Sent, kept, "kept video");
    m_world.put(Folder::Sent, thumbnailName(Folder::Sent, kept), "kept thumbnail");
    for (const char* contact : {"bob", "carol"})
        m_world.put(Folder::Contacts, QLatin1String(contact), "name");
    MessageStore store(m_world.userFolder);
    store.setTickSource([] { return 4242u; });
    CSentList list(&m_world.window);
    list.setStore(store);
    QVERIFY(showFilled(list));
    clickRow(list, 0);

    QString shown;
    whenModal<CResend>([&](CResend* dialog) {
        auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("contacts"));
        shown = combo->currentText();
        if (pick.isEmpty()) {
            dialog->findChild<QPushButton*>(QStringLiteral("cancel"))->click();
            return;
        }
        combo->setCurrentIndex(combo->findText(pick));
        dialog->findChild<QPushButton*>(QStringLiteral("ok"))->click();
    });
    m_world.menuChoice = CSentList::kCommandResend;
    rightClick(list, 0);
    QCOMPARE(shown, preselected);
    QCOMPARE(filesIn(m_world.folderPath(Folder::Outbox)), outbox);
    if (!outbox.isEmpty()) {
        QCOMPARE(readFile(m_world.path(Folder::Outbox, outbox.at(0))), QByteArray("kept video"));
        QCOMPARE(readFile(m_world.path(Folder::Outbox, outbox.at(1))),
                 QByteArray("kept thumbnail"));
    }
    // The kept copy stays.
    QCOMPARE(readFile(m_world.path(Folder::Sent, kept)), QByteArray("kept video"));
    QCoreApplication::sendPostedEvents(&m_world.window);
    QCOMPARE(m_world.window.lParams, outbox.isEmpty() ? QList<qintptr>{} : QList<qintptr>{1});
}

void TestSentList::sendReceiveSetsTheFlag() {
    CSentList list(&m_world.window);
    QVERIFY(showFilled(list));
    m_world.menuChoice = CSentList::kCommandSendReceive;
    rightClick(list, -1);
    QCOMPARE(m_world.core().m_bSendReceiveNow.load(), 1);
}

QTEST_MAIN(TestSentList)
#include "tst_sentlist.moc"
