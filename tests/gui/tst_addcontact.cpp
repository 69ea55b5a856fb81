#include "platform/messagebox.h"
#include "store/dialogs/addcontact.h"
#include "testenvironment.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

// The Add Contact dialog on its own.
class TestAddContact : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void presetEmailShownNameEmpty();
    void trimming_data();
    void trimming();
    void emptyEmailRefused_data();
    void emptyEmailRefused();
    void cancelLeavesMembers();

private:
    static QLineEdit* edit(CAddContact& dialog, const char* name) {
        return dialog.findChild<QLineEdit*>(QLatin1String(name));
    }
    static void press(CAddContact& dialog, const char* button) {
        QTest::mouseClick(dialog.findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
    }
    QList<MessageBoxCall> m_boxes;
};

void TestAddContact::init() {
    m_boxes.clear();
    setMessageBoxHook([this](const MessageBoxCall& call) {
        m_boxes.append(call);
        return QMessageBox::Ok;
    });
}

void TestAddContact::presetEmailShownNameEmpty() {
    CAddContact dialog;
    dialog.m_strEmail = QStringLiteral("bob");
    dialog.m_strName = QStringLiteral("ignored on the way in");
    dialog.show();
    QCOMPARE(edit(dialog, "email")->text(), QStringLiteral("bob"));
    QCOMPARE(edit(dialog, "name")->text(), QString());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Add Contact"));
    press(dialog, "ok");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.m_strName, QString());
    QCOMPARE(dialog.m_strEmail, QStringLiteral("bob"));
}

void TestAddContact::trimming_data() {
    QTest::addColumn<QString>("typedName");
    QTest::addColumn<QString>("typedEmail");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("email");
    QTest::newRow("blanks at both ends of the e-mail") << "Bob"
                                                       << "  bob  "
                                                       << "Bob"
                                                       << "  bob";
    QTest::newRow("trailing blanks of the name") << "Bob Smith   "
                                                 << "bob"
                                                 << "Bob Smith"
                                                 << "bob";
    QTest::newRow("tab at the end") << "Bob\t"
                                    << "bob\t"
                                    << "Bob"
                                    << "bob";
    QTest::newRow("inner blanks kept") << "  Bob  Smith"
                                       << "b o b"
                                       << "  Bob  Smith"
                                       << "b o b";
}

void TestAddContact::trimming() {
    QFETCH(QString, typedName);
    QFETCH(QString, typedEmail);
    QFETCH(QString, name);
    QFETCH(QString, email);
    CAddContact dialog;
    dialog.show();
    edit(dialog, "name")->setText(typedName);
    edit(dialog, "email")->setText(typedEmail);
    press(dialog, "ok");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.m_strName, name);
    QCOMPARE(dialog.m_strEmail, email);
    QVERIFY(m_boxes.isEmpty());
}

void TestAddContact::emptyEmailRefused_data() {
    QTest::addColumn<QString>("typedEmail");
    QTest::newRow("empty") << "";
    QTest::newRow("only blanks") << "   ";
}

void TestAddContact::emptyEmailRefused() {
    QFETCH(QString, typedEmail);
    CAddContact dialog;
    dialog.show();
    QTest::keyClicks(edit(dialog, "name"), QStringLiteral("Bob"));
    QTest::keyClicks(edit(dialog, "email"), typedEmail);
    press(dialog, "ok");
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.first().text, QStringLiteral("You must enter an e-mail address"));
    QCOMPARE(m_boxes.first().caption, QStringLiteral("ZEB"));
    QCOMPARE(m_boxes.first().icon, QMessageBox::Critical);
    QVERIFY(dialog.isVisible());
    // The user fills it in and confirms.
    QTest::keyClicks(edit(dialog, "email"), QStringLiteral("bob"));
    press(dialog, "ok");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.m_strEmail, typedEmail + QStringLiteral("bob"));
}

void TestAddContact::cancelLeavesMembers() {
    CAddContact dialog;
    dialog.m_strEmail = QStringLiteral("preset");
    dialog.show();
    QTest::keyClicks(edit(dialog, "name"), QStringLiteral("New"));
    QTest::keyClicks(edit(dialog, "email"), QStringLiteral("x"));
    press(dialog, "cancel");
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(dialog.m_strEmail, QStringLiteral("preset"));
    QCOMPARE(dialog.m_strName, QString());
}

QTEST_MAIN(TestAddContact)
#include "tst_addcontact.moc"
