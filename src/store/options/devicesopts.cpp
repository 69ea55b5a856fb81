#include "store/options/devicesopts.h"

#include "recorder/capturewindow.h"
#include "recorder/soundsource.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QIODevice>
#include <QLabel>
#include <QMediaDevices>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {
constexpr int kIdRole = Qt::UserRole;
constexpr int kNameRole = Qt::UserRole + 1;
constexpr int kConnectedRole = Qt::UserRole + 2;
// About the camera's own pace, and the recording's.
constexpr int kPreviewPeriodMs = 50;
// How far the meter falls back with each read, in percent: a short sound
// stays long enough to be seen.
constexpr int kMeterFall = 6;
} // namespace

CDevicesOpts::CDevicesOpts(QWidget* parent) : COptionsPage(QStringLiteral("Devices"), parent) {
    m_cameras = new QComboBox(this);
    m_cameras->setObjectName(QStringLiteral("camera"));
    m_microphones = new QComboBox(this);
    m_microphones->setObjectName(QStringLiteral("microphone"));
    m_preview = new CCaptureWindow(this);
    m_preview->setObjectName(QStringLiteral("cameraPreview"));
    m_preview->setFixedSize(CCaptureWindow::placement().size());
    m_preview->show();
    m_cameraNote = new QLabel(this);
    m_cameraNote->setObjectName(QStringLiteral("cameraNote"));
    m_level = new QProgressBar(this);
    m_level->setObjectName(QStringLiteral("microphoneLevel"));
    m_level->setRange(0, 100);
    m_level->setValue(0);
    m_level->setTextVisible(false);
    m_microphoneNote = new QLabel(this);
    m_microphoneNote->setObjectName(QStringLiteral("microphoneNote"));

    auto* cameraLabel = new QLabel(QStringLiteral("&Camera:"), this);
    cameraLabel->setBuddy(m_cameras);
    auto* microphoneLabel = new QLabel(QStringLiteral("&Microphone:"), this);
    microphoneLabel->setBuddy(m_microphones);
    auto* previewRow = new QHBoxLayout;
    previewRow->addWidget(m_preview);
    previewRow->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(cameraLabel);
    layout->addWidget(m_cameras);
    layout->addLayout(previewRow);
    layout->addWidget(m_cameraNote);
    layout->addSpacing(8);
    layout->addWidget(microphoneLabel);
    layout->addWidget(m_microphones);
    auto* levelRow = new QHBoxLayout;
    levelRow->addWidget(new QLabel(QStringLiteral("Level:"), this));
    levelRow->addWidget(m_level, 1);
    layout->addLayout(levelRow);
    layout->addWidget(m_microphoneNote);
    layout->addStretch();

    m_grabTimer.setInterval(kPreviewPeriodMs);
    connect(&m_grabTimer, &QTimer::timeout, m_preview, [this] { m_preview->grabFrame(); });
    connect(m_cameras, &QComboBox::currentIndexChanged, this,
            [this] { restart(DeviceKind::Camera); });
    connect(m_microphones, &QComboBox::currentIndexChanged, this,
            [this] { restart(DeviceKind::Microphone); });

    m_devices = new QMediaDevices(this);
    connect(m_devices, &QMediaDevices::videoInputsChanged, this,
            [this] { devicesChanged(DeviceKind::Camera); });
    connect(m_devices, &QMediaDevices::audioInputsChanged, this,
            [this] { devicesChanged(DeviceKind::Microphone); });
}

CDevicesOpts::~CDevicesOpts() {
    stopPreview();
    stopMeter();
}

QComboBox* CDevicesOpts::list(DeviceKind kind) const {
    return kind == DeviceKind::Camera ? m_cameras : m_microphones;
}

DeviceChoice CDevicesOpts::selected(DeviceKind kind) const {
    const QComboBox* box = list(kind);
    return DeviceChoice{box->currentData(kIdRole).toString(),
                        box->currentData(kNameRole).toString()};
}

bool CDevicesOpts::selectedConnected(DeviceKind kind) const {
    return list(kind)->currentData(kConnectedRole).toBool();
}

