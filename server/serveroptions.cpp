#include "serveroptions.h"

#include <charconv>
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
        if (flag != "--listen" && flag != "--port" && flag != "--data" && flag != "--pwhash")
            return failure("unknown option " + arguments[i]);
        if (!value) {
            if (i + 1 >= arguments.size())
                return failure(flag + " needs a value");
            value = arguments[++i];
        }
        if (flag == "--listen") {
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
        } else if (*value == "interactive") {
            options.hashStrength = HashStrength::Interactive;
        } else if (*value == "min") {
            options.hashStrength = HashStrength::Minimum;
        } else {
            return failure("--pwhash needs \"interactive\" or \"min\", not \"" + *value + "\"");
        }
    }
    return line;
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
           "  --help            show this text\n"
           "\n"
           "Stops cleanly on SIGINT or SIGTERM.\n";
}
