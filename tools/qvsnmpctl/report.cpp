#include "report.h"

#include <cstdio>
#include <sstream>

namespace qvsnmpctl {
namespace {

const char* StateName(std::uint8_t state) {
    switch (state) {
        case 0:
            return "free";
        case 1:
            return "opened";
        case 2:
            return "up";
        default:
            return "?";
    }
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string FillText(const std::optional<RingFill>& fill) {
    if (!fill) return "-";
    if (!fill->valid) return std::to_string(fill->read) + "/" + std::to_string(fill->write) + " broken";
    return std::to_string(fill->read) + "/" + std::to_string(fill->write) + "/" + std::to_string(fill->count);
}

std::string FillJson(const RingFill& fill) {
    return "{\"read\":" + std::to_string(fill.read) + ",\"write\":" + std::to_string(fill.write) +
           ",\"count\":" + std::to_string(fill.count) + ",\"valid\":" + (fill.valid ? "true" : "false") + "}";
}

std::string FillJson(const std::optional<RingFill>& fill) { return fill ? FillJson(*fill) : "null"; }

}  // namespace

std::string HeartbeatTime(const Snapshot& snapshot) {
    std::string text;
    for (std::size_t i = 0; i < snapshot.heartbeatDigits.size(); ++i) {
        if (i == 2 || i == 4) text += ':';
        const std::uint8_t digit = snapshot.heartbeatDigits[i];
        text += digit <= 9 ? static_cast<char>('0' + digit) : '?';
    }
    return text;
}

double HeartbeatAge(const Snapshot& snapshot) {
    // The agent stores whole seconds of the same performance counter, so on
    // the same machine the difference is the age (plus under a second).
    if (snapshot.heartbeatSeconds == 0) return -1;
    return snapshot.now - static_cast<double>(snapshot.heartbeatSeconds);
}

std::string TextReport(const Snapshot& snapshot) {
    std::ostringstream out;
    out << "service-up   " << int(snapshot.serviceUp) << (snapshot.serviceUp ? " (agent running)" : " (agent stopped)")
        << "\n";
    const double age = HeartbeatAge(snapshot);
    out << "heartbeat    " << HeartbeatTime(snapshot) << "  "
        << (age < 0 ? std::string("(never written)") : "age " + Fixed(age, 1) + " s") << "\n";
    out << "base ring    read " << snapshot.base.read << "  write " << snapshot.base.write << "  trap-read "
        << snapshot.trapRead << "  records " << snapshot.base.count << (snapshot.base.valid ? "" : "  (broken indices)")
        << "\n";
    out << "sessions     IN and OUT rings as read/write/records, - when the region does not exist\n";
    out << "  slot  state     PEN    AppId  AppInst  keep-alive  IN             OUT\n";
    int shown = 0;
    for (const SessionRow& row : snapshot.sessions) {
        if (!row.InUse()) continue;
        ++shown;
        char line[160];
        std::snprintf(line, sizeof line, "  %-4d  %d %-7s %-6u %-6d %-8d %-10u  %-14s %s\n", row.slot, row.state,
                      StateName(row.state), row.pen, row.appId, row.appInst, row.keepAlive, FillText(row.in).c_str(),
                      FillText(row.out).c_str());
        out << line;
    }
    if (shown == 0) out << "  (no session)\n";
    return out.str();
}

std::string JsonReport(const Snapshot& snapshot) {
    std::ostringstream out;
    const double age = HeartbeatAge(snapshot);
    out << "{\"service_up\":" << int(snapshot.serviceUp) << ",\"heartbeat\":{\"time\":"
        << JsonString(HeartbeatTime(snapshot)) << ",\"digits\":[";
    for (std::size_t i = 0; i < snapshot.heartbeatDigits.size(); ++i) {
        out << (i ? "," : "") << int(snapshot.heartbeatDigits[i]);
    }
    out << "],\"seconds\":" << snapshot.heartbeatSeconds << ",\"age_seconds\":" << (age < 0 ? "null" : Fixed(age, 3))
        << "},\"base_ring\":{\"read\":" << snapshot.base.read << ",\"write\":" << snapshot.base.write
        << ",\"trap_read\":" << snapshot.trapRead << ",\"count\":" << snapshot.base.count
        << ",\"valid\":" << (snapshot.base.valid ? "true" : "false") << "},\"sessions\":[";
    for (const SessionRow& row : snapshot.sessions) {
        out << (row.slot ? "," : "") << "{\"slot\":" << row.slot << ",\"state\":" << int(row.state)
            << ",\"pen\":" << row.pen << ",\"app_id\":" << int(row.appId) << ",\"app_inst\":" << int(row.appInst)
            << ",\"keep_alive\":" << row.keepAlive << ",\"in\":" << FillJson(row.in)
            << ",\"out\":" << FillJson(row.out) << "}";
    }
    out << "]}\n";
    return out.str();
}

std::string JsonString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

}  // namespace qvsnmpctl