void CDevicesOpts::fillList(DeviceKind kind, const DeviceChoice& keep) {
    QComboBox* box = list(kind);
    // Refilling is no choice of the user's: the live view restarts once,
    // after, if at all.
    const QSignalBlocker blocker(box);
    box->clear();
    const auto addEntry = [box](const QString& text, const QString& id, const QString& name,
                                bool connected) {
        box->addItem(text);
        const int row = box->count() - 1;
        box->setItemData(row, id, kIdRole);
        box->setItemData(row, name, kNameRole);
        box->setItemData(row, connected, kConnectedRole);
    };
    const std::optional<InputDevice> fallback = defaultInputDevice(kind);
    addEntry(fallback ? QStringLiteral("Default (%1)").arg(fallback->description)
                      : QStringLiteral("Default (none connected)"),
             QString(), QString(), fallback.has_value());
    int chosen = keep.id.isEmpty() ? 0 : -1;
    for (const InputDevice& device : inputDevices(kind)) {
        if (device.id == keep.id)
            chosen = box->count();
        addEntry(device.description, device.id, device.description, true);
    }
    if (chosen < 0) {
        chosen = box->count();
        addEntry(QStringLiteral("%1 (not connected)").arg(keep.shownName()), keep.id, keep.name,
                 false);
    }
    box->setCurrentIndex(chosen);
}

void CDevicesOpts::OnInitDialog() {
    fillList(DeviceKind::Camera, readDeviceChoice(DeviceKind::Camera));
    fillList(DeviceKind::Microphone, readDeviceChoice(DeviceKind::Microphone));
}

void CDevicesOpts::OnOK() {
    // Like the other pages, a value that cannot be written is passed over.
    writeDeviceChoice(DeviceKind::Camera, selected(DeviceKind::Camera));
    writeDeviceChoice(DeviceKind::Microphone, selected(DeviceKind::Microphone));
}

void CDevicesOpts::showEvent(QShowEvent* event) {
    COptionsPage::showEvent(event);
    if (m_live)
        return;
    m_live = true;
    startPreview();
    startMeter();
}

void CDevicesOpts::hideEvent(QHideEvent* event) {
    COptionsPage::hideEvent(event);
    m_live = false;
    stopPreview();
    stopMeter();
}

void CDevicesOpts::devicesChanged(DeviceKind kind) {
    if (!initialised())
        return;
    fillList(kind, selected(kind));
    restart(kind);
}

void CDevicesOpts::restart(DeviceKind kind) {
    if (!m_live)
        return;
    if (kind == DeviceKind::Camera) {
        stopPreview();
        startPreview();
    } else {
        stopMeter();
        startMeter();
    }
}

void CDevicesOpts::startPreview() {
    const DeviceChoice choice = selected(DeviceKind::Camera);
    if (!selectedConnected(DeviceKind::Camera)) {
        m_cameraNote->setText(choice.id.isEmpty()
                                  ? QStringLiteral("No camera is connected.")
                                  : QStringLiteral("The camera \u201C%1\u201D is not connected.")
                                        .arg(choice.shownName()));
        return;
    }
    if (!m_preview->connectDevice(choice.id)) {
        m_cameraNote->setText(QStringLiteral("The camera cannot be opened: it may be in use by "
                                             "another program."));
        return;
    }
    m_cameraNote->clear();
    m_grabTimer.start();
}

void CDevicesOpts::stopPreview() {
    m_grabTimer.stop();
    m_preview->disconnectDriver();
}

void CDevicesOpts::startMeter() {
    const DeviceChoice choice = selected(DeviceKind::Microphone);
    if (!selectedConnected(DeviceKind::Microphone)) {
        m_microphoneNote->setText(
            choice.id.isEmpty() ? QStringLiteral("No microphone is connected.")
                                : QStringLiteral("The microphone \u201C%1\u201D is not connected.")
                                      .arg(choice.shownName()));
        return;
    }
    std::unique_ptr<SoundSource> sound = SoundSource::create(choice.id);
    std::optional<SoundSource::Failure> failure = sound->open();
    if (!failure)
        failure = sound->start();
    if (failure) {
        sound->stop();
        m_microphoneNote->setText(
            QStringLiteral("The microphone cannot be opened: %1").arg(failure->text));
        return;
    }
    m_sound = std::move(sound);
    m_microphoneNote->clear();
    connect(m_sound->device(), &QIODevice::readyRead, this, &CDevicesOpts::readLevel);
}

void CDevicesOpts::stopMeter() {
    if (m_sound) {
        if (QIODevice* device = m_sound->device())
            disconnect(device, nullptr, this, nullptr);
        m_sound->stop();
        m_sound.reset();
    }
    m_partialSound.clear();
    m_level->setValue(0);
}

void CDevicesOpts::readLevel() {
    QIODevice* device = m_sound ? m_sound->device() : nullptr;
    if (!device)
        return;
    m_partialSound.append(device->readAll());
    const int frameBytes = std::max(1, m_sound->format().bytesPerFrame());
    const qint64 whole = m_partialSound.size() / frameBytes * frameBytes;
    if (whole == 0)
        return;
    const float peak = SoundSource::peakLevel(m_sound->format(), m_partialSound.constData(), whole);
    m_partialSound.remove(0, whole);
    m_level->setValue(std::max(qRound(peak * 100), m_level->value() - kMeterFall));
}
