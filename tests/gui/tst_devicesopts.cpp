#include "app/clientcore.h"
#include "platform/profile.h"
#include "recorder/capturewindow.h"
#include "recorder/devicechoice.h"
#include "store/options/devicesopts.h"
#include "store/options/optionssheet.h"
#include "testenvironment.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMediaDevices>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
constexpr int kDevicesPage = 4;
const QString kMissing = u"<missing>"_s;
} // namespace

// The Devices page with the test pattern and the test tone standing in for
// a camera and a microphone, and made-up devices being plugged in and out.
class TestDevicesOpts : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void listsHoldTheTestDevices();
    void okKeepsTheChoice_data();
    void okKeepsTheChoice();
    void storedChoiceReselected_data();
    void storedChoiceReselected();
    void listsFollowPlugging();
    void previewAndMeterRunOnlyWhileShown();
    void screenshot();

private:
    QString stored(const char* entry) const {
        return m_core->GetProfileString(QLatin1String(kSettingsSection), QLatin1String(entry),
                                        kMissing);
    }
    void store(const char* entry, const QString& value) {
        m_core->WriteProfileString(QLatin1String(kSettingsSection), QLatin1String(entry), value);
    }
    // Shows the sheet on the Devices page, as the user would by clicking its tab.
    static void showDevices(COptionsSheet& sheet);
    template <typename T> static T* control(COptionsSheet& sheet, const QString& name) {
        T* found = sheet.findChild<T*>(name);
        if (!found)
            qFatal("no control %s", qPrintable(name));
        return found;
    }
    static QStringList entries(QComboBox* list) {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts.append(list->itemText(i));
        return texts;
    }

    TestEnvironment m_env;
    ClientCore* m_core = nullptr;
    QList<InputDevice> m_cameras; // the made-up machine's, once a lister is set
};

void TestDevicesOpts::initTestCase() {
    QCOMPARE(qgetenv("CLIPNOTE_CAMERA"), "test");
    QCOMPARE(qgetenv("CLIPNOTE_MICROPHONE"), "test");
    m_core = new ClientCore;
    m_core->SetRegistryKey(u"ZEB"_s);
}

void TestDevicesOpts::init() {
    QDir(m_env.configHome()).removeRecursively();
    // Only the test devices, whatever this machine has.
    m_cameras.clear();
    setDeviceLister([this](DeviceKind kind) {
        return kind == DeviceKind::Camera ? m_cameras : QList<InputDevice>{};
    });
}

void TestDevicesOpts::cleanup() {
    setDeviceLister({});
}

void TestDevicesOpts::showDevices(COptionsSheet& sheet) {
    sheet.show();
    QTabBar* tabs = sheet.tabWidget()->tabBar();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(kDevicesPage).center());
    QCOMPARE(sheet.tabWidget()->currentIndex(), kDevicesPage);
}

void TestDevicesOpts::listsHoldTheTestDevices() {
    COptionsSheet sheet;
    QCOMPARE(sheet.tabWidget()->tabText(kDevicesPage), u"Devices"_s);
    showDevices(sheet);
    auto* cameras = control<QComboBox>(sheet, u"camera"_s);
    auto* microphones = control<QComboBox>(sheet, u"microphone"_s);
    QCOMPARE(entries(cameras), (QStringList{u"Default (Test pattern)"_s, u"Test pattern"_s}));
    QCOMPARE(entries(microphones), (QStringList{u"Default (Test tone)"_s, u"Test tone"_s}));
    // Nothing stored: the default device.
    QCOMPARE(cameras->currentIndex(), 0);
    QCOMPARE(microphones->currentIndex(), 0);
}

void TestDevicesOpts::okKeepsTheChoice_data() {
    QTest::addColumn<QString>("before"); // both IDs, as stored before
    QTest::addColumn<int>("row");        // chosen in both lists
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("after"); // camera, its name, microphone, its name
    QTest::newRow("test devices on OK")
        << kMissing << 1 << true
        << QStringList{QLatin1String(kTestPatternId), u"Test pattern"_s, QLatin1String(kTestToneId),
                       u"Test tone"_s};
    QTest::newRow("default on OK is empty")
        << u"gone"_s << 0 << true << QStringList{QString(), QString(), QString(), QString()};
    QTest::newRow("nothing on Cancel")
        << kMissing << 1 << false << QStringList{kMissing, kMissing, kMissing, kMissing};
    QTest::newRow("the old choice on Cancel")
        << u"gone"_s << 1 << false << QStringList{u"gone"_s, kMissing, u"gone"_s, kMissing};
}

