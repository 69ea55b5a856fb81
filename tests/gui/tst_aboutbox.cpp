#include "app/commandline.h"
#include "platform/resources.h"
#include "service/serviceaddress.h"
#include "store/dialogs/aboutbox.h"
#include "store/dialogs/productinfo.h"
#include "store/options/aboutzeb.h"

#include <QLabel>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

// The About box and the Version page of the Options sheet show one product text.
class TestAboutBox : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void productText_data();
    void productText();
};

void TestAboutBox::productText_data() {
    QTest::addColumn<bool>("aboutBox");
    QTest::newRow("About box") << true;
    QTest::newRow("Version page") << false;
}

void TestAboutBox::productText() {
    QFETCH(bool, aboutBox);
    std::unique_ptr<QWidget> window;
    if (aboutBox) {
        window = std::make_unique<CAboutBox>();
        QCOMPARE(window->windowTitle(), u"About Clipnote"_s);
    } else {
        window = std::make_unique<CAboutZEB>();
    }
    window->show();
    QStringList shown;
    for (int i = 0; i < 3; ++i) {
        auto* line = window->findChild<QLabel*>(u"productLine%1"_s.arg(i));
        QVERIFY(line && line->isVisible());
        shown.append(line->text());
    }
    QCOMPARE(shown.first(), u"Clipnote Version "_s + clipnoteVersion());
    QVERIFY(shown.contains(QLatin1String(kServiceWebAddress)));
    QCOMPARE(shown.removeDuplicates(), 0);

    auto* icon = window->findChild<QLabel*>(u"productIcon"_s);
    QVERIFY(icon);
    const QImage expected = loadIconResource(kIconApp).convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!expected.isNull());
    QCOMPARE(icon->pixmap().toImage().convertToFormat(QImage::Format_ARGB32), expected);
}

QTEST_MAIN(TestAboutBox)
#include "tst_aboutbox.moc"
