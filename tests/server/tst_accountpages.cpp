#include "accountpages.h"
#include "accountstore.h"
#include "clipnoteserver.h"
#include "database.h"
#include "serverprocess.h"
#include "testenvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

// The account pages over real HTTP against a server running inside the test
// on a clock the test moves: what the client sends, what it gets back, what
// lands in the mail folder and the database.
class TestAccountPages : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void registrationMailsPasswordThatSignsIn();
    void signInRefusalsShareOneWording_data();
    void signInRefusalsShareOneWording();
    void refusedRegistrations_data();
    void refusedRegistrations();
    void passwordCharactersArriveIntact_data();
    void passwordCharactersArriveIntact();
    void plusInUserIdArrivesIntact();
    void mailedPasswordForKnownAddressOnly();
    void changePasswordNeedsOwnSession();
    void changePasswordRefusesBadPasswords_data();
    void changePasswordRefusesBadPasswords();
    void changePasswordEndsOtherSessions();
    void repeatedFailuresAreThrottled();
    void unknownIdsAreThrottledAlike();
    void mailFailureLeavesAddressFree();
    void administratorExists();
    void storesOnlyArgon2Hashes();
    void welcomePageIsSelfContained();
    void unknownPagesAre404_data();
    void unknownPagesAre404();

private:
    SimpleHttpReply get(const QByteArray& target, const QByteArray& cookie = QByteArray()) const;
    QString mailDir() const;
    int mailCount() const;
    // Registers and returns the mailed password.
    QString registerAccount(const QString& uid);
    // Signs in; the cookie, or empty with the refusal text in *reply.
    QByteArray signIn(const QString& uid, const QString& password, QByteArray* reply = nullptr);
    SimpleHttpReply changePassword(const QString& uid, const QString& password,
                                   const QByteArray& cookie);

    TestEnvironment m_env;
    std::shared_ptr<ManualClock> m_clock;
    std::unique_ptr<ClipnoteServer> m_server;
};

void TestAccountPages::init() {
    m_clock = std::make_shared<ManualClock>();
    ServerOptions options;
    options.port = 0;
    options.dataFolder = m_env.makeFolder(QStringLiteral("data")).toStdString();
    options.hashStrength = HashStrength::Minimum;
    options.clock = m_clock;
    m_server = std::make_unique<ClipnoteServer>(options);
    std::string error;
    QVERIFY2(m_server->start(&error), error.c_str());
    m_server->runInBackground();
}

void TestAccountPages::cleanup() {
    m_server.reset();
}

SimpleHttpReply TestAccountPages::get(const QByteArray& target, const QByteArray& cookie) const {
    return simpleHttpGet(static_cast<quint16>(m_server->port()), target, cookie);
}

QString TestAccountPages::mailDir() const {
    return QString::fromStdString((m_server->dataFolder() / "mail").string());
}

int TestAccountPages::mailCount() const {
    return static_cast<int>(QDir(mailDir()).entryList({"*.txt"}, QDir::Files).size());
}

QString TestAccountPages::registerAccount(const QString& uid) {
    const SimpleHttpReply reply = get("/zeb/reg.asp?UID=" + pageValue(uid));
    if (reply.body != "OK")
        qWarning() << "registration refused:" << reply.body;
    return newestPasswordMail(mailDir(), uid);
}

QByteArray TestAccountPages::signIn(const QString& uid, const QString& password, QByteArray* body) {
    const SimpleHttpReply reply =
        get("/zeb/login.asp?UID=" + pageValue(uid) + "&PW=" + pageValue(password));
    if (body)
        *body = reply.body;
    if (reply.status != 200 || reply.body != "OK" || reply.cookies().isEmpty())
        return {};
    return reply.cookies().constFirst();
}

SimpleHttpReply TestAccountPages::changePassword(const QString& uid, const QString& password,
                                                 const QByteArray& cookie) {
    return get("/zeb/chgpw.asp?UID=" + pageValue(uid) + "&PW=" + pageValue(password), cookie);
}

