#include "app/clientcore.h"
#include "modal.h"
#include "platform/helpers.h"
#include "platform/messagebox.h"
#include "platform/profile.h"
#include "scriptedserver.h"
#include "serverprocess.h"
#include "service/dialogs/login.h"
#include "service/dialogs/register.h"
#include "service/httpshared.h"
#include "testenvironment.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

// The sign-in, create-account and forgotten-password dialogs, driven with
// keys and clicks against a real clipnote-server.
class TestLogin : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void signInKeepsUserId();
    void refusalShownVerbatim();
    void specialCharactersInPassword();
    void unreachableServiceThenRecovery();
    void createAccountThenSignIn();
    void createAccountRefused();
    void forgottenPasswordMailsNewOne();
    void userIdThatCannotNameAFolder();

private:
    // Types into the dialog's fields and presses its Login button.
    static void signIn(CLogin& dialog, const QString& uid, const QString& password);
    static void typeInto(QWidget* dialog, const char* name, const QString& text);

    TestEnvironment m_env;
    ServerProcess m_server;
    ClientCore* m_core = nullptr;
    QList<MessageBoxCall> m_boxes;
};

void TestLogin::initTestCase() {
    setTimerScale(0.05);
    QVERIFY(http::initialise());
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    m_core = new ClientCore;
    m_core->SetRegistryKey(QStringLiteral("ZEB"));
    m_core->setService(ServiceAddress(m_server.baseUrl()));
    m_core->OpenSession();
    setMessageBoxHook([this](const MessageBoxCall& call) {
        m_boxes.append(call);
        return QMessageBox::Ok;
    });
}

void TestLogin::init() {
    m_boxes.clear();
    m_core->m_strUserId.clear();
}

void TestLogin::cleanup() {
    m_core->setService(ServiceAddress(m_server.baseUrl()));
}

void TestLogin::typeInto(QWidget* dialog, const char* name, const QString& text) {
    auto* edit = dialog->findChild<QLineEdit*>(QLatin1String(name));
    QVERIFY2(edit, name);
    edit->clear();
    QTest::keyClicks(edit, text);
}

void TestLogin::signIn(CLogin& dialog, const QString& uid, const QString& password) {
    typeInto(&dialog, "userId", uid);
    typeInto(&dialog, "password", password);
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("login")), Qt::LeftButton);
}

void TestLogin::signInKeepsUserId() {
    const QString password = m_server.createAccount(QStringLiteral("alice@example.org"));
    QVERIFY(!password.isEmpty());
    {
        CLogin dialog;
        dialog.show();
        signIn(dialog, QStringLiteral("alice@example.org"), password);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(m_boxes.isEmpty());
    }
    QCOMPARE(m_core->m_strUserId, QStringLiteral("alice@example.org"));
    QCOMPARE(m_core->GetProfileString(QLatin1String(kSettingsSection), QLatin1String(kSettingUid)),
             QStringLiteral("alice@example.org"));
    // The next run offers the same user ID.
    CLogin again;
    QCOMPARE(again.findChild<QLineEdit*>(QStringLiteral("userId"))->text(),
             QStringLiteral("alice@example.org"));
}

void TestLogin::refusalShownVerbatim() {
    m_server.createAccount(QStringLiteral("bob@example.org"));
    const QByteArray expected =
        m_server.get("/zeb/login.asp?UID=bob%40example.org&PW=wrong-one").body;
    QVERIFY(!expected.isEmpty());
    CLogin dialog;
    dialog.show();
    signIn(dialog, QStringLiteral("bob@example.org"), QStringLiteral("wrong-one"));
    QCOMPARE(m_boxes.size(), 1);
    QString shown = QString::fromUtf8(expected);
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"))
        .replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    QCOMPARE(m_boxes.first().text, shown);
    QCOMPARE(m_boxes.first().caption, ClientCore::applicationTitle());
    QVERIFY(dialog.isVisible());
    QVERIFY(m_core->m_strUserId.isEmpty());
}

void TestLogin::specialCharactersInPassword() {
    const QString uid = QStringLiteral("carol+video@example.org");
    const QString first = m_server.createAccount(uid);
    QVERIFY(!first.isEmpty());
    const QByteArray cookie = m_server.signIn(uid, first);
    QVERIFY(!cookie.isEmpty());
    const QString tricky = QStringLiteral("a&b=c#d+e% f");
    const SimpleHttpReply changed =
        m_server.get("/zeb/chgpw.asp?UID=" + pageValue(uid) + "&PW=" + pageValue(tricky), cookie);
    QVERIFY2(changed.body.startsWith("OK"), changed.body.constData());

    CLogin dialog;
    dialog.show();
    signIn(dialog, uid, tricky);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(m_core->m_strUserId, uid);
}

