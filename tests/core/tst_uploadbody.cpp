#include "service/uploadbody.h"

#include <QBuffer>
#include <QTest>

// The upload body without a network: the header block's layout and how it
// cuts values that do not fit, the body length, and the body produced block
// by block with its progress.
class TestUploadBody : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void bodyLength_data();
    void bodyLength();
    void headerLayout();
    void headerCutsLongValues_data();
    void headerCutsLongValues();
    void bodyMatchesFileInAnyReadSize_data();
    void bodyMatchesFileInAnyReadSize();
    void fileChangingMidwayKeepsDeclaredLength_data();
    void fileChangingMidwayKeepsDeclaredLength();
    void progressCountsBlocks();
};

namespace {
struct RecordingProgress : UploadProgress {
    QList<int> positions;
    int lower = -1;
    int upper = -1;
    void setRange(int lo, int hi) override {
        lower = lo;
        upper = hi;
    }
    void setPosition(int position) override { positions.append(position); }
};

QByteArray drain(UploadBodySource& source, qint64 chunk) {
    QByteArray all;
    QByteArray buffer(chunk, '\0');
    while (true) {
        const qint64 n = source.read(buffer.data(), chunk);
        if (n <= 0)
            break;
        all.append(buffer.constData(), n);
    }
    return all;
}

QByteArray expectedBlocks(const QByteArray& file) {
    QByteArray blocks = file;
    blocks.append(QByteArray(kUploadBlockBytes - file.size() % kUploadBlockBytes, '\0'));
    return blocks;
}
} // namespace

void TestUploadBody::bodyLength_data() {
    QTest::addColumn<qint64>("fileLength");
    QTest::addColumn<qint64>("bodyLength");
    QTest::newRow("empty file") << qint64(0) << qint64(2048);
    QTest::newRow("one byte") << qint64(1) << qint64(2048);
    QTest::newRow("1023 bytes") << qint64(1023) << qint64(2048);
    QTest::newRow("exactly one block") << qint64(1024) << qint64(3072);
    QTest::newRow("1500 bytes") << qint64(1500) << qint64(3072);
    QTest::newRow("5 MiB") << qint64(5 << 20) << qint64((5 << 20) + 2048);
}

void TestUploadBody::bodyLength() {
    QFETCH(qint64, fileLength);
    QFETCH(qint64, bodyLength);
    QCOMPARE(uploadBodyLength(fileLength), bodyLength);
}

void TestUploadBody::headerLayout() {
    const QString name = QStringLiteral("bob;alice;1234567890"); // 20 characters
    const QByteArray block = uploadHeaderBlock(name, QStringLiteral("alice@example.org"),
                                               QStringLiteral("bob@example.org"), QString());
    QCOMPARE(block.size(), 1024);
    QCOMPARE(block.left(20), name.toUtf8());
    QCOMPARE(block.mid(20, 108), QByteArray(108, ' '));
    QCOMPARE(block.mid(128, 17), QByteArray("alice@example.org"));
    QCOMPARE(block.mid(145, 238), QByteArray(238, ' '));
    QCOMPARE(block.mid(383, 15), QByteArray("bob@example.org"));
    QCOMPARE(block.mid(398, 240), QByteArray(240, ' '));
    QCOMPARE(block.mid(638, 255), QByteArray(255, ' '));
    QCOMPARE(block.mid(893), QByteArray(131, '\0'));
}

void TestUploadBody::headerCutsLongValues_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QByteArray>("nameField");
    QTest::addColumn<QByteArray>("senderField");
    QTest::newRow("name of 128 fits")
        << QString(128, QLatin1Char('n')) << "a" << QByteArray(128, 'n')
        << QByteArray("a") + QByteArray(254, ' ');
    QTest::newRow("name of 129 is cut")
        << QString(129, QLatin1Char('n')) << "a" << QByteArray(128, 'n')
        << QByteArray("a") + QByteArray(254, ' ');
    QTest::newRow("id of 300 is cut")
        << "x" << QString(300, QLatin1Char('s')) << QByteArray("x") + QByteArray(127, ' ')
        << QByteArray(255, 's');
    // 127 ASCII bytes then a two-byte character: it does not fit and goes.
    QTest::newRow("cut before a split character")
        << QString(127, QLatin1Char('n')) + QChar(0xE9) << "a" << QByteArray(127, 'n') + ' '
        << QByteArray("a") + QByteArray(254, ' ');
    QTest::newRow("value ends at zero character")
        << QStringLiteral("bob;a") + QChar(0) + QStringLiteral("hidden") << "a"
        << QByteArray("bob;a") + QByteArray(123, ' ') << QByteArray("a") + QByteArray(254, ' ');
}

