#pragma once

#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

// Real input on the test's X display, as a person's keyboard and mouse would
// give it: xdotool sends every key and button through the XTEST extension,
// so the X server delivers them (auto-repeat included) exactly as it delivers
// a hardware keyboard's. Windows of other programs are named by their X ids.
namespace xdriver {

using WindowId = quint64;

// Runs xdotool; false when it fails or does not end within timeoutMs (it is
// killed then). Its standard output goes to out when given.
bool xdotool(const QStringList& arguments, QByteArray* out = nullptr, int timeoutMs = 10000);

// The first window whose title matches the regular expression, waiting up to
// timeoutMs for it to appear (0: look once); 0 when none did. With
// onlyViewable, only a window that is mapped and shown on the screen counts.
WindowId findWindow(const QString& titlePattern, int timeoutMs, bool onlyViewable = false);

// Asks the window manager to give the window the keyboard focus (what a
// click on a task bar entry does) and waits until it has.
bool activate(WindowId window);

bool keyDown(const QString& keysym);
bool keyUp(const QString& keysym);
bool tapKey(const QString& keysym);
bool typeText(const QString& text);
// Moves the pointer to a point relative to the window's top left corner and
// clicks the left button there.
bool click(WindowId window, QPoint at);

// A rectangle of a window as it shows on the screen now.
QImage grab(WindowId window, const QRect& area);
// How many pixels of the image have exactly that colour.
int countColour(const QImage& image, QRgb colour);

// Key auto-repeat as the X server reports it ("xset q").
bool autoRepeatOn();

// A small window manager on the display, so that minimising and restoring
// mean what they mean on a desktop. Stopped when destroyed.
class WindowManager {
public:
    ~WindowManager();
    // False with errorString() when it does not start or never takes over.
    bool start();
    QString errorString() const { return m_error; }

private:
    std::unique_ptr<QProcess> m_process;
    QString m_error;
};

} // namespace xdriver
