#include "app/clientapp.h"
#include "app/synconce.h"
#include "service/httpshared.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (isSyncOnceCommand(arguments)) {
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
    CClientApp app(argc, argv);
    app.InitInstance();
    return app.ExitInstance();
}
