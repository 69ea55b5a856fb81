// The real client on a real X display: see clientprogram.h.
#include "clientprogram.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace {
// Start-up loads the camera, sound and player back ends: slow when loaded.
constexpr int kWindowTimeoutMs = 30000;
constexpr int kStopTimeoutMs = 10000;

bool writeSettings(const QString& configHome, const QString& userId, const QRect& placement) {
    if (!QDir().mkpath(configHome + QStringLiteral("/ZEB")))
        return false;
    QFile file(configHome + QStringLiteral("/ZEB/clipnote.conf"));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString text = QStringLiteral("[Settings]\nuid=%1\nx=%2\ny=%3\nx2=%4\ny2=%5\n")
                             .arg(userId)
                             .arg(placement.left())
                             .arg(placement.top())
                             .arg(placement.left() + placement.width())
                             .arg(placement.top() + placement.height());
    return file.write(text.toUtf8()) == text.toUtf8().size();
}
} // namespace

ClientProgram::ClientProgram(QString root, QString userId, QString serviceUrl)
    : m_root(std::move(root)), m_userId(std::move(userId)), m_service(std::move(serviceUrl)) {}

ClientProgram::~ClientProgram() {
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(kStopTimeoutMs)) {
            m_process->kill();
            m_process->waitForFinished(-1);
        }
    }
}

QString ClientProgram::userFolder() const {
    return m_root + QStringLiteral("/work/") + m_userId;
}

QString ClientProgram::tempFolder() const {
    return m_root + QStringLiteral("/tmp/clipnote-%1/").arg(::geteuid()) + m_userId;
}

QString ClientProgram::settingsFile() const {
    return m_root + QStringLiteral("/config/ZEB/clipnote.conf");
}

QString ClientProgram::mainWindowTitle() const {
    // xdotool takes POSIX extended expressions: only the dots need escaping.
    return QStringLiteral("^Clipnote- %1$")
        .arg(QString(m_userId).replace(QLatin1Char('.'), QLatin1String("[.]")));
}

bool ClientProgram::startAndSignIn(const QString& password, const QRect& placement) {
    const QString program = qEnvironmentVariable("CLIPNOTE_CLIENT_BIN");
    const QString configHome = m_root + QStringLiteral("/config");
    if (program.isEmpty()) {
        m_error = QStringLiteral("CLIPNOTE_CLIENT_BIN is not set");
        return false;
    }
    if (!QDir().mkpath(userFolder()) || !QDir().mkpath(m_root + QStringLiteral("/tmp")) ||
        !writeSettings(configHome, m_userId, placement)) {
        m_error = QStringLiteral("cannot prepare the folders under ") + m_root;
        return false;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    environment.insert(QStringLiteral("TMPDIR"), m_root + QStringLiteral("/tmp"));
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    environment.insert(QStringLiteral("CLIPNOTE_CAMERA"), QStringLiteral("test"));
    environment.insert(QStringLiteral("CLIPNOTE_MICROPHONE"), QStringLiteral("test"));
    m_process = std::make_unique<QProcess>();
    m_process->setProcessEnvironment(environment);
    m_process->setWorkingDirectory(m_root + QStringLiteral("/work"));
    m_process->setProcessChannelMode(QProcess::ForwardedChannels);
    m_process->start(program, {QStringLiteral("--service"), m_service});
    if (!m_process->waitForStarted(kWindowTimeoutMs)) {
        m_error = QStringLiteral("clipnote does not start: ") + m_process->errorString();
        return false;
    }

    // The remembered user ID is filled in, so the password field has the focus.
    const xdriver::WindowId login =
        xdriver::findWindow(QStringLiteral("^Login$"), kWindowTimeoutMs, true);
    if (login == 0 || !xdriver::activate(login) || !xdriver::typeText(password) ||
        !xdriver::tapKey(QStringLiteral("Return"))) {
        m_error = QStringLiteral("no sign-in dialog to type into");
        return false;
    }
    m_mainWindow = xdriver::findWindow(mainWindowTitle(), kWindowTimeoutMs, true);
    if (m_mainWindow == 0) {
        m_error = QStringLiteral("the main window never showed the signed-in user");
        return false;
    }
    return true;
}
