#include "app/clientapp.h"

#include "mainwnd/maindialog.h"
#include "platform/messagebox.h"
#include "service/httpshared.h"

#include <QDir>

namespace {
std::function<bool()>& socketInit() {
    static std::function<bool()> init = [] { return http::initialise(); };
    return init;
}

QFont makeFont(int pixelHeight, QFont::Weight weight) {
    QFont font;
    font.setPixelSize(pixelHeight);
    font.setWeight(weight);
    font.setStyleStrategy(QFont::PreferQuality);
    return font;
}
} // namespace

CClientApp::CClientApp(int& argc, char** argv)
    : QApplication(argc, argv), m_fontBold14(makeFont(14, QFont::Bold)),
      m_fontBold11(makeFont(11, QFont::Bold)), m_fontThin10(makeFont(10, QFont::Thin)),
      m_fontThin9(makeFont(9, QFont::Thin)) {
    setService(ServiceAddress::fromArguments(arguments()));
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
