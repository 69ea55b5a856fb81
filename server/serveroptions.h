#pragma once

#include "clock.h"
#include "passwords.h"
#include "signinthrottle.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

struct ServerOptions {
    std::string listenAddress = "127.0.0.1";
    // 0 lets the system pick a free port.
    int port = 8080;
    std::filesystem::path dataFolder = "clipnote-data";
    HashStrength hashStrength = HashStrength::Interactive;
    // Tests hand in a clock they move; none means the real one.
    std::shared_ptr<Clock> clock;
    SignInThrottle::Policy throttle;
    // Largest message file accepted by an upload.
    std::uint64_t maxMessageBytes = std::uint64_t(64) * 1024 * 1024;
};

struct CommandLine {
    enum class Action { Run, ShowHelp, Fail };
    Action action = Action::Run;
    ServerOptions options;
    std::string error;
};

// Reads "--listen ADDR", "--port N", "--data DIR", "--pwhash interactive|min"
// and "--help"; each value may also follow an "=". The arguments come without
// the program name.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);
std::string usageText();
