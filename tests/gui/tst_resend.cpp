#include "store/dialogs/resend.h"
#include "testenvironment.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>

// The Resend To dialog over a prepared Contacts folder.
class TestResend : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void listsUserIdsInReverseFolderOrder();
    void preselection_data();
    void preselection();
    void okNeedsASelection();
    void unreadableContactsLeftOut();

private:
    QComboBox* combo(CResend& dialog) {
        return dialog.findChild<QComboBox*>(QStringLiteral("contacts"));
    }
    void press(CResend& dialog, const char* button) {
        QTest::mouseClick(dialog.findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
    }
    QString contact(const QString& id, const QByteArray& name = "Name") {
        const QString path = m_folder + QStringLiteral("/Contacts/") + id;
        writeFile(path, name);
        return path;
    }
    QStringList folderOrder() {
        // The order the file system lists, which the dialog shows reversed.
        QStringList order;
        QDir dir(m_folder + QStringLiteral("/Contacts"));
        for (const QString& name : dir.entryList(QDir::Files | QDir::System, QDir::Unsorted))
            if (!name.endsWith(QLatin1String(".jpg"), Qt::CaseInsensitive))
                order.append(name);
        return order;
    }
    static QStringList items(QComboBox* box) {
        QStringList texts;
        for (int i = 0; i < box->count(); ++i)
            texts.append(box->itemText(i));
        return texts;
    }

    TestEnvironment m_env;
    QString m_folder;
    int m_runs = 0;
};

void TestResend::init() {
    m_folder = m_env.makeFolder(QStringLiteral("user%1").arg(++m_runs));
    QDir().mkpath(m_folder + QStringLiteral("/Contacts"));
}

void TestResend::listsUserIdsInReverseFolderOrder() {
    contact(QStringLiteral("alice@example.org"), QByteArray("Me") + QByteArray(257, '\0'));
    contact(QStringLiteral("bob"), "Bob Builder");
    contact(QStringLiteral("carol"), "Carol");
    contact(QStringLiteral("bob.jpg"), "picture");
    CResend dialog{ContactStore(m_folder)};
    dialog.show();
    QStringList expected = folderOrder();
    std::reverse(expected.begin(), expected.end());
    QCOMPARE(items(combo(dialog)), expected);
    QCOMPARE(expected.size(), 3);
    QVERIFY(!items(combo(dialog)).contains(QStringLiteral("Me")));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Resend To"));
}

void TestResend::preselection_data() {
    QTest::addColumn<QStringList>("contacts");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("selected"); // empty: none
    QTest::newRow("exact") << QStringList{"bob", "carol"} << "carol"
                           << "carol";
    QTest::newRow("letter case ignored") << QStringList{"bob", "carol"} << "Bob"
                                         << "bob";
    QTest::newRow("no match: nothing selected") << QStringList{"bob", "carol"} << "dave"
                                                << "";
    QTest::newRow("empty folder") << QStringList{} << "bob"
                                  << "";
}

void TestResend::preselection() {
    QFETCH(QStringList, contacts);
    QFETCH(QString, to);
    QFETCH(QString, selected);
    for (const QString& id : contacts)
        contact(id);
    CResend dialog{ContactStore(m_folder)};
    dialog.m_strTo = to;
    dialog.show();
    QCOMPARE(combo(dialog)->currentText(), selected);
    QCOMPARE(combo(dialog)->currentIndex() >= 0, !selected.isEmpty());
}

void TestResend::okNeedsASelection() {
    contact(QStringLiteral("bob"));
    contact(QStringLiteral("carol"));
    CResend dialog{ContactStore(m_folder)};
    dialog.m_strTo = QStringLiteral("nobody");
    dialog.show();
    press(dialog, "ok");
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.m_strTo, QStringLiteral("nobody"));
    combo(dialog)->setCurrentIndex(combo(dialog)->findText(QStringLiteral("carol")));
    press(dialog, "ok");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.m_strTo, QStringLiteral("carol"));
}

void TestResend::unreadableContactsLeftOut() {
    contact(QStringLiteral("bob"));
    QVERIFY(
        QFile::link(QStringLiteral("/nonexistent"), m_folder + QStringLiteral("/Contacts/gone")));
    QCOMPARE(
        ::mkfifo(QFile::encodeName(m_folder + QStringLiteral("/Contacts/pipe")).constData(), 0600),
        0);
    QVERIFY(QDir().mkpath(m_folder + QStringLiteral("/Contacts/folder")));
    CResend dialog{ContactStore(m_folder)};
    dialog.m_strTo = QStringLiteral("pipe");
    dialog.show();
    QCOMPARE(items(combo(dialog)), QStringList{"bob"});
    QCOMPARE(combo(dialog)->currentIndex(), -1);
    press(dialog, "cancel");
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

QTEST_MAIN(TestResend)
#include "tst_resend.moc"
