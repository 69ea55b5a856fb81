#include "store/listorder.h"

#include <QDateTime>
#include <QTest>

// Row orders of the folder lists.
class TestListOrder : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void insertPosition_data();
    void insertPosition();
    void inboxOrder_data();
    void inboxOrder();
    void sortModeToggles();
};

void TestListOrder::insertPosition_data() {
    QTest::addColumn<QStringList>("sorted");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("position");
    QTest::newRow("empty list") << QStringList{} << "bob" << 0;
    QTest::newRow("letter case ignored") << QStringList{"alice", "Carol"} << "Bob" << 1;
    QTest::newRow("before an equal text") << QStringList{"alice", "bob"} << "bob" << 1;
    QTest::newRow("at the end") << QStringList{"alice", "bob"} << "zed" << 2;
    QTest::newRow("capital first among equals ignoring case")
        << QStringList{"Bob", "bob"} << "BOB" << 0;
}

void TestListOrder::insertPosition() {
    QFETCH(QStringList, sorted);
    QFETCH(QString, text);
    QFETCH(int, position);
    QCOMPARE(int(listInsertPosition(sorted, text)), position);
}

void TestListOrder::inboxOrder_data() {
    // Keys as "text@minutes" ("text" alone: status unreadable); the result as
    // the texts in their new order.
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("order");
    QTest::newRow("newest first") << QStringList{"a@1", "b@3", "c@2"} << 0
                                  << QStringList{"b", "c", "a"};
    QTest::newRow("equal dates keep their order")
        << QStringList{"a@5", "b@5", "c@9", "d@5"} << 0 << QStringList{"c", "a", "b", "d"};
    QTest::newRow("unreadable after the dated ones, in their order")
        << QStringList{"x", "a@1", "y", "b@2"} << 0 << QStringList{"b", "a", "x", "y"};
    QTest::newRow("names Z to A, letter case ignored")
        << QStringList{"alice@1", "Carl@2", "bob@3"} << 1 << QStringList{"Carl", "bob", "alice"};
    QTest::newRow("names ignore dates and unreadable status")
        << QStringList{"b", "a@9", "c@1"} << 1 << QStringList{"c", "b", "a"};
    QTest::newRow("no rows") << QStringList{} << 0 << QStringList{};
}

void TestListOrder::inboxOrder() {
    QFETCH(QStringList, keys);
    QFETCH(int, mode);
    QFETCH(QStringList, order);
    const QDateTime base(QDate(2008, 12, 7), QTime(12, 0));
    QList<InboxSortKey> sortKeys;
    for (const QString& key : keys) {
        InboxSortKey k{key.section(QLatin1Char('@'), 0, 0), std::nullopt};
        if (key.contains(QLatin1Char('@')))
            k.date =
                base.addSecs(60 * key.section(QLatin1Char('@'), 1).toInt()).toMSecsSinceEpoch();
        sortKeys.append(k);
    }
    QStringList result;
    for (int index : ::inboxOrder(sortKeys, mode))
        result.append(sortKeys.at(index).text);
    QCOMPARE(result, order);
}

void TestListOrder::sortModeToggles() {
    QCOMPARE(nextInboxSortMode(kSortByDate), int(kSortByName));
    QCOMPARE(nextInboxSortMode(kSortByName), int(kSortByDate));
}

QTEST_GUILESS_MAIN(TestListOrder)
#include "tst_listorder.moc"