void TestAccountPages::registrationMailsPasswordThatSignsIn() {
    const SimpleHttpReply reply = get("/zeb/reg.asp?UID=Alice%40Example.org");
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.body, QByteArray("OK"));
    QCOMPARE(reply.header("Content-Type"), QByteArray("text/plain; charset=utf-8"));
    const QString password = newestPasswordMail(mailDir(), QStringLiteral("alice@example.org"));
    QVERIFY(password.size() >= 8);

    const SimpleHttpReply login =
        get("/zeb/login.asp?UID=aLiCe%40eXaMpLe.org&PW=" + pageValue(password));
    QCOMPARE(login.status, 200);
    QCOMPARE(login.body, QByteArray("OK"));
    QCOMPARE(login.header("Content-Type"), QByteArray("text/plain; charset=utf-8"));
    const QByteArray setCookie = login.header("Set-Cookie");
    QVERIFY2(setCookie.startsWith("CLIPSESSION="), setCookie);
    QVERIFY(setCookie.contains("HttpOnly"));
    QVERIFY(setCookie.contains("Path=/"));
}

void TestAccountPages::signInRefusalsShareOneWording_data() {
    QTest::addColumn<QByteArray>("target");
    QTest::newRow("wrong password") << QByteArray("/zeb/login.asp?UID=bob%40example.org&PW=nope");
    QTest::newRow("unknown id") << QByteArray("/zeb/login.asp?UID=carl%40example.org&PW=nope");
    QTest::newRow("malformed id") << QByteArray("/zeb/login.asp?UID=..%2Fbob&PW=nope");
    QTest::newRow("no password") << QByteArray("/zeb/login.asp?UID=bob%40example.org");
    QTest::newRow("nothing") << QByteArray("/zeb/login.asp");
    QTest::newRow("huge password")
        << "/zeb/login.asp?UID=bob%40example.org&PW=" + QByteArray(5000, 'x');
}

void TestAccountPages::signInRefusalsShareOneWording() {
    QFETCH(QByteArray, target);
    QVERIFY(!registerAccount(QStringLiteral("bob@example.org")).isEmpty());
    const SimpleHttpReply reply = get(target);
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.body, QByteArray(AccountPages::kSignInRefused));
    QVERIFY(reply.cookies().isEmpty());
}

void TestAccountPages::refusedRegistrations_data() {
    QTest::addColumn<QByteArray>("uidValue");
    QTest::addColumn<QByteArray>("mentions");
    QTest::newRow("taken") << QByteArray("bob%40example.org") << QByteArray("already registered");
    QTest::newRow("taken in other case")
        << QByteArray("BOB%40Example.ORG") << QByteArray("already registered");
    QTest::newRow("empty") << QByteArray() << QByteArray("e-mail address");
    QTest::newRow("no at") << QByteArray("bob.example.org") << QByteArray("e-mail address");
    QTest::newRow("climbs folders")
        << QByteArray("..%2F..%2Fetc%40example.org") << QByteArray("e-mail address");
    QTest::newRow("slash") << QByteArray("a%2Fb%40example.org") << QByteArray("e-mail address");
    QTest::newRow("backslash") << QByteArray("a%5Cb%40example.org") << QByteArray("e-mail address");
    QTest::newRow("NUL") << QByteArray("a%00b%40example.org") << QByteArray("e-mail address");
    QTest::newRow("newline") << QByteArray("a%0Ab%40example.org") << QByteArray("e-mail address");
    QTest::newRow("leading dot") << QByteArray(".x%40example.org") << QByteArray("e-mail address");
    QTest::newRow("blank") << QByteArray("a%20b%40example.org") << QByteArray("e-mail address");
    QTest::newRow("semicolon") << QByteArray("a%3Bb%40example.org") << QByteArray("e-mail address");
    QTest::newRow("ampersand, encoded")
        << QByteArray("x%26PW%3Dy%40example.org") << QByteArray("e-mail address");
    QTest::newRow("raw plus reads as blank")
        << QByteArray("a+b%40example.org") << QByteArray("e-mail address");
    QTest::newRow("too long") << QByteArray(50, 'a') + "%40example.org"
                              << QByteArray("e-mail address");
}

