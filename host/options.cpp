#include "host/options.h"

#include <charconv>

namespace qv::host {

std::optional<Options> ParseOptions(const std::vector<std::string>& arguments, std::string& error) {
    Options options;
    std::vector<std::string> listen;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& flag = arguments[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
                error = flag + " needs a value";
                return false;
            }
            target = arguments[++i];
            return true;
        };
        std::string text;
        if (flag == "--help" || flag == "-h") {
            options.help = true;
        } else if (flag == "--version") {
            options.version = true;
        } else if (flag == "--listen") {
            if (!value(text)) return std::nullopt;
            listen.push_back(text);
        } else if (flag == "--agentx") {
            if (!value(options.agentxSocket)) return std::nullopt;
        } else if (flag == "--agentx-timeout") {
            if (!value(text)) return std::nullopt;
            int seconds = 0;
            const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), seconds);
            if (failure != std::errc() || end != text.data() + text.size() || seconds < 1 || seconds > 3600) {
                error = "--agentx-timeout needs whole seconds from 1 to 3600";
                return std::nullopt;
            }
            options.agentxTimeoutSeconds = seconds;
        } else if (flag == "--ro-community") {
            if (!value(options.roCommunity)) return std::nullopt;
        } else if (flag == "--rw-community") {
            if (!value(options.rwCommunity)) return std::nullopt;
        } else if (flag == "--trap-sink") {
            if (!value(text)) return std::nullopt;
            options.trapSinks.push_back(text);
        } else if (flag == "--trap2-sink") {
            if (!value(text)) return std::nullopt;
            options.trap2Sinks.push_back(text);
        } else if (flag == "--trap-community") {
            if (!value(options.trapCommunity)) return std::nullopt;
        } else if (flag == "--module") {
            if (!value(options.modulePath)) return std::nullopt;
        } else {
            error = "unknown argument " + flag;
            return std::nullopt;
        }
    }
    if (!options.agentxSocket.empty()) {
        // Under AgentX the master owns the ports, the communities and the sinks.
        if (!listen.empty() || !options.trapSinks.empty() || !options.trap2Sinks.empty()) {
            error = "--agentx cannot be combined with --listen, --trap-sink or --trap2-sink";
            return std::nullopt;
        }
    } else if (listen.empty()) {
        listen.push_back(kDefaultListen);
    }
    if (!options.rwCommunity.empty() && options.rwCommunity == options.roCommunity) {
        error = "--rw-community must differ from --ro-community";
        return std::nullopt;
    }
    options.listen = std::move(listen);
    return options;
}

std::string Usage() {
    return "usage: snmp [options]\n"
           "Serves the QVSNMP extension agent (libqvsnmp.so) over SNMPv1 and SNMPv2c.\n"
           "  --listen ENDPOINT        where the embedded agent listens (net-snmp transport\n"
           "                           syntax, repeatable; default udp:127.0.0.1:1161)\n"
           "  --agentx SOCKET          run as an AgentX subagent of the master at SOCKET\n"
           "  --agentx-timeout SECS    the master's agentXTimeout (default 1): answers go\n"
           "                           back before it, as errors if the module is slower\n"
           "  --ro-community NAME      read-only community (default public)\n"
           "  --rw-community NAME      read-write community; without it SET is refused\n"
           "  --trap-sink HOST[:PORT]  send SNMPv1 traps there (repeatable, port 162)\n"
           "  --trap2-sink HOST[:PORT] send SNMPv2c notifications there (repeatable)\n"
           "  --trap-community NAME    community of traps and notifications (default public)\n"
           "  --module PATH            the extension agent library to load\n"
           "  --help, --version\n";
}

std::string SinkPeerName(const std::string& sink) {
    std::string peer = sink;
    if (peer.find(':') == std::string::npos) peer += ":162";
    return "udp:" + peer;
}

}  // namespace qv::host
