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
    void resend_data();
    void resend();

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

QTEST_MAIN(TestSentList)
#include "tst_sentlist.moc"