void TestAccountPages::refusedRegistrations() {
    QFETCH(QByteArray, uidValue);
    QFETCH(QByteArray, mentions);
    const QString bobs = registerAccount(QStringLiteral("bob@example.org"));
    QVERIFY(!bobs.isEmpty());
    const int mails = mailCount();
    const SimpleHttpReply reply = get("/zeb/reg.asp?UID=" + uidValue);
    QCOMPARE(reply.status, 200);
    QVERIFY2(!reply.body.startsWith("OK"), reply.body);
    QVERIFY2(reply.body.contains(mentions), reply.body);
    QCOMPARE(mailCount(), mails);
    QCOMPARE(
        QDir(mailDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(),
        mails);
    // Nothing escaped the data folder.
    QVERIFY(!QFileInfo::exists(QString::fromStdString(m_server->dataFolder().string()) +
                               QStringLiteral("/../etc@example.org")));
    // The owner of a taken address keeps the password.
    QVERIFY(!signIn(QStringLiteral("bob@example.org"), bobs).isEmpty());
}

void TestAccountPages::passwordCharactersArriveIntact_data() {
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("nearMiss");
    QTest::newRow("plus") << QStringLiteral("a+b") << QStringLiteral("a b");
    QTest::newRow("escaped plus as text") << QStringLiteral("a%2Bb") << QStringLiteral("a+b");
    QTest::newRow("ampersand") << QStringLiteral("a&b") << QStringLiteral("a");
    QTest::newRow("equals") << QStringLiteral("a=b=c") << QStringLiteral("a");
    QTest::newRow("hash") << QStringLiteral("a#b") << QStringLiteral("a");
    QTest::newRow("percent") << QStringLiteral("100%") << QStringLiteral("100");
    QTest::newRow("percent u") << QStringLiteral("%u0041") << QStringLiteral("A");
    QTest::newRow("blanks inside and around") << QStringLiteral(" a b ") << QStringLiteral("a b");
    QTest::newRow("all at once") << QStringLiteral("+%2B&=#% ?/") << QStringLiteral(" + &=");
    QTest::newRow("non-ASCII") << QStringLiteral("p\u00e4ss\u20ac") << QStringLiteral("pass");
    QTest::newRow("longest") << QString(128, QLatin1Char('x')) << QString(127, QLatin1Char('x'));
}

void TestAccountPages::passwordCharactersArriveIntact() {
    QFETCH(QString, password);
    QFETCH(QString, nearMiss);
    const QString uid = QStringLiteral("dora@example.org");
    const QByteArray cookie = signIn(uid, registerAccount(uid));
    QVERIFY(!cookie.isEmpty());
    QCOMPARE(changePassword(uid, password, cookie).body, QByteArray("OK"));
    QVERIFY(signIn(uid, nearMiss).isEmpty());
    QVERIFY(!signIn(uid, password).isEmpty());
}

void TestAccountPages::plusInUserIdArrivesIntact() {
    const QString password = registerAccount(QStringLiteral("Eve+Clips@example.org"));
    QVERIFY(!password.isEmpty());
    QVERIFY(!signIn(QStringLiteral("eve+clips@example.org"), password).isEmpty());
    const auto account = m_server->accounts().find("eve+clips@example.org");
    QVERIFY(account.has_value());
    QCOMPARE(account->userId, std::string("Eve+Clips@example.org"));
}

void TestAccountPages::mailedPasswordForKnownAddressOnly() {
    const QString first = registerAccount(QStringLiteral("fay@example.org"));
    int mails = mailCount();

    const SimpleHttpReply unknown = get("/zeb/pwmail.asp?UID=gus%40example.org");
    QCOMPARE(unknown.status, 200);
    QVERIFY2(!unknown.body.startsWith("OK"), unknown.body);
    QVERIFY(!get("/zeb/pwmail.asp?UID=..%2Fx").body.startsWith("OK"));
    QCOMPARE(mailCount(), mails);

    const SimpleHttpReply known = get("/zeb/pwmail.asp?UID=FAY%40example.org");
    QVERIFY2(known.body.startsWith("OK"), known.body);
    QCOMPARE(mailCount(), mails + 1);
    const QString second = newestPasswordMail(mailDir(), QStringLiteral("fay@example.org"));
    QVERIFY(!second.isEmpty());
    QVERIFY(second != first);
    QVERIFY(!signIn(QStringLiteral("fay@example.org"), second).isEmpty());
    QVERIFY(signIn(QStringLiteral("fay@example.org"), first).isEmpty());
}

void TestAccountPages::changePasswordNeedsOwnSession() {
    const QString hers = registerAccount(QStringLiteral("hana@example.org"));
    const QString his = registerAccount(QStringLiteral("ivan@example.org"));
    const QByteArray hanaCookie = signIn(QStringLiteral("hana@example.org"), hers);
    QVERIFY(!hanaCookie.isEmpty());

    // No cookie, a made-up cookie, and Hana's cookie used on Ivan's account.
    for (const QByteArray& cookie : {QByteArray(), QByteArray("CLIPSESSION=1234abcd")}) {
        const SimpleHttpReply reply =
            changePassword(QStringLiteral("hana@example.org"), QStringLiteral("new"), cookie);
        QCOMPARE(reply.status, 200);
        QVERIFY2(reply.body.contains("not signed in"), reply.body);
    }
    const SimpleHttpReply other =
        changePassword(QStringLiteral("ivan@example.org"), QStringLiteral("taken"), hanaCookie);
    QVERIFY2(!other.body.startsWith("OK"), other.body);
    QVERIFY(!signIn(QStringLiteral("ivan@example.org"), his).isEmpty());
    QVERIFY(signIn(QStringLiteral("ivan@example.org"), QStringLiteral("taken")).isEmpty());
    QVERIFY(!signIn(QStringLiteral("hana@example.org"), hers).isEmpty());

    // Her own ID in another letter case is still hers.
    QCOMPARE(
        changePassword(QStringLiteral("Hana@Example.org"), QStringLiteral("mine"), hanaCookie).body,
        QByteArray("OK"));
    QVERIFY(!signIn(QStringLiteral("hana@example.org"), QStringLiteral("mine")).isEmpty());
    QVERIFY(signIn(QStringLiteral("hana@example.org"), hers).isEmpty());
}

void TestAccountPages::changePasswordRefusesBadPasswords_data() {
    QTest::addColumn<QString>("password");
    QTest::newRow("empty") << QString();
    QTest::newRow("one too long") << QString(129, QLatin1Char('x'));
    QTest::newRow("tab") << QStringLiteral("a\tb");
    QTest::newRow("newline") << QStringLiteral("ab\n");
    QTest::newRow("NUL") << QStringLiteral("a") + QChar(0) + QStringLiteral("b");
}

void TestAccountPages::changePasswordRefusesBadPasswords() {
    QFETCH(QString, password);
    const QString uid = QStringLiteral("jo@example.org");
    const QString mailed = registerAccount(uid);
    const QByteArray cookie = signIn(uid, mailed);
    const SimpleHttpReply reply = changePassword(uid, password, cookie);
    QCOMPARE(reply.status, 200);
    QVERIFY2(reply.body.contains("128"), reply.body);
    QVERIFY(!signIn(uid, mailed).isEmpty());
}

void TestAccountPages::changePasswordEndsOtherSessions() {
    const QString uid = QStringLiteral("kim@example.org");
    const QString mailed = registerAccount(uid);
    const QByteArray here = signIn(uid, mailed);
    const QByteArray elsewhere = signIn(uid, mailed);
    QVERIFY(!here.isEmpty() && here != elsewhere);
    QCOMPARE(changePassword(uid, QStringLiteral("one"), here).body, QByteArray("OK"));
    QCOMPARE(changePassword(uid, QStringLiteral("two"), here).body, QByteArray("OK"));
    QVERIFY(changePassword(uid, QStringLiteral("three"), elsewhere).body.contains("not signed in"));
    QVERIFY(!signIn(uid, QStringLiteral("two")).isEmpty());
}

void TestAccountPages::repeatedFailuresAreThrottled() {
    const QString uid = QStringLiteral("lea@example.org");
    const QString password = registerAccount(uid);
    QByteArray reply;
    for (int i = 0; i < 5; ++i) {
        QVERIFY(signIn(uid, QStringLiteral("guess%1").arg(i), &reply).isEmpty());
        QCOMPARE(reply, QByteArray(AccountPages::kSignInRefused));
    }
    // Locked: even the right password is not checked, and the reply says
    // when to come back.
    QVERIFY(signIn(QStringLiteral("LEA@example.org"), password, &reply).isEmpty());
    QVERIFY2(reply.contains("try again in 30 seconds"), reply);
    // Other IDs are not held up.
    QVERIFY(
        !signIn(QStringLiteral("mo@example.org"), registerAccount(QStringLiteral("mo@example.org")))
             .isEmpty());

    m_clock->advance(20s);
    QVERIFY(signIn(uid, password, &reply).isEmpty());
    QVERIFY2(reply.contains("try again in 10 seconds"), reply);
    m_clock->advance(10s);
    QVERIFY(!signIn(uid, password).isEmpty());
    // Success starts the count afresh.
    for (int i = 0; i < 4; ++i)
        QVERIFY(signIn(uid, QStringLiteral("again%1").arg(i)).isEmpty());
    QVERIFY(!signIn(uid, password).isEmpty());
}

void TestAccountPages::unknownIdsAreThrottledAlike() {
    // A locked unknown ID looks exactly like a locked known one.
    QByteArray reply;
    for (int i = 0; i < 6; ++i)
        signIn(QStringLiteral("nobody@example.org"), QStringLiteral("x"), &reply);
    QVERIFY2(reply.contains("try again in 30 seconds"), reply);
}

void TestAccountPages::mailFailureLeavesAddressFree() {
    const QString folder = mailDir();
    QVERIFY(QDir(folder).removeRecursively());
    QVERIFY(writeFile(folder, "a file where the mail folder was"));
    const SimpleHttpReply reply = get("/zeb/reg.asp?UID=ned%40example.org");
    QCOMPARE(reply.status, 200);
    QVERIFY2(!reply.body.startsWith("OK"), reply.body);
    QVERIFY2(reply.body.contains("could not be sent"), reply.body);
    QVERIFY(!m_server->accounts().find("ned@example.org").has_value());

    QVERIFY(QFile::remove(folder));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(!registerAccount(QStringLiteral("ned@example.org")).isEmpty());
}

void TestAccountPages::administratorExists() {
    const QString admin = QString::fromLatin1(ClipnoteServer::kAdministrator);
    QCOMPARE(admin, QStringLiteral("administrator@ostrand.example"));
    const QString password = newestPasswordMail(mailDir(), admin);
    QVERIFY(!password.isEmpty());
    QVERIFY(!signIn(admin, password).isEmpty());
    QVERIFY(get("/zeb/reg.asp?UID=" + pageValue(admin)).body.contains("already registered"));
}

void TestAccountPages::storesOnlyArgon2Hashes() {
    const QString password = registerAccount(QStringLiteral("olga@example.org"));
    const QByteArray cookie = signIn(QStringLiteral("olga@example.org"), password);
    QCOMPARE(
        changePassword(QStringLiteral("olga@example.org"), QStringLiteral("Chosen+Pw#1"), cookie)
            .body,
        QByteArray("OK"));
    Database& db = m_server->database();
    auto guard = db.lock();
    Statement query(db, "SELECT password_hash FROM accounts");
    int rows = 0;
    while (query.step()) {
        ++rows;
        const std::string hash = query.text(0);
        QVERIFY2(hash.starts_with("$argon2id$"), hash.c_str());
        QVERIFY(hash.find("Chosen+Pw#1") == std::string::npos);
        QVERIFY(hash.find(password.toStdString()) == std::string::npos);
    }
    QCOMPARE(rows, 2);
}

void TestAccountPages::welcomePageIsSelfContained() {
    const SimpleHttpReply reply = get("/zeb/ad.asp");
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.header("Content-Type"), QByteArray("text/html; charset=utf-8"));
    QVERIFY(reply.body.contains("<html"));
    QVERIFY(reply.body.contains("</html>"));
    for (const char* reference : {"src=", "href=", "url(", "@import", "http:", "https:"})
        QVERIFY2(!reply.body.contains(reference), reference);
}

void TestAccountPages::unknownPagesAre404_data() {
    QTest::addColumn<QByteArray>("target");
    QTest::newRow("root") << QByteArray("/");
    QTest::newRow("unknown page") << QByteArray("/zeb/other.asp");
    QTest::newRow("page in other folder") << QByteArray("/login.asp?UID=a&PW=b");
    QTest::newRow("page below a page") << QByteArray("/zeb/login.asp/x");
    QTest::newRow("data folder file") << QByteArray("/clipnote.db");
    QTest::newRow("climbing") << QByteArray("/zeb/../zeb/ad.asp.bak");
}

void TestAccountPages::unknownPagesAre404() {
    QFETCH(QByteArray, target);
    const SimpleHttpReply reply = get(target);
    QCOMPARE(reply.status, 404);
    QVERIFY(reply.header("Content-Type").startsWith("text/plain; charset=utf-8"));
}

QTEST_GUILESS_MAIN(TestAccountPages)
#include "tst_accountpages.moc"
