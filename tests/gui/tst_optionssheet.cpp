#include "app/clientcore.h"
#include "modal.h"
#include "platform/profile.h"
#include "service/dialogs/changepw.h"
#include "store/options/optionspage.h"
#include "store/options/optionssheet.h"
#include "store/options/securityopts.h"
#include "testenvironment.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
constexpr int kMissing = -1;
const QStringList kValues{QLatin1String(kSettingAllowAll), QLatin1String(kSettingSaveSent),
                          QLatin1String(kSettingNotifyPopup)};
} // namespace

class TestOptionsSheet : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void pagesInOrder();
    void firstRunDefaults();
    void storedValuesShown_data();
    void storedValuesShown();
    void okWritesOnlyShownPages_data();
    void okWritesOnlyShownPages();
    void cancelWritesNothing();
    void changeOpensChangePassword();

private:
    int stored(const QString& entry) const {
        return m_core->GetProfileInt(QLatin1String(kSettingsSection), entry, kMissing);
    }
    void store(const QString& entry, int value) {
        m_core->WriteProfileInt(QLatin1String(kSettingsSection), entry, value);
    }
    // Shows the sheet and each listed page in turn, as the user would by
    // clicking its tab.
    static void visit(COptionsSheet& sheet, const QList<int>& pages);
    template <typename T> static T* control(COptionsSheet& sheet, const QString& name) {
        T* found = sheet.findChild<T*>(name);
        if (!found)
            qFatal("no control %s", qPrintable(name));
        return found;
    }

    TestEnvironment m_env;
    ClientCore* m_core = nullptr;
};

void TestOptionsSheet::initTestCase() {
    m_core = new ClientCore;
    m_core->SetRegistryKey(u"ZEB"_s);
}

void TestOptionsSheet::init() {
    QDir(m_env.configHome()).removeRecursively();
    for (const QString& entry : kValues)
        QCOMPARE(stored(entry), kMissing);
}

void TestOptionsSheet::visit(COptionsSheet& sheet, const QList<int>& pages) {
    sheet.show();
    QTabBar* tabs = sheet.tabWidget()->tabBar();
    for (int page : pages)
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(page).center());
}

void TestOptionsSheet::pagesInOrder() {
    COptionsSheet sheet;
    QCOMPARE(sheet.windowTitle(), u"Settings"_s);
    QTabWidget* tabs = sheet.tabWidget();
    QCOMPARE(tabs->count(), 5);
    const QStringList titles{u"Version"_s, u"Security"_s, u"Sending"_s, u"Receiving"_s,
                             u"Devices"_s};
    for (int i = 0; i < 5; ++i)
        QCOMPARE(tabs->tabText(i), titles[i]);
    sheet.show();
    QCOMPARE(tabs->currentIndex(), 0);
    QVERIFY(sheet.page(0)->initialised());
    for (int i = 1; i < 5; ++i)
        QVERIFY(!sheet.page(i)->initialised());
    // OK, Cancel and a disabled Apply, left to right.
    const auto* ok = control<QPushButton>(sheet, u"ok"_s);
    const auto* cancel = control<QPushButton>(sheet, u"cancel"_s);
    const auto* apply = control<QPushButton>(sheet, u"apply"_s);
    QCOMPARE(apply->text(), u"&Apply"_s);
    QVERIFY(apply->isVisible());
    QVERIFY(!apply->isEnabled());
    QVERIFY(ok->isDefault());
    QVERIFY(ok->geometry().right() < cancel->geometry().left());
    QVERIFY(cancel->geometry().right() < apply->geometry().left());
}

void TestOptionsSheet::firstRunDefaults() {
    COptionsSheet sheet;
    visit(sheet, {1, 2, 3});
    auto* password = control<QLineEdit>(sheet, u"password"_s);
    QCOMPARE(password->text().size(), 16);
    QCOMPARE(password->text(), QLatin1String(CSecurityOpts::kPlaceholder));
    QCOMPARE(password->echoMode(), QLineEdit::Password);
    QVERIFY(password->isReadOnly());
    QVERIFY(control<QRadioButton>(sheet, u"allowAnyone"_s)->isChecked());
    QVERIFY(!control<QRadioButton>(sheet, u"allowContacts"_s)->isChecked());
    QVERIFY(control<QCheckBox>(sheet, u"saveSent"_s)->isChecked());
    QVERIFY(control<QCheckBox>(sheet, u"notifyPopup"_s)->isChecked());
    QCOMPARE(control<QRadioButton>(sheet, u"allowContacts"_s)->text(),
             u"Allow messages only from my contacts"_s);
    QCOMPARE(control<QCheckBox>(sheet, u"saveSent"_s)->text(), u"Save a copy in my SENT folder."_s);
    QCOMPARE(control<QCheckBox>(sheet, u"notifyPopup"_s)->text(), u"Popup notification window"_s);
}

void TestOptionsSheet::storedValuesShown_data() {
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("checked");
    QTest::newRow("all off") << 0 << false;
    QTest::newRow("all on") << 1 << true;
    QTest::newRow("out of range reads as the default") << 7 << true;
}