void TestUploadBody::headerCutsLongValues() {
    QFETCH(QString, name);
    QFETCH(QString, sender);
    QFETCH(QByteArray, nameField);
    QFETCH(QByteArray, senderField);
    const QByteArray block = uploadHeaderBlock(name, sender, QString(400, QLatin1Char('r')),
                                               QString(999, QLatin1Char('f')));
    QCOMPARE(block.size(), 1024);
    QCOMPARE(block.left(128), nameField);
    QCOMPARE(block.mid(128, 255), senderField);
    QCOMPARE(block.mid(383, 255), QByteArray(255, 'r'));
    QCOMPARE(block.mid(638, 255), QByteArray(255, 'f'));
    // The text always ends where the fourth field does.
    QCOMPARE(block.indexOf('\0'), 893);
    QCOMPARE(block.mid(893), QByteArray(131, '\0'));
}

void TestUploadBody::bodyMatchesFileInAnyReadSize_data() {
    QTest::addColumn<int>("fileLength");
    QTest::addColumn<int>("chunk");
    QTest::newRow("empty file, big reads") << 0 << 65536;
    QTest::newRow("1024 bytes, big reads") << 1024 << 65536;
    QTest::newRow("1500 bytes, odd reads") << 1500 << 333;
    QTest::newRow("1500 bytes, byte by byte") << 1500 << 1;
    QTest::newRow("10000 bytes, block reads") << 10000 << 1024;
}

void TestUploadBody::bodyMatchesFileInAnyReadSize() {
    QFETCH(int, fileLength);
    QFETCH(int, chunk);
    QByteArray file(fileLength, '\0');
    for (int i = 0; i < fileLength; ++i)
        file[i] = char(i * 7 + 1);
    QBuffer device(&file);
    QVERIFY(device.open(QIODevice::ReadOnly));
    const QByteArray header = uploadHeaderBlock("n", "s", "r", "");
    UploadBodySource source(device, uploadBodyLength(fileLength), header, nullptr);
    const QByteArray body = drain(source, chunk);
    QCOMPARE(body.size(), uploadBodyLength(fileLength));
    QCOMPARE(body.left(1024), header);
    QCOMPARE(body.mid(1024), expectedBlocks(file));
    QVERIFY(source.atEnd());
}

void TestUploadBody::fileChangingMidwayKeepsDeclaredLength_data() {
    QTest::addColumn<int>("declaredFor");
    QTest::addColumn<int>("actual");
    QTest::newRow("file shrank") << 5000 << 100;
    QTest::newRow("file grew") << 1500 << 9000;
}

void TestUploadBody::fileChangingMidwayKeepsDeclaredLength() {
    QFETCH(int, declaredFor);
    QFETCH(int, actual);
    QByteArray file(actual, 'q');
    QBuffer device(&file);
    QVERIFY(device.open(QIODevice::ReadOnly));
    UploadBodySource source(device, uploadBodyLength(declaredFor),
                            uploadHeaderBlock("n", "s", "r", ""), nullptr);
    const QByteArray body = drain(source, 4096);
    QCOMPARE(body.size(), uploadBodyLength(declaredFor));
    const QByteArray expected = file.left(qMin(actual, int(body.size() - 1024)));
    QCOMPARE(body.mid(1024, expected.size()), expected);
    QCOMPARE(body.mid(1024 + expected.size()),
             QByteArray(body.size() - 1024 - expected.size(), '\0'));
}

void TestUploadBody::progressCountsBlocks() {
    QByteArray file(2500, 'p');
    QBuffer device(&file);
    QVERIFY(device.open(QIODevice::ReadOnly));
    RecordingProgress progress;
    UploadBodySource source(device, uploadBodyLength(file.size()),
                            uploadHeaderBlock("n", "s", "r", ""), &progress);
    drain(source, 700);
    // One position for each file block after the header: 1, 2, 3.
    QCOMPARE(progress.positions, (QList<int>{1, 2, 3}));
}

QTEST_GUILESS_MAIN(TestUploadBody)
#include "tst_uploadbody.moc"
