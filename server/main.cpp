// clipnote-server: the stand-in service for the Clipnote client.
#include "clipnoteserver.h"
#include "serverlog.h"
#include "serveroptions.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <pthread.h>
#include <string>
#include <sys/resource.h>
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
// Every connection is a descriptor, and the usual soft limit (1024) is far
// below the connections the service allows: it is raised as far as the hard
// limit lets, and the connection bound follows what there is.
void fitDescriptorLimit(ServerOptions& options) {
    constexpr rlim_t kSpare = 256; // database, message files, mail, the listener
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    const rlim_t wanted = rlim_t(options.maxConnections) + kSpare;
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur =
            limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
        const int fits = limit.rlim_cur > kSpare * 2 ? int(limit.rlim_cur - kSpare) : int(kSpare);
        logServerProblem("only " + std::to_string(limit.rlim_cur) +
                         " open files are allowed: at most " + std::to_string(fits) +
                         " connections");
        options.maxConnections = fits;
        options.maxConnectionsPerAddress = std::min(options.maxConnectionsPerAddress, fits);
    }
}
} // namespace

int main(int argc, char** argv) {
    const CommandLine line = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (line.action == CommandLine::Action::ShowHelp) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    if (line.action == CommandLine::Action::ShowVersion) {
        std::fputs(versionText().c_str(), stdout);
        return 0;
    }
    if (line.action == CommandLine::Action::Fail) {
        logServerProblem(line.error);
        std::fputs("Try \"clipnote-server --help\" for the options.\n", stderr);
        return 2;
    }

    // Blocked before any thread starts, so every thread inherits the mask
    // and only the watcher receives the signals.
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    ServerOptions options = line.options;
    fitDescriptorLimit(options);
    ClipnoteServer server(options);
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