void TestOptionsSheet::storedValuesShown() {
    QFETCH(int, value);
    QFETCH(bool, checked);
    for (const QString& entry : kValues)
        store(entry, value);
    COptionsSheet sheet;
    visit(sheet, {1, 2, 3});
    QCOMPARE(control<QRadioButton>(sheet, u"allowAnyone"_s)->isChecked(), checked);
    QCOMPARE(control<QRadioButton>(sheet, u"allowContacts"_s)->isChecked(), !checked);
    QCOMPARE(control<QCheckBox>(sheet, u"saveSent"_s)->isChecked(), checked);
    QCOMPARE(control<QCheckBox>(sheet, u"notifyPopup"_s)->isChecked(), checked);
}

void TestOptionsSheet::okWritesOnlyShownPages_data() {
    QTest::addColumn<QList<int>>("visited");
    QTest::addColumn<bool>("toggle");
    QTest::addColumn<QList<int>>("expected"); // AllowALL, SaveSent, NotifyPopup
    const int m = kMissing;
    QTest::newRow("none visited") << QList<int>{} << false << QList<int>{m, m, m};
    QTest::newRow("contacts only") << QList<int>{1} << true << QList<int>{0, m, m};
    QTest::newRow("no Sent copy") << QList<int>{2} << true << QList<int>{m, 0, m};
    QTest::newRow("no popup") << QList<int>{3} << true << QList<int>{m, m, 0};
    QTest::newRow("all visited, unchanged") << QList<int>{1, 2, 3} << false << QList<int>{1, 1, 1};
    QTest::newRow("visited and back to Version") << QList<int>{3, 0} << true << QList<int>{m, m, 0};
}

void TestOptionsSheet::okWritesOnlyShownPages() {
    QFETCH(QList<int>, visited);
    QFETCH(bool, toggle);
    QFETCH(QList<int>, expected);
    COptionsSheet sheet;
    visit(sheet, visited);
    if (toggle) {
        for (int page : visited) {
            sheet.tabWidget()->setCurrentIndex(page);
            if (page == 1)
                QTest::mouseClick(control<QRadioButton>(sheet, u"allowContacts"_s), Qt::LeftButton);
            else if (page == 2)
                QTest::mouseClick(control<QCheckBox>(sheet, u"saveSent"_s), Qt::LeftButton);
            else if (page == 3)
                QTest::mouseClick(control<QCheckBox>(sheet, u"notifyPopup"_s), Qt::LeftButton);
        }
    }
    // Changing a value does not enable Apply, and pressing it does nothing.
    auto* apply = control<QPushButton>(sheet, u"apply"_s);
    QVERIFY(!apply->isEnabled());
    QTest::mouseClick(apply, Qt::LeftButton);
    QVERIFY(sheet.isVisible());
    for (const QString& entry : kValues)
        QCOMPARE(stored(entry), kMissing);
    QTest::mouseClick(control<QPushButton>(sheet, u"ok"_s), Qt::LeftButton);
    QCOMPARE(sheet.result(), int(QDialog::Accepted));
    QVERIFY(!sheet.isVisible());
    for (int i = 0; i < kValues.size(); ++i)
        QCOMPARE(stored(kValues[i]), expected[i]);
}

void TestOptionsSheet::cancelWritesNothing() {
    store(kValues[0], 1);
    COptionsSheet sheet;
    visit(sheet, {1, 2, 3});
    sheet.tabWidget()->setCurrentIndex(1);
    QTest::mouseClick(control<QRadioButton>(sheet, u"allowContacts"_s), Qt::LeftButton);
    sheet.tabWidget()->setCurrentIndex(2);
    QTest::mouseClick(control<QCheckBox>(sheet, u"saveSent"_s), Qt::LeftButton);
    QTest::mouseClick(control<QPushButton>(sheet, u"cancel"_s), Qt::LeftButton);
    QCOMPARE(sheet.result(), int(QDialog::Rejected));
    QCOMPARE(stored(kValues[0]), 1);
    QCOMPARE(stored(kValues[1]), kMissing);
    QCOMPARE(stored(kValues[2]), kMissing);
}

void TestOptionsSheet::changeOpensChangePassword() {
    store(kValues[0], 0);
    COptionsSheet sheet;
    visit(sheet, {1});
    QWidget* openedOver = nullptr;
    bool hadEntries = false;
    whenModal<CChangePW>([&](CChangePW* dialog) {
        openedOver = dialog->parentWidget() ? dialog->parentWidget()->window() : nullptr;
        hadEntries = dialog->findChild<QLineEdit*>(u"newPassword"_s) != nullptr;
        dialog->reject();
    });
    auto* change = control<QPushButton>(sheet, u"change"_s);
    QCOMPARE(change->text(), u"&Change"_s);
    QTest::mouseClick(change, Qt::LeftButton);
    QCOMPARE(openedOver, &sheet);
    QVERIFY(hadEntries);
    // Back on the Security page with nothing else changed.
    QVERIFY(sheet.isVisible());
    QCOMPARE(sheet.tabWidget()->currentIndex(), 1);
    QVERIFY(control<QRadioButton>(sheet, u"allowContacts"_s)->isChecked());
    QCOMPARE(stored(kValues[0]), 0);
    QCOMPARE(stored(kValues[1]), kMissing);
}

QTEST_MAIN(TestOptionsSheet)
#include "tst_optionssheet.moc"
