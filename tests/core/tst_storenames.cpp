#include "store/storenames.h"

#include <QTest>

#include <functional>

// The naming rules every part of the program that builds or splits a store
// name relies on, as one table: rule, input, expected output.
class TestStoreNames : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rules_data();
    void rules();
    void messageNamePrintsTickSigned_data();
    void messageNamePrintsTickSigned();
};

namespace {

QString yesNo(bool value) {
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

const QString kNul = QString(QChar(0));

const QMap<QString, std::function<QString(const QString&)>>& ruleTable() {
    static const QMap<QString, std::function<QString(const QString&)>> table = {
        {"safe", [](const QString& s) { return yesNo(isSafeStoreName(s)); }},
        {"extension", [](const QString& s) { return nameExtension(s); }},
        {"thumbnail", [](const QString& s) { return yesNo(isThumbnailName(s)); }},
        {"first field", [](const QString& s) { return firstField(s); }},
        {"inbox stem", [](const QString& s) { return inboxStem(s); }},
        {"inbox video", [](const QString& s) { return inboxVideoName(s); }},
        {"inbox drawn", [](const QString& s) { return inboxDrawnSender(s); }},
        {"inbox thumb", [](const QString& s) { return thumbnailName(Folder::Inbox, s); }},
        {"outbox thumb", [](const QString& s) { return thumbnailName(Folder::Outbox, s); }},
        {"sent thumb", [](const QString& s) { return thumbnailName(Folder::Sent, s); }},
        {"picture", [](const QString& s) { return thumbnailName(Folder::Contacts, s); }},
        {"inbox delete", [](const QString& s) { return inboxDeletedThumbnail(s); }},
        {"sent name", [](const QString& s) { return sentNameOf(s); }},
        {"resend sender", [](const QString& s) { return resendSenderOf(s); }},
        {"received", [](const QString& s) { return inboxNameOfReceived(s); }},
        {"picture owner", [](const QString& s) { return pictureOwnerOfReceived(s); }},
        {"contact of", [](const QString& s) { return contactOfInboxName(s); }},
        {"popup thumb", [](const QString& s) { return popupThumbnailName(s); }},
    };
    return table;
}

} // namespace

void TestStoreNames::rules_data() {
    QTest::addColumn<QString>("rule");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* tag, const char* rule, const QString& input,
                        const QString& expected) {
        QTest::newRow(tag) << QString::fromUtf8(rule) << input << expected;
    };
    // Names from outside never leave their folder.
    row("safe: empty", "safe", "", "no");
    row("safe: dot", "safe", ".", "no");
    row("safe: dot dot", "safe", "..", "no");
    row("safe: climbs out", "safe", "../x", "no");
    row("safe: slash", "safe", "a/b", "no");
    row("safe: absolute", "safe", "/etc/passwd", "no");
    row("safe: NUL", "safe", "a" + kNul + "b", "no");
    row("safe: newline", "safe", "a\nb", "no");
    row("safe: DEL", "safe", "a\x7f", "no");
    row("safe: message name", "safe", "bob;alice;-12", "yes");
    row("safe: e-mail", "safe", "Alice.Smith@Example.org", "yes");
    row("safe: three dots", "safe", "...", "yes");
    row("safe: hidden", "safe", ".profile", "yes");
    row("safe: backslash", "safe", "a\\b", "yes");
    row("safe: non-ASCII", "safe", QStringLiteral("zoë@example.org"), "yes");
    // Listing: the extension runs from the last "."; ".jpg" in any case is no entry.
    row("ext: other", "extension", "notes.txt", ".txt");
    row("ext: no dot is the whole name", "extension", "jpg", "jpg");
    row("ext: last dot", "extension", "a.jpg.wmv", ".wmv");
    row("thumb: notes.txt", "thumbnail", "notes.txt", "no");
    row("thumb: NOTES.JPG", "thumbnail", "NOTES.JPG", "yes");
    row("thumb: mixed case", "thumbnail", "bob;alice;1.Jpg", "yes");
    row("thumb: only the extension", "thumbnail", ".jpg", "yes");
    row("thumb: jpg without dot", "thumbnail", "jpg", "no");
    row("thumb: jpeg", "thumbnail", "a.jpeg", "no");
    row("thumb: outbox video", "thumbnail", "bob;alice;123", "no");
    // Parties: the first field, empty without ";".
    row("party: outbox recipient keeps case", "first field", "Bob;alice;123", "Bob");
    row("party: inbox sender", "first field", "alice;456.wmv", "alice");
    row("party: no separator", "first field", "notes.txt", "");
    row("party: empty first field", "first field", ";alice;1", "");
    // Inbox items: lower case, cut at the last ".".
    row("stem: video", "inbox stem", "alice;456.wmv", "alice;456");
    row("stem: upper case", "inbox stem", "Bob;200.WMV", "bob;200");
    row("stem: no dot", "inbox stem", "alice;456", "alice;456");
    row("stem: dots in sender", "inbox stem", "a.b@x.org;1.wmv", "a.b@x.org;1");
    row("stem: dots, no extension", "inbox stem", "a.b@x.org;1", "a.b@x");
    row("video: notes.txt", "inbox video", "notes.txt", "notes.wmv");
    row("video: upper case", "inbox video", "Bob;200.WMV", "bob;200.wmv");
    row("drawn: sender", "inbox drawn", "alice;456.wmv", "alice");
    row("drawn: whole stem", "inbox drawn", "notes.txt", "notes");
    row("drawn: dots in sender", "inbox drawn", "a.b@x.org;1.wmv", "a.b@x.org");
    // Thumbnails per folder.
    row("inbox thumbnail", "inbox thumb", "alice;456.wmv", "alice;456.jpg");
    row("inbox thumbnail of notes", "inbox thumb", "notes.txt", "notes.jpg");
    row("outbox thumbnail appends", "outbox thumb", "Bob;alice;123", "Bob;alice;123.jpg");
    row("sent thumbnail replaces", "sent thumb", "bob;alice;123.wmv", "bob;alice;123.jpg");
    row("sent without wmv", "sent thumb", "bob;alice;123", "bob;alice;123");
    row("contact picture", "picture", "Alice@x.org", "Alice@x.org.jpg");
    // Deleting from the Inbox takes the thumbnail up to the first ".wmv".
    row("delete: video", "inbox delete", "alice;456.wmv", "alice;456.jpg");
    row("delete: other file", "inbox delete", "notes.txt", "");
    row("delete: first wmv", "inbox delete", "a.wmv.wmv", "a.jpg");
    // Sent names.
    row("sent: video", "sent name", "Bob;alice;123", "bob;alice;123.wmv");
    row("sent: thumbnail", "sent name", "Bob;alice;123.jpg", "bob;alice;123.jpg");
    row("sent: negative tick", "sent name", "Bob;Alice;-5", "bob;alice;-5.wmv");
    row("sent: upper-case JPG", "sent name", "Bob;alice;123.JPG", "bob;alice;123.jpg");
    // The sender of a kept message, for Resend.
    row("resend: kept message", "resend sender", "bob;alice;123.wmv", "alice");
    row("resend: one separator", "resend sender", "bob;123.wmv", "");
    row("resend: none", "resend sender", "plain.wmv", "");
    row("resend: separator in sender", "resend sender", "bob;al;ice;1.wmv", "al;ice");
    // Received names become lower-case Inbox names; unsafe ones are refused.
    row("recv: video", "received", "bob;alice;456", "alice;456.wmv");
    row("recv: thumbnail", "received", "bob;alice;456.jpg", "alice;456.jpg");
    row("recv: mixed case", "received", "Bob;Alice;456", "alice;456.wmv");
    row("recv: upper-case JPG", "received", "bob;alice;456.JPG", "alice;456.jpg");
    row("recv: no separator", "received", "loose", "loose.wmv");
    row("recv: nothing after the field", "received", "bob;", "");
    row("recv: dot dot", "received", "bob;..", "");
    row("recv: dot", "received", "bob;.", "");
    row("recv: climbs out", "received", "bob;../../evil;1", "");
    row("recv: slash", "received", "bob;a/b;1", "");
    row("recv: NUL", "received", "bob;al" + kNul + "ice;1", "");
    row("owner: thumbnail", "picture owner", "bob;alice;456.jpg", "alice");
    row("owner: keeps case", "picture owner", "Bob;Alice;456.jpg", "Alice");
    row("owner: no separator", "picture owner", "loose.jpg", "");
    row("owner: refused name", "picture owner", "bob;../x;1.jpg", "");
    // Is-a-contact takes the Inbox name up to its last ";".
    row("contact: video", "contact of", "alice;456.wmv", "alice");
    row("contact: no separator", "contact of", "notes.txt", "");
    row("contact: up to the last", "contact of", "a;b;1.wmv", "a;b");
    // The popup's thumbnail for a received name U;N.
    row("popup: received name", "popup thumb", "alice;456", "alice;456.jpg");
    row("popup: stored lower case", "popup thumb", "Alice;456", "alice;456.jpg");
    row("popup: with wmv", "popup thumb", "alice;456.wmv", "alice;456.jpg");
}

void TestStoreNames::rules() {
    QFETCH(QString, rule);
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QVERIFY2(ruleTable().contains(rule), qPrintable(rule));
    QCOMPARE(ruleTable().value(rule)(input), expected);
}

void TestStoreNames::messageNamePrintsTickSigned_data() {
    QTest::addColumn<uint>("tick");
    QTest::addColumn<QString>("name");
    QTest::newRow("small") << 123u << "bob;alice;123";
    QTest::newRow("zero") << 0u << "bob;alice;0";
    QTest::newRow("largest positive") << 0x7fffffffu << "bob;alice;2147483647";
    QTest::newRow("after 24.9 days") << 0x80000000u << "bob;alice;-2147483648";
    QTest::newRow("just before wrap") << 0xffffffffu << "bob;alice;-1";
}

void TestStoreNames::messageNamePrintsTickSigned() {
    QFETCH(uint, tick);
    QFETCH(QString, name);
    QCOMPARE(makeMessageName(QStringLiteral("bob"), QStringLiteral("alice"), tick), name);
}

QTEST_GUILESS_MAIN(TestStoreNames)
#include "tst_storenames.moc"
