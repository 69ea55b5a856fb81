#pragma once

#include <QString>
#include <QStringList>

// What the clipnote command line asks for, read before any window, display
// or network is touched, so that --help, --version and a mistyped option
// work on a machine without a display.
struct ClientCommandLine {
    enum class Action { Window, SyncOnce, ShowHelp, ShowVersion, Fail };
    Action action = Action::Window;
    // For Fail: what is wrong, naming the argument.
    QString error;
};

// Reads the arguments (without the program name). The program's own options
// are --service URL, --ca-file FILE, --sync-once with --user ID,
// --password-file FILE, --retry-failed and --wait SECONDS, -h/--help and
// -v/--version; a value follows as the next argument or after "=". The
// display options every Qt program takes (-platform NAME, -display HOST:N,
// -style NAME, ...) pass through to Qt. Anything else is refused, as are the
// --sync-once options without --sync-once.
ClientCommandLine parseClientCommandLine(const QStringList& arguments);

QString clientUsageText();
// "clipnote <version>", the version of the project in CMakeLists.txt.
QString clientVersionText();
// The bare version number, "1.0".
QString clipnoteVersion();

// The exit status of a command line that was refused, as for --sync-once.
inline constexpr int kCommandLineRefused = 2;
