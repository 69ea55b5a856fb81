#include "store/replacingfile.h"
#include "storefixture.h"

#include <QBuffer>
#include <QTest>

#include <sys/stat.h>

// A file appears under its name only complete, and a failed or abandoned
// write leaves neither a temporary file nor a damaged target.
class TestReplacingFile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void replacesTargetOnlyOnCommit();
    void abandonedWriteLeavesNothing();
    void failuresKeepTheOldTarget_data();
    void failuresKeepTheOldTarget();
    void copiesADeviceToItsEnd();
    void copyOntoItself();
    void umaskDecidesPermissions();

private:
    TestEnvironment m_env;
    QString m_listed; // the folder a list shows
    QString m_temp;   // where temporary files go
};

void TestReplacingFile::init() {
    const QString base = m_env.makeFolder(QStringLiteral("replace"));
    m_listed = base + QStringLiteral("/Listed");
    m_temp = base;
    QDir().mkpath(m_listed);
}

void TestReplacingFile::replacesTargetOnlyOnCommit() {
    const QString target = m_listed + QStringLiteral("/message");
    QVERIFY(writeFile(target, "old"));
    ReplacingFile file(target, m_temp);
    QVERIFY(file.open());
    QVERIFY(file.write("new bytes", 9));
    // Mid-write the listed folder still shows only the complete old file.
    QCOMPARE(filesIn(m_listed), QStringList{"message"});
    QCOMPARE(readFile(target), QByteArray("old"));
    QVERIFY(file.tempPath().startsWith(m_temp + QStringLiteral("/.")));
    QVERIFY(file.commit());
    QCOMPARE(readFile(target), QByteArray("new bytes"));
    QCOMPARE(filesIn(m_temp), QStringList{});
}

void TestReplacingFile::abandonedWriteLeavesNothing() {
    const QString target = m_listed + QStringLiteral("/message");
    {
        ReplacingFile file(target, m_temp);
        QVERIFY(file.open());
        QVERIFY(file.write("partial", 7));
    }
    QCOMPARE(filesIn(m_listed), QStringList{});
    QCOMPARE(filesIn(m_temp), QStringList{});
}

void TestReplacingFile::failuresKeepTheOldTarget_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("tempFolder");
    QTest::newRow("missing source") << "missing"
                                    << "";
    QTest::newRow("source is a folder") << "."
                                        << "";
    QTest::newRow("no temporary folder") << "source"
                                         << "/none";
}

void TestReplacingFile::failuresKeepTheOldTarget() {
    QFETCH(QString, source);
    QFETCH(QString, tempFolder);
    QVERIFY(writeFile(m_temp + QStringLiteral("/source"), "source bytes"));
    const QString target = m_listed + QStringLiteral("/message");
    QVERIFY(writeFile(target, "old"));
    QVERIFY(!copyFileReplacing(m_temp + QLatin1Char('/') + source, target, m_temp + tempFolder));
    QCOMPARE(readFile(target), QByteArray("old"));
    QCOMPARE(filesIn(m_temp), QStringList{"source"});
    QCOMPARE(filesIn(m_listed), QStringList{"message"});
}

void TestReplacingFile::copiesADeviceToItsEnd() {
    QByteArray data(10000, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(i * 7);
    QBuffer buffer(&data);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QVERIFY(buffer.seek(32));
    const QString target = m_listed + QStringLiteral("/received");
    ReplacingFile file(target, m_temp);
    QVERIFY(file.open());
    QVERIFY(file.writeFrom(buffer));
    QVERIFY(file.commit());
    QCOMPARE(readFile(target), data.mid(32));
}

void TestReplacingFile::copyOntoItself() {
    const QString target = m_listed + QStringLiteral("/same");
    QVERIFY(writeFile(target, "keep me"));
    QVERIFY(copyFileReplacing(target, target, m_temp));
    QCOMPARE(readFile(target), QByteArray("keep me"));
}

void TestReplacingFile::umaskDecidesPermissions() {
    const mode_t old = ::umask(022);
    const QString target = m_listed + QStringLiteral("/contact");
    const bool written = writeFileReplacing(target, "Me", m_temp);
    ::umask(old);
    QVERIFY(written);
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(target).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0644));
}

QTEST_GUILESS_MAIN(TestReplacingFile)
#include "tst_replacingfile.moc"