void TestDevicesOpts::okKeepsTheChoice() {
    QFETCH(QString, before);
    QFETCH(int, row);
    QFETCH(bool, ok);
    QFETCH(QStringList, after);
    if (before != kMissing) {
        store(kSettingCamera, before);
        store(kSettingMicrophone, before);
    }
    COptionsSheet sheet;
    showDevices(sheet);
    control<QComboBox>(sheet, u"camera"_s)->setCurrentIndex(row);
    control<QComboBox>(sheet, u"microphone"_s)->setCurrentIndex(row);
    // Nothing is written before the sheet closes.
    QCOMPARE(stored(kSettingCamera), before);
    QTest::mouseClick(control<QPushButton>(sheet, ok ? u"ok"_s : u"cancel"_s), Qt::LeftButton);
    QVERIFY(!sheet.isVisible());
    const QStringList now{stored(kSettingCamera), stored(kSettingCameraName),
                          stored(kSettingMicrophone), stored(kSettingMicrophoneName)};
    QCOMPARE(now, after);
}

void TestDevicesOpts::storedChoiceReselected_data() {
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("note");
    QTest::newRow("test pattern") << QString(QLatin1String(kTestPatternId)) << u"Test pattern"_s
                                  << u"Test pattern"_s << QString();
    QTest::newRow("default") << QString() << QString() << u"Default (Test pattern)"_s << QString();
    QTest::newRow("unplugged") << u"/dev/video7"_s << u"Desk Cam"_s << u"Desk Cam (not connected)"_s
                               << u"The camera \u201CDesk Cam\u201D is not connected."_s;
    QTest::newRow("unplugged, no name kept")
        << u"/dev/video7"_s << QString() << u"/dev/video7 (not connected)"_s
        << u"The camera \u201C/dev/video7\u201D is not connected."_s;
}

void TestDevicesOpts::storedChoiceReselected() {
    QFETCH(QString, id);
    QFETCH(QString, name);
    QFETCH(QString, shown);
    QFETCH(QString, note);
    store(kSettingCamera, id);
    store(kSettingCameraName, name);
    {
        COptionsSheet sheet;
        showDevices(sheet);
        auto* cameras = control<QComboBox>(sheet, u"camera"_s);
        QCOMPARE(cameras->currentText(), shown);
        QCOMPARE(control<QLabel>(sheet, u"cameraNote"_s)->text(), note);
        QCOMPARE(control<CCaptureWindow>(sheet, u"cameraPreview"_s)->isConnected(), note.isEmpty());
        // OK without a change keeps the choice, even of a device not there.
        QTest::mouseClick(control<QPushButton>(sheet, u"ok"_s), Qt::LeftButton);
    }
    QCOMPARE(stored(kSettingCamera), id);
    QCOMPARE(stored(kSettingCameraName), name);
    COptionsSheet reopened;
    showDevices(reopened);
    QCOMPARE(control<QComboBox>(reopened, u"camera"_s)->currentText(), shown);
}

