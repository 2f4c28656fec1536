// The host's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qv::host {

struct Options {
    std::vector<std::string> listen;  // net-snmp transport syntax; embedded master only
    std::string agentxSocket;         // non-empty: run as an AgentX subagent
    // The master's agentXTimeout in seconds; every answer goes back before it.
    int agentxTimeoutSeconds = 1;
    std::string roCommunity = "public";
    std::string rwCommunity;  // empty: no SET
    std::vector<std::string> trapSinks;   // SNMPv1 traps, HOST[:PORT]
    std::vector<std::string> trap2Sinks;  // SNMPv2c notifications, HOST[:PORT]
    std::string trapCommunity = "public";
    std::string modulePath;  // empty: the default places
    bool help = false;
    bool version = false;
};

inline constexpr char kDefaultListen[] = "udp:127.0.0.1:1161";

// nullopt and a one-line reason when the command line is not usable.
std::optional<Options> ParseOptions(const std::vector<std::string>& arguments, std::string& error);
std::string Usage();
// "HOST" or "HOST:PORT" as a net-snmp peer name with the trap port filled in.
std::string SinkPeerName(const std::string& sink);

}  // namespace qv::host
