// clipnote-server: the stand-in service for the Clipnote client.
#include "clipnoteserver.h"
#include "serverlog.h"
#include "serveroptions.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <pthread.h>
#include <thread>

namespace {
sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// Waits for SIGINT or SIGTERM on a thread of its own, where stopping the
// server is an ordinary call rather than work inside a signal handler.
void watchStopSignals(ClipnoteServer& server, const std::atomic<bool>& finished) {
    const sigset_t set = stopSignals();
    const timespec tick{0, 100 * 1000 * 1000};
    while (!finished.load()) {
        if (sigtimedwait(&set, nullptr, &tick) > 0) {
            server.stop();
            return;
        }
    }
}
} // namespace

int main(int argc, char** argv) {
    const CommandLine line = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (line.action == CommandLine::Action::ShowHelp) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    if (line.action == CommandLine::Action::Fail) {
        logServerProblem(line.error);
        std::fputs(usageText().c_str(), stderr);
        return 2;
    }

    // Blocked before any thread starts, so every thread inherits the mask
    // and only the watcher receives the signals.
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    ClipnoteServer server(line.options);
    std::string error;
    if (!server.start(&error)) {
        logServerProblem(error);
        return 1;
    }
    std::printf("%s\n", server.listeningLine().c_str());
    std::fflush(stdout);

    std::atomic<bool> finished{false};
    std::thread watcher([&] { watchStopSignals(server, finished); });
    server.run();
    finished = true;
    watcher.join();
    return 0;
}
