#include "app/clientapp.h"
#include "app/commandline.h"
#include "app/synconce.h"
#include "service/httpshared.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    // Read before any application object: --help, --version and a mistyped
    // option need no display.
    const ClientCommandLine line = parseClientCommandLine(arguments.mid(1));
    switch (line.action) {
    case ClientCommandLine::Action::ShowHelp:
        std::fputs(clientUsageText().toLocal8Bit().constData(), stdout);
        return 0;
    case ClientCommandLine::Action::ShowVersion:
        std::fputs(clientVersionText().toLocal8Bit().constData(), stdout);
        return 0;
    case ClientCommandLine::Action::Fail:
        std::fprintf(stderr, "clipnote: %s\nTry \"clipnote --help\" for the options.\n",
                     line.error.toLocal8Bit().constData());
        return kCommandLineRefused;
    case ClientCommandLine::Action::SyncOnce: {
        // The companion runs without a display.
        QCoreApplication app(argc, argv);
        if (!http::initialise()) {
            std::fprintf(stderr, "The network library could not be started.\n");
            return 1;
        }
        const int status = runSyncOnce(arguments, stdin, stdout, stderr);
        http::cleanup();
        return status;
    }
    case ClientCommandLine::Action::Window:
        break;
    }
    CClientApp app(argc, argv);
    app.InitInstance();
    return app.ExitInstance();
}
