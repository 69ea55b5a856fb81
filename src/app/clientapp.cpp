#include "app/clientapp.h"

#include "app/appfonts.h"
#include "app/commandline.h"

#include "mainwnd/maindialog.h"
#include "platform/messagebox.h"
#include "service/httpshared.h"

#include <QDir>

namespace {
std::function<bool()>& socketInit() {
    static std::function<bool()> init = [] { return http::initialise(); };
    return init;
}
} // namespace

CClientApp::CClientApp(int& argc, char** argv)
    : QApplication(argc, argv), m_fontBold14(appFonts().bold14), m_fontBold11(appFonts().bold11),
      m_fontThin10(appFonts().thin10), m_fontThin9(appFonts().thin9) {
    setApplicationVersion(clipnoteVersion());
    // The installed launcher's name (dist/), so a desktop puts the window
    // under the launcher's icon.
    setDesktopFileName(QStringLiteral("org.clipnote.Clipnote"));
    setService(ServiceAddress::fromArguments(arguments()));
    http::setExtraCaFile(http::extraCaFileFromArguments(arguments()));
    installAlertBoxes();
}

CClientApp::~CClientApp() = default;

CClientApp* CClientApp::app() {
    return static_cast<CClientApp*>(QCoreApplication::instance());
}

void CClientApp::setSocketInitForTesting(std::function<bool()> init) {
    socketInit() = std::move(init);
}

bool CClientApp::InitInstance() {
    if (!socketInit()()) {
        showMessageBox(nullptr, QStringLiteral("Windows sockets initialization failed."),
                       applicationTitle(), QMessageBox::NoIcon);
        return false;
    }
    SetRegistryKey(QStringLiteral("ZEB"));
    OpenSession();
    takeApplicationFolder(QDir::currentPath());
    {
        CMainDialog dialog;
        dialog.exec();
    }
    return false;
}

int CClientApp::ExitInstance() {
    CloseSession();
    http::cleanup();
    return 0;
}
