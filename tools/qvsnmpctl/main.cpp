// qvsnmpctl: what the agent and its applications have in shared memory, and
// traps from the command line.
//
//   qvsnmpctl [--json] status
//   qvsnmpctl [--json] trap --pen P --app-id A --app-inst I [--suffix 1.2] (--int N | --text S)
//
// Exit status: 0 done; 1 no agent running (or, for status, the agent has
// stopped), or the trap could not be appended; 2 bad command line.
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "qvsnmp/base_ring.h"
#include "report.h"
#include "snapshot.h"

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char kUsageText[] =
    "usage: qvsnmpctl [--json] status\n"
    "       qvsnmpctl [--json] trap --pen P --app-id A --app-inst I [--suffix 1.2] (--int N | --text S)\n"
    "\n"
    "status  the service-up flag, the heartbeat, the base ring and the session table\n"
    "        with the fill level of every session's IN and OUT ring\n"
    "trap    appends a trap record to the base ring; the agent sends it as the binding\n"
    "        1.3.6.1.4.1.P.A.I.1.<suffix> with the integer or text value\n"
    "--json  machine-readable output\n";

int Usage(const std::string& problem) {
    std::cerr << "qvsnmpctl: " << problem << "\n" << kUsageText;
    return kUsage;
}

bool ParseLong(const std::string& text, long low, long high, long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || number < low || number > high) return false;
    *value = number;
    return true;
}

int Status(bool json) {
    qvsnmpctl::Snapshot snapshot;
    if (!qvsnmpctl::TakeSnapshot(&snapshot)) {
        if (json) {
            std::cout << "{\"error\":\"no agent running\"}\n";
        }
        const char* space = std::getenv("QVSNMP_NAMESPACE");
        const std::string name = std::string(space != nullptr && *space != '\0' ? space : "") +
                                 (space != nullptr && *space != '\0' ? "." : "") + "QV1.3.6.1.4.1";
        std::cerr << "qvsnmpctl: no agent running: /dev/shm/" << name
                  << " does not exist (no host in this QVSNMP_NAMESPACE, or its region's name was removed: the "
                     "host logs that, and a restart brings it back)\n";
        return kFailed;
    }
    std::cout << (json ? qvsnmpctl::JsonReport(snapshot) : qvsnmpctl::TextReport(snapshot));
    return snapshot.serviceUp ? kDone : kFailed;
}

int Trap(const std::vector<std::string>& arguments, bool json) {
    long pen = -1, appId = -1, appInst = -1;
    qvsnmp::Suffix suffix;
    std::optional<qvsnmp::Value> value;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& flag = arguments[i];
        if (i + 1 >= arguments.size()) return Usage(flag + " needs a value");
        const std::string& argument = arguments[++i];
        if (flag == "--pen") {
            if (!ParseLong(argument, 1, 65535, &pen)) return Usage("--pen takes 1..65535");
        } else if (flag == "--app-id") {
            if (!ParseLong(argument, 1, 127, &appId)) return Usage("--app-id takes 1..127");
        } else if (flag == "--app-inst") {
            if (!ParseLong(argument, 1, 127, &appInst)) return Usage("--app-inst takes 1..127");
        } else if (flag == "--suffix") {
            if (!qvsnmp::ParseSuffix(argument, &suffix) || suffix.size() > qvsnmp::kMaxTrapSuffix) {
                return Usage("--suffix takes up to 26 sub-identifiers 1..127, such as 1.2");
            }
        } else if (flag == "--int" || flag == "--text") {
            if (value) return Usage("give one of --int and --text");
            long number = 0;
            if (flag == "--int") {
                if (!ParseLong(argument, INT32_MIN, INT32_MAX, &number)) return Usage("--int takes a 32-bit integer");
                value = qvsnmp::Value::Integer(static_cast<std::int32_t>(number));
            } else {
                if (argument.size() > qvsnmp::kMaxTrapText) return Usage("--text takes at most " + std::to_string(qvsnmp::kMaxTrapText) + " bytes");
                value = qvsnmp::Value::Text(argument);
            }
        } else {
            return Usage("unknown option " + flag);
        }
    }
    if (pen < 0 || appId < 0 || appInst < 0) return Usage("trap needs --pen, --app-id and --app-inst");
    if (!value) return Usage("trap needs --int or --text");

    const auto ring = qvsnmp::BaseRing::Open();
    const qvsnmp::Identity identity{static_cast<std::uint16_t>(pen), static_cast<std::int8_t>(appId),
                                    static_cast<std::int8_t>(appInst)};
    const qvsnmp::AppendResult result =
        ring ? ring->AppendTrap(identity, suffix, *value) : qvsnmp::AppendResult{qvsnmp::AppendStatus::kNoAgent, false};
    const std::string outcome = result.status == qvsnmp::AppendStatus::kNoAgent ? "no agent running"
                                                                                 : qvsnmp::ToString(result.status);
    if (json) {
        std::cout << "{\"result\":" << qvsnmpctl::JsonString(outcome)
                  << ",\"lock_abandoned\":" << (result.lockAbandoned ? "true" : "false") << "}\n";
    } else if (result) {
        std::cout << "trap appended" << (result.lockAbandoned ? " (append lock was abandoned by a dead holder)" : "")
                  << "\n";
    }
    if (!result) {
        std::cerr << "qvsnmpctl: trap not sent: " << outcome << "\n";
        return kFailed;
    }
    return kDone;
}

}  // namespace

int main(int argc, char** argv) {
    bool json = false;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--json") {
            json = true;
        } else if (word == "--help" || word == "-h" || word == "help") {
            std::cout << kUsageText;
            return kDone;
        } else {
            words.push_back(word);
        }
    }
    if (words.empty()) return Usage("no command");
    const std::string command = words.front();
    words.erase(words.begin());
    if (command == "status") {
        if (!words.empty()) return Usage("status takes no arguments besides --json");
        return Status(json);
    }
    if (command == "trap") return Trap(words, json);
    return Usage("unknown command " + command);
}