void TestLogin::unreachableServiceThenRecovery() {
    const QString password = m_server.createAccount(QStringLiteral("dave@example.org"));
    ServerProcess down;
    QVERIFY(down.start());
    const QString deadUrl = down.baseUrl();
    down.kill();
    m_core->setService(ServiceAddress(deadUrl));
    CLogin dialog;
    dialog.show();
    signIn(dialog, QStringLiteral("dave@example.org"), password);
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY(m_boxes.first().text.contains(QLatin1String("did not answer")));
    QVERIFY(dialog.isVisible());

    // The service is back: the same dialog signs in at the next try.
    m_core->setService(ServiceAddress(m_server.baseUrl()));
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("login")), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void TestLogin::createAccountThenSignIn() {
    CLogin dialog;
    dialog.show();
    bool seen = false;
    whenModal<CRegister>([&seen](CRegister* reg) {
        seen = true;
        QCOMPARE(reg->windowTitle(), QStringLiteral("Create a New Account"));
        typeInto(reg, "email", QStringLiteral("erin@example.org"));
        QTest::mouseClick(reg->findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
        // Only the former Cancel button, now reading "OK", is left.
        auto* ok = reg->findChild<QPushButton*>(QStringLiteral("ok"));
        QVERIFY(!ok->isVisible() && !ok->isEnabled());
        QCOMPARE(reg->findChild<QPushButton*>(QStringLiteral("cancel"))->text(),
                 QStringLiteral("OK"));
    });
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("createAccount")),
                      Qt::LeftButton);
    // The dialog closed itself after its message box.
    QVERIFY(seen);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.first().icon, QMessageBox::Information);
    QCOMPARE(m_boxes.first().caption, QStringLiteral("Clipnote"));
    QVERIFY(m_boxes.first().text.startsWith(QLatin1String("Welcome! Your password has been")));

    const QString mailed = m_server.newestMailTo(QStringLiteral("erin@example.org"));
    QVERIFY(!mailed.isEmpty());
    m_boxes.clear();
    signIn(dialog, QStringLiteral("erin@example.org"), mailed);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void TestLogin::createAccountRefused() {
    m_server.createAccount(QStringLiteral("frank@example.org"));
    const QByteArray expected = m_server.get("/zeb/reg.asp?UID=frank%40example.org").body;
    CLogin dialog;
    dialog.show();
    whenModal<CRegister>([](CRegister* reg) {
        typeInto(reg, "email", QStringLiteral("frank@example.org"));
        QTest::mouseClick(reg->findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
    });
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("createAccount")),
                      Qt::LeftButton);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.first().icon, QMessageBox::Warning);
    QVERIFY(m_boxes.first().text.startsWith(QString::fromUtf8(expected).left(20)));
    QVERIFY(dialog.isVisible());
}

void TestLogin::forgottenPasswordMailsNewOne() {
    const QString old = m_server.createAccount(QStringLiteral("gina@example.org"));
    CLogin dialog;
    dialog.show();
    whenModal<CRegister>([](CRegister* reg) {
        QCOMPARE(reg->windowTitle(), QStringLiteral("Forgot Password"));
        typeInto(reg, "email", QStringLiteral("gina@example.org"));
        QTest::mouseClick(reg->findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
    });
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("forgotPassword")),
                      Qt::LeftButton);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.first().icon, QMessageBox::Warning);
    QVERIFY(m_boxes.first().text.startsWith(QLatin1String("OK")));
    const QString fresh = m_server.newestMailTo(QStringLiteral("gina@example.org"));
    QVERIFY(!fresh.isEmpty());
    QVERIFY(fresh != old);
    m_boxes.clear();
    signIn(dialog, QStringLiteral("gina@example.org"), fresh);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void TestLogin::userIdThatCannotNameAFolder() {
    // Even a service that accepts such an ID cannot make the client use it.
    ScriptedServer lenient;
    lenient.enqueue(ScriptedServer::http(200, "text/plain", "OK\n"));
    m_core->setService(ServiceAddress(lenient.baseUrl()));
    CLogin dialog;
    dialog.show();
    signIn(dialog, QStringLiteral("../elsewhere"), QStringLiteral("pw"));
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY(m_boxes.first().text.contains(QLatin1String("cannot name a folder")));
    QVERIFY(dialog.isVisible());
    QVERIFY(m_core->m_strUserId.isEmpty());
}

QTEST_MAIN(TestLogin)
#include "tst_login.moc"