void TestDevicesOpts::listsFollowPlugging() {
    const InputDevice desk{u"/dev/video0"_s, u"Desk Cam"_s, true};
    const InputDevice usb{u"/dev/video2"_s, u"USB Cam"_s, false};
    m_cameras = {desk, usb};
    COptionsSheet sheet;
    showDevices(sheet);
    auto* cameras = control<QComboBox>(sheet, u"camera"_s);
    auto* devices = sheet.findChild<CDevicesOpts*>()->findChild<QMediaDevices*>();
    QVERIFY(devices);
    QCOMPARE(entries(cameras), (QStringList{u"Default (Test pattern)"_s, u"Test pattern"_s,
                                            u"Desk Cam"_s, u"USB Cam"_s}));
    cameras->setCurrentIndex(3);

    // Another camera comes: the choice stays.
    m_cameras = {desk, usb, {u"/dev/video4"_s, u"Room Cam"_s, false}};
    Q_EMIT devices->videoInputsChanged();
    QCOMPARE(cameras->count(), 5);
    QCOMPARE(cameras->currentText(), u"USB Cam"_s);
    // The chosen one goes: it stays chosen, marked.
    m_cameras = {desk};
    Q_EMIT devices->videoInputsChanged();
    QCOMPARE(entries(cameras), (QStringList{u"Default (Test pattern)"_s, u"Test pattern"_s,
                                            u"Desk Cam"_s, u"USB Cam (not connected)"_s}));
    QCOMPARE(cameras->currentIndex(), 3);
    QCOMPARE(control<QLabel>(sheet, u"cameraNote"_s)->text(),
             u"The camera \u201CUSB Cam\u201D is not connected."_s);
    // And it comes back, still chosen.
    m_cameras = {usb, desk};
    Q_EMIT devices->videoInputsChanged();
    QCOMPARE(cameras->currentText(), u"USB Cam"_s);
    QCOMPARE(cameras->count(), 4);
    QTest::mouseClick(control<QPushButton>(sheet, u"ok"_s), Qt::LeftButton);
    QCOMPARE(stored(kSettingCamera), usb.id);
    QCOMPARE(stored(kSettingCameraName), usb.description);
}

void TestDevicesOpts::previewAndMeterRunOnlyWhileShown() {
    // Listed, but no camera this machine can open.
    m_cameras = {{u"/dev/video5"_s, u"Shelf Cam"_s, false}};
    COptionsSheet sheet;
    sheet.show();
    auto* page = sheet.findChild<CDevicesOpts*>();
    auto* preview = control<CCaptureWindow>(sheet, u"cameraPreview"_s);
    auto* level = control<QProgressBar>(sheet, u"microphoneLevel"_s);
    // Nothing runs on a page not shown.
    QVERIFY(!page->isLive());
    QVERIFY(!preview->isConnected());
    for (int round = 0; round < 2; ++round) {
        showDevices(sheet);
        QVERIFY(page->isLive());
        QTRY_VERIFY(preview->hasPicture());
        // The tone runs at half of full scale.
        QTRY_VERIFY(level->value() >= 45);
        QVERIFY(level->value() <= 55);
        sheet.tabWidget()->setCurrentIndex(0);
        QVERIFY(!page->isLive());
        QVERIFY(!preview->isConnected());
        QCOMPARE(level->value(), 0);
    }
    // Choosing another camera restarts the preview with it.
    showDevices(sheet);
    auto* cameras = control<QComboBox>(sheet, u"camera"_s);
    auto* note = control<QLabel>(sheet, u"cameraNote"_s);
    cameras->setCurrentIndex(2);
    QVERIFY(!preview->isConnected());
    QVERIFY(note->text().startsWith(u"The camera cannot be opened"_s));
    cameras->setCurrentIndex(1);
    QVERIFY(preview->isConnected());
    QCOMPARE(note->text(), QString());
    sheet.reject();
    QVERIFY(!page->isLive());
    QVERIFY(!preview->isConnected());
}

void TestDevicesOpts::screenshot() {
    COptionsSheet sheet;
    showDevices(sheet);
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    QTRY_VERIFY(control<CCaptureWindow>(sheet, u"cameraPreview"_s)->hasPicture());
    QTRY_VERIFY(control<QProgressBar>(sheet, u"microphoneLevel"_s)->value() >= 45);
    const QImage shot = sheet.grab().toImage();
    const QString path = QDir(QCoreApplication::applicationDirPath())
                             .filePath("devices-" + QGuiApplication::platformName() + ".png");
    QVERIFY(shot.save(path));
    // The test pattern's bars fill the preview with many colours.
    auto* preview = control<CCaptureWindow>(sheet, u"cameraPreview"_s);
    const QRect area(preview->mapTo(&sheet, QPoint(0, 0)), preview->size());
    const QImage shown = shot.copy(
        QRect(area.topLeft() * shot.devicePixelRatio(), area.size() * shot.devicePixelRatio()));
    QSet<QRgb> colours;
    for (int y = 0; y < shown.height(); y += 8)
        for (int x = 0; x < shown.width(); x += 8)
            colours.insert(shown.pixel(x, y));
    QVERIFY(colours.size() > 5);
}

QTEST_MAIN(TestDevicesOpts)
#include "tst_devicesopts.moc"
