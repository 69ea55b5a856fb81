#include "app/clientcore.h"
#include "platform/messagebox.h"
#include "serverprocess.h"
#include "service/dialogs/changepw.h"
#include "service/httpshared.h"
#include "service/serviceaddress.h"
#include "testenvironment.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

// The change-password dialog against a real clipnote-server.
class TestChangePW : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void comparison_data();
    void comparison();
    void entriesLimitedTo16();
    void refusedWithoutSignIn();

private:
    // Signs in through the client's own session, as CLogin does.
    QString signedInUser(const QString& uid);
    static void change(CChangePW& dialog, const QString& password, const QString& confirm);

    TestEnvironment m_env;
    ServerProcess m_server;
    ClientCore* m_core = nullptr;
    QList<MessageBoxCall> m_boxes;
    int m_users = 0;
};

void TestChangePW::initTestCase() {
    QVERIFY(http::initialise());
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    m_core = new ClientCore;
    m_core->setService(ServiceAddress(m_server.baseUrl()));
    m_core->OpenSession();
    setMessageBoxHook([this](const MessageBoxCall& call) {
        m_boxes.append(call);
        return QMessageBox::Ok;
    });
}

void TestChangePW::init() {
    m_boxes.clear();
}

QString TestChangePW::signedInUser(const QString& uid) {
    const QString password = m_server.createAccount(uid);
    const QString reply =
        m_core->GetPage(pagePath(QStringLiteral("zeb/login.asp"),
                                 {{QStringLiteral("UID"), uid}, {QStringLiteral("PW"), password}}));
    m_core->m_strUserId = uid;
    return reply.startsWith(QLatin1String("OK")) ? password : QString();
}

void TestChangePW::change(CChangePW& dialog, const QString& password, const QString& confirm) {
    auto* first = dialog.findChild<QLineEdit*>(QStringLiteral("newPassword"));
    auto* second = dialog.findChild<QLineEdit*>(QStringLiteral("confirmPassword"));
    QTest::keyClicks(first, password);
    QTest::keyClicks(second, confirm);
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
}

void TestChangePW::comparison_data() {
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("confirm");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<QString>("newPassword");
    QTest::newRow("same") << "sunny-day"
                          << "sunny-day" << true << "sunny-day";
    QTest::newRow("trailing blank dropped") << "sunny-day "
                                            << "sunny-day" << true << "sunny-day";
    QTest::newRow("letter case differs") << "Sunny"
                                         << "sunny" << false << "";
    QTest::newRow("leading blank counts") << " sunny"
                                          << "sunny" << false << "";
    QTest::newRow("special characters") << "a&b=c#d+e%"
                                        << "a&b=c#d+e%" << true << "a&b=c#d+e%";
}

void TestChangePW::comparison() {
    QFETCH(QString, password);
    QFETCH(QString, confirm);
    QFETCH(bool, changed);
    QFETCH(QString, newPassword);
    const QString uid = QStringLiteral("pw%1@example.org").arg(++m_users);
    const QString old = signedInUser(uid);
    QVERIFY(!old.isEmpty());
    m_core->setPassword(old);
    CChangePW dialog;
    dialog.show();
    change(dialog, password, confirm);
    QCOMPARE(m_boxes.size(), 1);
    const MessageBoxCall box = m_boxes.first();
    QCOMPARE(box.caption, QStringLiteral("ZEB"));
    if (changed) {
        QCOMPARE(box.text, QStringLiteral("Your password has been sucessfully changed!"));
        QCOMPARE(box.icon, QMessageBox::Information);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!m_server.signIn(uid, newPassword).isEmpty());
        QVERIFY(m_server.signIn(uid, old).isEmpty());
        // The worker's next sign-in of this run uses the new one.
        QCOMPARE(m_core->password(), newPassword);
    } else {
        QCOMPARE(box.text, QStringLiteral("Password not confirmed!"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QVERIFY(dialog.isVisible());
        QVERIFY(!m_server.signIn(uid, old).isEmpty());
        QCOMPARE(m_core->password(), old);
    }
}

void TestChangePW::entriesLimitedTo16() {
    CChangePW dialog;
    dialog.show();
    auto* first = dialog.findChild<QLineEdit*>(QStringLiteral("newPassword"));
    auto* second = dialog.findChild<QLineEdit*>(QStringLiteral("confirmPassword"));
    QTest::keyClicks(first, QStringLiteral("abcdefghijklmnopqrstuvwxyz"));
    QTest::keyClicks(second, QStringLiteral("0123456789abcdefghij"));
    QCOMPARE(first->text(), QStringLiteral("abcdefghijklmnop"));
    QCOMPARE(second->text(), QStringLiteral("0123456789abcdef"));
}

void TestChangePW::refusedWithoutSignIn() {
    // The client's cookie belongs to another signed-in user; the service
    // lets a user change only their own password.
    QVERIFY(!signedInUser(QStringLiteral("someone@example.org")).isEmpty());
    m_server.createAccount(QStringLiteral("nobody@example.org"));
    m_core->m_strUserId = QStringLiteral("nobody@example.org");
    CChangePW dialog;
    dialog.show();
    change(dialog, QStringLiteral("whatever1"), QStringLiteral("whatever1"));
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.first().text,
             QStringLiteral("Error changing password! Please try again later or contact "
                            "accounts@ostrand.example"));
    QCOMPARE(m_boxes.first().icon, QMessageBox::Critical);
    QVERIFY(dialog.isVisible());
}

QTEST_MAIN(TestChangePW)
#include "tst_changepw.moc"
