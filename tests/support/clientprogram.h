#pragma once

#include "xdriver.h"

#include <QProcess>
#include <QRect>
#include <QString>

#include <memory>

// The real clipnote program (CLIPNOTE_CLIENT_BIN) on the test's X display,
// with its own working folder, settings home and temporary folder under
// root, the test camera and microphone, and the given service. Ended when
// destroyed.
class ClientProgram {
public:
    ClientProgram(QString root, QString userId, QString serviceUrl);
    ~ClientProgram();
    ClientProgram(const ClientProgram&) = delete;
    ClientProgram& operator=(const ClientProgram&) = delete;

    // Where the program's messages live: <working folder>/<user ID>.
    QString userFolder() const;
    // The program's private working folder under its TMPDIR, which holds
    // the recording in progress.
    QString tempFolder() const;
    // The program's settings file, which it reads again at each use.
    QString settingsFile() const;

    // Starts with the user ID remembered from a last run and the main window
    // at the given place, types the password into the sign-in dialog and
    // presses Enter. False with errorString() when the main window never
    // shows the signed-in title.
    bool startAndSignIn(const QString& password, const QRect& placement);
    xdriver::WindowId mainWindow() const { return m_mainWindow; }
    // The title of the signed-in main window, as a pattern for findWindow.
    QString mainWindowTitle() const;
    QString errorString() const { return m_error; }

private:
    QString m_root;
    QString m_userId;
    QString m_service;
    std::unique_ptr<QProcess> m_process;
    xdriver::WindowId m_mainWindow = 0;
    QString m_error;
};
