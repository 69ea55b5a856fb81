#include "platform/profile.h"
#include "testenvironment.h"

#include <QSettings>
#include <QTest>

// Settings round-trips and the rule that a stored value of the wrong type or
// out of range reads as the caller's default.
class TestProfile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void missingValuesReadAsDefaults();
    void writtenValuesReadBack();
    void malformedIntegers_data();
    void malformedIntegers();
    void keptUnderCompanyAndApplication();

private:
    TestEnvironment m_env;
};

void TestProfile::missingValuesReadAsDefaults() {
    Profile profile(QStringLiteral("ZEB"), QStringLiteral("fresh"));
    QCOMPARE(profile.GetProfileInt(QStringLiteral("Settings"), QStringLiteral("NotifyPopup"), 1),
             1);
    QCOMPARE(profile.GetProfileInt(QStringLiteral("Settings"), QStringLiteral("x"), 0), 0);
    QCOMPARE(profile.GetProfileString(QStringLiteral("Settings"), QStringLiteral("uid")),
             QString());
}

void TestProfile::writtenValuesReadBack() {
    Profile profile(QStringLiteral("ZEB"), QStringLiteral("roundtrip"));
    QVERIFY(profile.WriteProfileInt(QStringLiteral("Settings"), QStringLiteral("x"), -120));
    QVERIFY(profile.WriteProfileInt(QStringLiteral("Settings"), QStringLiteral("SaveSent"), 0));
    QVERIFY(profile.WriteProfileString(QStringLiteral("Settings"), QStringLiteral("uid"),
                                       QStringLiteral("Alice@Example.org")));
    Profile again(QStringLiteral("ZEB"), QStringLiteral("roundtrip"));
    QCOMPARE(again.GetProfileInt(QStringLiteral("Settings"), QStringLiteral("x"), 0), -120);
    QCOMPARE(again.GetProfileInt(QStringLiteral("Settings"), QStringLiteral("SaveSent"), 1), 0);
    QCOMPARE(again.GetProfileString(QStringLiteral("Settings"), QStringLiteral("uid")),
             QStringLiteral("Alice@Example.org"));
}

void TestProfile::malformedIntegers_data() {
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("expected");
    QTest::newRow("text in a number") << "x" << QVariant(QStringLiteral("left")) << 7;
    QTest::newRow("beyond 32 bits") << "y" << QVariant(QStringLiteral("99999999999")) << 7;
    QTest::newRow("flag out of range") << "NotifyPopup" << QVariant(5) << 7;
    QTest::newRow("negative flag") << "AllowALL" << QVariant(-1) << 7;
    QTest::newRow("list instead of number") << "x2" << QVariant(QStringList{"1", "2"}) << 7;
    QTest::newRow("number with blanks") << "y2" << QVariant(QStringLiteral(" 42 ")) << 42;
    QTest::newRow("flag in range") << "SaveSent" << QVariant(0) << 0;
}

void TestProfile::malformedIntegers() {
    QFETCH(QString, entry);
    QFETCH(QVariant, stored);
    QFETCH(int, expected);
    {
        QSettings raw(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("ZEB"),
                      QStringLiteral("malformed"));
        raw.setValue(QStringLiteral("Settings/") + entry, stored);
    }
    Profile profile(QStringLiteral("ZEB"), QStringLiteral("malformed"));
    QCOMPARE(profile.GetProfileInt(QStringLiteral("Settings"), entry, 7), expected);
}

void TestProfile::keptUnderCompanyAndApplication() {
    Profile profile(QStringLiteral("ZEB"), QStringLiteral("renamed-client"));
    QVERIFY(profile.WriteProfileInt(QStringLiteral("Settings"), QStringLiteral("y"), 3));
    QVERIFY(QFile::exists(m_env.configHome() + QStringLiteral("/ZEB/renamed-client.conf")));
}

QTEST_GUILESS_MAIN(TestProfile)
#include "tst_profile.moc"
