#include "serveroptions.h"

#include <charconv>
#include <climits>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>

namespace {
std::optional<int> parsePort(const std::string& text) {
    int port = -1;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, port);
    if (text.empty() || result.ec != std::errc() || result.ptr != end || port < 0 || port > 65535)
        return std::nullopt;
    return port;
}

// A whole number from 1 to max, with nothing around it.
std::optional<std::int64_t> parsePositive(const std::string& text, std::int64_t max) {
    std::int64_t number = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, number);
    if (text.empty() || result.ec != std::errc() || result.ptr != end || number < 1 || number > max)
        return std::nullopt;
    return number;
}

struct NumberOption {
    const char* flag;
    std::int64_t max;
    std::function<void(ServerOptions&, std::int64_t)> set;
};

const std::vector<NumberOption>& numberOptions() {
    using std::chrono::seconds;
    constexpr std::int64_t kAny = std::numeric_limits<std::int64_t>::max();
    // A day is more than any client needs for a request head or between
    // requests.
    constexpr std::int64_t kDay = 24 * 3600;
    static const std::vector<NumberOption> options{
        {"--queue-limit-files", kAny,
         [](ServerOptions& o, std::int64_t n) { o.queueLimits.files = std::uint64_t(n); }},
        {"--queue-limit-bytes", kAny,
         [](ServerOptions& o, std::int64_t n) { o.queueLimits.bytes = std::uint64_t(n); }},
        // A hundred years; the age in seconds must not overflow.
        {"--expire-days", 36500, [](ServerOptions& o, std::int64_t n) { o.expireDays = int(n); }},
        {"--max-connections", INT_MAX,
         [](ServerOptions& o, std::int64_t n) { o.maxConnections = int(n); }},
        {"--max-connections-per-address", INT_MAX,
         [](ServerOptions& o, std::int64_t n) { o.maxConnectionsPerAddress = int(n); }},
        {"--head-timeout", kDay,
         [](ServerOptions& o, std::int64_t n) { o.headTimeout = seconds(n); }},
        {"--idle-timeout", kDay,
         [](ServerOptions& o, std::int64_t n) { o.idleTimeout = seconds(n); }},
        {"--database-connections", 1000,
         [](ServerOptions& o, std::int64_t n) { o.databaseConnections = int(n); }},
        {"--account-requests-per-client", INT_MAX,
         [](ServerOptions& o, std::int64_t n) { o.accountLimitPerClient.burst = int(n); }},
    };
    return options;
}

std::string upTo(std::int64_t max) {
    return max == std::numeric_limits<std::int64_t>::max() ? " up" : " to " + std::to_string(max);
}

const NumberOption* findNumberOption(const std::string& flag) {
    for (const NumberOption& option : numberOptions()) {
        if (flag == option.flag)
            return &option;
    }
    return nullptr;
}

