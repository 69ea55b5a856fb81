#include "userid.h"

#include <QTest>

#include <string>

// The shape rule for user IDs: every accepted ID must be a safe single file
// name and a safe field of a message name; plain addresses must pass.
class TestUserId : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shape_data();
    void shape();
    void keyIsLowerCase();
};

void TestUserId::shape_data() {
    QTest::addColumn<QByteArray>("id");
    QTest::addColumn<bool>("valid");

    QTest::newRow("plain") << QByteArray("alice@example.org") << true;
    QTest::newRow("capitals") << QByteArray("Alice@Example.ORG") << true;
    QTest::newRow("dots plus dash underscore") << QByteArray("a.b+c_d-e@mail.example.co") << true;
    QTest::newRow("digits in host") << QByteArray("x@host-2.example.org") << true;
    QTest::newRow("longest") << QByteArray("a").repeated(43) + "@example.org" << true;

    QTest::newRow("one too long") << QByteArray("a").repeated(44) + "@example.org" << false;
    QTest::newRow("empty") << QByteArray("") << false;
    QTest::newRow("no at") << QByteArray("alice.example.org") << false;
    QTest::newRow("two ats") << QByteArray("alice@bob@example.org") << false;
    QTest::newRow("empty local part") << QByteArray("@example.org") << false;
    QTest::newRow("empty host") << QByteArray("alice@") << false;
    QTest::newRow("single-label host") << QByteArray("alice@localhost") << false;
    QTest::newRow("numeric top level") << QByteArray("alice@10.0.0.1") << false;
    QTest::newRow("one-letter top level") << QByteArray("alice@example.o") << false;
    QTest::newRow("leading dot") << QByteArray(".alice@example.org") << false;
    QTest::newRow("dot before at") << QByteArray("alice.@example.org") << false;
    QTest::newRow("double dot") << QByteArray("al..ice@example.org") << false;
    QTest::newRow("dot dot as name") << QByteArray("..@example.org") << false;
    QTest::newRow("empty host label") << QByteArray("alice@example..org") << false;
    QTest::newRow("host label starts with dash") << QByteArray("alice@-x.example.org") << false;
    QTest::newRow("host label ends with dash") << QByteArray("alice@x-.example.org") << false;
    QTest::newRow("slash") << QByteArray("a/b@example.org") << false;
    QTest::newRow("slash in host") << QByteArray("alice@exa/mple.org") << false;
    QTest::newRow("backslash") << QByteArray("a\\b@example.org") << false;
    QTest::newRow("semicolon") << QByteArray("a;b@example.org") << false;
    QTest::newRow("colon") << QByteArray("a:b@example.org") << false;
    QTest::newRow("blank") << QByteArray("a b@example.org") << false;
    QTest::newRow("trailing blank") << QByteArray("alice@example.org ") << false;
    QTest::newRow("tab") << QByteArray("a\tb@example.org") << false;
    QTest::newRow("newline") << QByteArray("alice@example.org\n") << false;
    QTest::newRow("NUL") << QByteArray("a\0b@example.org", 15) << false;
    QTest::newRow("ampersand") << QByteArray("a&b@example.org") << false;
    QTest::newRow("percent") << QByteArray("a%b@example.org") << false;
    QTest::newRow("hash") << QByteArray("a#b@example.org") << false;
    QTest::newRow("equals") << QByteArray("a=b@example.org") << false;
    QTest::newRow("quote") << QByteArray("a\"b@example.org") << false;
    QTest::newRow("non-ASCII") << QByteArray("j\xc3\xb6rg@example.org") << false;
    QTest::newRow("picture-like ending") << QByteArray("alice@photos.jpg") << false;
    QTest::newRow("picture-like ending in capitals") << QByteArray("alice@photos.JPG") << false;
}

void TestUserId::shape() {
    QFETCH(QByteArray, id);
    QFETCH(bool, valid);
    QCOMPARE(isValidUserId(std::string_view(id.constData(), size_t(id.size()))), valid);
}

void TestUserId::keyIsLowerCase() {
    QCOMPARE(userIdKey("Alice.B+X@Example.ORG"), std::string("alice.b+x@example.org"));
    QCOMPARE(userIdKey("bob@example.org"), std::string("bob@example.org"));
}

QTEST_GUILESS_MAIN(TestUserId)
#include "tst_userid.moc"
