#pragma once

#include "clock.h"
#include "mailbox.h"
#include "messagequeue.h"
#include "passwords.h"
#include "ratelimiter.h"
#include "signinthrottle.h"

#include <chrono>
#include <cstddef>
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
    // "sqlite:PATH" or "postgresql://..."; empty for clipnote.db in the data
    // folder.
    std::string databaseUrl;
    // Connections to a PostgreSQL database this process opens at most. A few
    // per core of the database machine, shared by all its servers, keep it
    // busiest: more only queue up inside it.
    int databaseConnections = 4;
    // PEM files of the certificate (chain) and its private key: with both,
    // the service speaks HTTPS only.
    std::filesystem::path tlsCertificate;
    std::filesystem::path tlsKey;
    HashStrength hashStrength = HashStrength::Interactive;
    // Tests hand in a clock they move; none means the real one.
    std::shared_ptr<Clock> clock;
    SignInThrottle::Policy throttle;
    // Largest message file accepted by an upload.
    std::uint64_t maxMessageBytes = std::uint64_t(64) * 1024 * 1024;
    // What may wait for one recipient.
    QueueLimits queueLimits;
    // Messages nobody fetched within this many days are removed.
    int expireDays = 30;

    // The listener's bounds, so that idle or slow clients cannot use up
    // the server's connections: open connections in all and per client
    // address, the seconds a client may take for a whole request head, and
    // the seconds a connection may stay silent.
    int maxConnections = 8192;
    int maxConnectionsPerAddress = 2048;
    std::chrono::seconds headTimeout{10};
    std::chrono::seconds idleTimeout{60};

    // How often accounts may be created and passwords mailed, per e-mail
    // address (nobody's mailbox gets flooded) and per client address (nobody
    // sweeps through many addresses).
    RateLimiter::Policy accountLimitPerAddress{3, std::chrono::seconds(60)};
    RateLimiter::Policy accountLimitPerClient{20, std::chrono::seconds(10)};
    // Password hashes at once, and callers that may wait for one.
    HashingGate::Limits hashing;
    std::size_t mailKeptPerRecipient = MailBox::kKeptPerRecipient;
};

struct CommandLine {
    enum class Action { Run, ShowHelp, ShowVersion, Fail };
    Action action = Action::Run;
    ServerOptions options;
    std::string error;
};

// Reads "--listen ADDR", "--port N", "--data DIR", "--pwhash interactive|min",
// "--tls-cert FILE" with "--tls-key FILE",
// the limits "--queue-limit-files N", "--queue-limit-bytes N",
// "--expire-days N", "--max-connections N", "--max-connections-per-address N",
// "--head-timeout SECONDS", "--idle-timeout SECONDS" (each a whole number
// from 1 up), "--help" and "--version"; each value may also follow an "=".
// The arguments come without the program name.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);
std::string usageText();
// "clipnote-server <version>", the version of the project in CMakeLists.txt.
std::string versionText();