CommandLine failure(std::string error) {
    CommandLine line;
    line.action = CommandLine::Action::Fail;
    line.error = std::move(error);
    return line;
}
} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    ServerOptions& options = line.options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string flag = arguments[i];
        std::optional<std::string> value;
        if (const size_t equals = flag.find('=');
            flag.starts_with("--") && equals != std::string::npos) {
            value = flag.substr(equals + 1);
            flag.resize(equals);
        }
        if (flag == "--help" || flag == "-h") {
            if (value)
                return failure("--help takes no value");
            line.action = CommandLine::Action::ShowHelp;
            continue;
        }
        if (flag == "--version" || flag == "-v") {
            if (value)
                return failure("--version takes no value");
            if (line.action != CommandLine::Action::ShowHelp)
                line.action = CommandLine::Action::ShowVersion;
            continue;
        }
        const NumberOption* number = findNumberOption(flag);
        if (!number && flag != "--listen" && flag != "--port" && flag != "--data" &&
            flag != "--pwhash" && flag != "--tls-cert" && flag != "--tls-key" &&
            flag != "--database")
            return failure("unknown option " + arguments[i]);
        if (!value) {
            if (i + 1 >= arguments.size())
                return failure(flag + " needs a value");
            value = arguments[++i];
        }
        if (number) {
            const auto parsed = parsePositive(*value, number->max);
            if (!parsed)
                return failure(flag + " needs a whole number from 1" + upTo(number->max) +
                               ", not \"" + *value + "\"");
            number->set(options, *parsed);
        } else if (flag == "--listen") {
            if (value->empty())
                return failure("--listen needs an address");
            options.listenAddress = *value;
        } else if (flag == "--port") {
            const auto port = parsePort(*value);
            if (!port)
                return failure("--port needs a number from 0 to 65535, not \"" + *value + "\"");
            options.port = *port;
        } else if (flag == "--data") {
            if (value->empty())
                return failure("--data needs a folder");
            options.dataFolder = *value;
        } else if (flag == "--database") {
            if (!value->starts_with("sqlite:") && !value->starts_with("postgresql://") &&
                !value->starts_with("postgres://"))
                return failure("--database needs sqlite:PATH or postgresql://..., not \"" + *value +
                               "\"");
            options.databaseUrl = *value;
        } else if (flag == "--tls-cert" || flag == "--tls-key") {
            if (value->empty())
                return failure(flag + " needs a file");
            (flag == "--tls-cert" ? options.tlsCertificate : options.tlsKey) = *value;
        } else if (*value == "interactive") {
            options.hashStrength = HashStrength::Interactive;
        } else if (*value == "min") {
            options.hashStrength = HashStrength::Minimum;
        } else {
            return failure("--pwhash needs \"interactive\" or \"min\", not \"" + *value + "\"");
        }
    }
    if (options.tlsCertificate.empty() != options.tlsKey.empty())
        return failure("--tls-cert and --tls-key go together");
    return line;
}

std::string versionText() {
    return std::string("clipnote-server ") + CLIPNOTE_VERSION + "\n";
}

std::string usageText() {
    return "Usage: clipnote-server [options]\n"
           "Serves the Clipnote account pages on a local address.\n"
           "\n"
           "  --listen ADDR     address to listen on (default 127.0.0.1)\n"
           "  --port N          port (default 8080); 0 picks a free one, shown at start\n"
           "  --data DIR        data folder, created if missing (default ./clipnote-data)\n"
           "                    holds clipnote.db, mail/ (where mailed passwords land) and\n"
           "                    messages/ (the files waiting for their recipients)\n"
           "  --pwhash LEVEL    password hashing cost: interactive (default) or min\n"
           "                    (min is for tests only)\n"
           "  --database URL    sqlite:PATH (default: clipnote.db in the data folder) or\n"
           "                    postgresql://USER@HOST/NAME, which several servers share\n"
           "  --tls-cert FILE   serve HTTPS with this certificate (PEM, chain first)\n"
           "  --tls-key FILE    ... and this private key (PEM); both or neither\n"
           "\n"
           "Limits (each a whole number from 1 up):\n"
           "  --queue-limit-files N    files waiting for one recipient (default 500)\n"
           "  --queue-limit-bytes N    bytes waiting for one recipient (default 1073741824)\n"
           "  --expire-days N          days a message waits for its recipient before it\n"
           "                           is removed (default 30)\n"
           "  --max-connections N      open connections in all (default 8192)\n"
           "  --max-connections-per-address N\n"
           "                           open connections from one client address\n"
           "                           (default 2048)\n"
           "  --head-timeout SECONDS   time for a whole request head (default 10)\n"
           "  --database-connections N connections to a PostgreSQL database at most\n"
           "                           (default 4)\n"
           "  --idle-timeout SECONDS   time a connection may stay silent (default 60)\n"
           "  --account-requests-per-client N\n"
           "                           new accounts and mailed passwords one client\n"
           "                           address may ask for at once; one more every 10\n"
           "                           seconds (default 20)\n"
           "\n"
           "  --help            show this text\n"
           "  --version         show the version\n"
           "\n"
           "Stops cleanly on SIGINT or SIGTERM.\n";
}
