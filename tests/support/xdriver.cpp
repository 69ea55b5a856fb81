// Real X input for tests: see xdriver.h.
#include "xdriver.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>

namespace xdriver {
namespace {
// xdotool answers at once; the time is for a machine under heavy load.
constexpr int kPollMs = 50;
constexpr int kWindowManagerStartMs = 20000;

bool runTool(const QString& program, const QStringList& arguments, QByteArray* out, int timeoutMs,
             bool quiet = false) {
    QProcess process;
    if (quiet)
        process.setStandardErrorFile(QProcess::nullDevice());
    else
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(-1);
        return false;
    }
    if (out)
        *out = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}
} // namespace

bool xdotool(const QStringList& arguments, QByteArray* out, int timeoutMs) {
    return runTool(QStringLiteral("xdotool"), arguments, out, timeoutMs);
}

WindowId findWindow(const QString& titlePattern, int timeoutMs, bool onlyViewable) {
    const QDeadlineTimer deadline(timeoutMs);
    QStringList arguments{QStringLiteral("search")};
    if (onlyViewable)
        arguments << QStringLiteral("--onlyvisible");
    arguments << QStringLiteral("--name") << titlePattern;
    for (;;) {
        QByteArray out;
        // Exit status 1 means no match yet.
        xdotool(arguments, &out);
        const QList<QByteArray> ids = out.split('\n');
        for (const QByteArray& id : ids) {
            const WindowId window = id.trimmed().toULongLong();
            if (window != 0)
                return window;
        }
        if (deadline.hasExpired())
            return 0;
        QThread::msleep(kPollMs);
    }
}

bool activate(WindowId window) {
    return xdotool(
        {QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(window)});
}

bool keyDown(const QString& keysym) {
    return xdotool({QStringLiteral("keydown"), keysym});
}

bool keyUp(const QString& keysym) {
    return xdotool({QStringLiteral("keyup"), keysym});
}

bool tapKey(const QString& keysym) {
    return xdotool({QStringLiteral("key"), keysym});
}

bool typeText(const QString& text) {
    return xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), text});
}

bool click(WindowId window, QPoint at) {
    return xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"),
                    QStringLiteral("--window"), QString::number(window), QString::number(at.x()),
                    QString::number(at.y()), QStringLiteral("click"), QStringLiteral("1")});
}

QImage grab(WindowId window, const QRect& area) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    return screen->grabWindow(window, area.x(), area.y(), area.width(), area.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

int countColour(const QImage& image, QRgb colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if ((image.pixel(x, y) & 0xffffff) == (colour & 0xffffff))
                ++count;
        }
    }
    return count;
}

bool autoRepeatOn() {
    QByteArray out;
    return runTool(QStringLiteral("xset"), {QStringLiteral("q")}, &out, 10000) &&
           out.simplified().contains("auto repeat: on");
}

WindowManager::~WindowManager() {
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(10000)) {
            m_process->kill();
            m_process->waitForFinished(-1);
        }
    }
}

bool WindowManager::start() {
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->setStandardOutputFile(QProcess::nullDevice());
    m_process->start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    if (!m_process->waitForStarted(kWindowManagerStartMs)) {
        m_error = QStringLiteral("openbox does not start: ") + m_process->errorString();
        return false;
    }
    // The desktop number is answered only once a manager has taken the screen.
    const QDeadlineTimer deadline(kWindowManagerStartMs);
    while (!runTool(QStringLiteral("xdotool"), {QStringLiteral("get_desktop")}, nullptr, 10000,
                    true)) {
        if (deadline.hasExpired() || m_process->state() == QProcess::NotRunning) {
            m_error = QStringLiteral("openbox never took over the display");
            return false;
        }
        QThread::msleep(kPollMs);
    }
    return true;
}

} // namespace xdriver
