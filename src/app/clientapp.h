#pragma once

#include "app/clientcore.h"

#include <QApplication>
#include <QFont>

#include <functional>

// The application object: starts the platform pieces, names the settings
// store, opens the HTTP session, takes the application folder and runs the
// main window until it closes.
class CClientApp : public QApplication, public ClientCore {
    Q_OBJECT

public:
    CClientApp(int& argc, char** argv);
    ~CClientApp() override;

    // Runs the program; returns once the main window has closed, or at once
    // when the HTTP client cannot be started. Always false.
    bool InitInstance();
    // Closes the HTTP session; the program's exit code.
    int ExitInstance();

    static CClientApp* app();

    // Fonts borrowed by the windows; never deleted by them.
    QFont m_fontBold14;
    QFont m_fontBold11;
    QFont m_fontThin10;
    QFont m_fontThin9;

    // Tests replace the HTTP client's start-up to see its failure path.
    static void setSocketInitForTesting(std::function<bool()> init);
};
