#pragma once

#include "recorder/devicechoice.h"
#include "store/options/optionspage.h"

#include <QByteArray>
#include <QTimer>

#include <memory>

class CCaptureWindow;
class QComboBox;
class QLabel;
class QMediaDevices;
class QProgressBar;
class SoundSource;

// The Devices page: the camera and the microphone the next recordings take
// ("camera", "microphone": a device ID, empty for the default device). While
// the page is shown it previews the camera and shows the microphone's level,
// so the user sees and hears what a recording would take. The lists follow
// devices being plugged in and out. A chosen device that is not there stays
// in its list, marked as not connected, so visiting the page never forgets
// it.
class CDevicesOpts : public COptionsPage {
    Q_OBJECT

public:
    explicit CDevicesOpts(QWidget* parent = nullptr);
    ~CDevicesOpts() override;

    void OnOK() override;

    // Whether the preview and the level meter are running.
    bool isLive() const { return m_live; }

protected:
    void OnInitDialog() override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QComboBox* list(DeviceKind kind) const;
    DeviceChoice selected(DeviceKind kind) const;
    bool selectedConnected(DeviceKind kind) const;
    void fillList(DeviceKind kind, const DeviceChoice& keep);
    void devicesChanged(DeviceKind kind);
    void restart(DeviceKind kind);
    void startPreview();
    void stopPreview();
    void startMeter();
    void stopMeter();
    void readLevel();

    QComboBox* m_cameras;
    QComboBox* m_microphones;
    CCaptureWindow* m_preview;
    QLabel* m_cameraNote;
    QProgressBar* m_level;
    QLabel* m_microphoneNote;
    QMediaDevices* m_devices;
    QTimer m_grabTimer;
    std::unique_ptr<SoundSource> m_sound;
    QByteArray m_partialSound; // a sample frame split between two reads
    bool m_live = false;
};
