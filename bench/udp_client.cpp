// The manager side of the end-to-end benchmark: net-snmp's client library in
// this process (no tool started per request), SNMPv2c over UDP.
//
//   qvsnmp_bench_client get|getnext|set PEER COMMUNITY OID COUNT
//       COUNT requests of one binding, one after the other; prints
//       "<op> <microseconds> <ok|error text>" per request
//   qvsnmp_bench_client walk PEER COMMUNITY ROOT COUNT
//       COUNT walks of the subtree ROOT with GETNEXT; prints
//       "walk <microseconds> <variables>" per walk
//   qvsnmp_bench_client flood PEER COMMUNITY OID COUNT
//       COUNT GETs at 2,000 a second, no answer awaited; prints
//       "flood <microseconds> <sent>". The pace is a manager's tool in a loop:
//       faster, the datagrams overflow the host's socket buffer, and the
//       kernel drops other managers' requests with them.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::vector<oid> Parse(const std::string& dotted) {
    std::vector<oid> ids(MAX_OID_LEN);
    size_t length = ids.size();
    if (read_objid(dotted.c_str(), ids.data(), &length) == 0) return {};
    ids.resize(length);
    return ids;
}

double Us(Clock::duration duration) { return std::chrono::duration<double, std::micro>(duration).count(); }

struct Answer {
    bool ok = false;
    std::string error;
    std::vector<oid> name;
};

Answer Ask(void* session, int command, const std::vector<oid>& name, long setValue) {
    netsnmp_pdu* request = snmp_pdu_create(command);
    if (command == SNMP_MSG_SET) {
        snmp_pdu_add_variable(request, name.data(), name.size(), ASN_INTEGER, &setValue, sizeof setValue);
    } else {
        snmp_add_null_var(request, name.data(), name.size());
    }
    netsnmp_pdu* response = nullptr;
    Answer answer;
    const int status = snmp_sess_synch_response(session, request, &response);
    if (status != STAT_SUCCESS || response == nullptr) {
        answer.error = status == STAT_TIMEOUT ? "timeout" : "failed";
    } else if (response->errstat != SNMP_ERR_NOERROR) {
        answer.error = snmp_errstring(static_cast<int>(response->errstat));
    } else if (response->variables == nullptr) {
        answer.error = "empty";
    } else {
        const netsnmp_variable_list* variable = response->variables;
        if (variable->type == SNMP_NOSUCHOBJECT || variable->type == SNMP_NOSUCHINSTANCE ||
            variable->type == SNMP_ENDOFMIBVIEW) {
            answer.error = "no-such";
        } else {
            answer.ok = true;
        }
        answer.name.assign(variable->name, variable->name + variable->name_length);
    }
    if (response != nullptr) snmp_free_pdu(response);
    return answer;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: qvsnmp_bench_client get|getnext|set|walk|flood PEER COMMUNITY OID COUNT\n");
        return 2;
    }
    const std::string mode = argv[1];
    std::string peer = argv[2];
    std::string community = argv[3];
    const int count = std::stoi(argv[5]);

    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    setenv("MIBS", "", 1);
    init_snmp("qvsnmp-bench-client");

    const std::vector<oid> name = Parse(argv[4]);
    if (name.empty()) {
        std::fprintf(stderr, "bad OID %s\n", argv[4]);
        return 2;
    }
    netsnmp_session settings;
    snmp_sess_init(&settings);
    settings.version = SNMP_VERSION_2c;
    settings.peername = peer.data();
    settings.community = reinterpret_cast<u_char*>(community.data());
    settings.community_len = community.size();
    settings.timeout = 5 * 1000 * 1000;  // longer than any reply wait of the agent
    settings.retries = 0;
    void* session = snmp_sess_open(&settings);
    if (session == nullptr) {
        std::fprintf(stderr, "cannot open a session to %s\n", peer.c_str());
        return 1;
    }

    if (mode == "flood") {
        const auto began = Clock::now();
        int sent = 0;
        for (int i = 0; i < count; ++i) {
            std::this_thread::sleep_until(began + std::chrono::microseconds(500) * i);
            netsnmp_pdu* request = snmp_pdu_create(SNMP_MSG_GET);
            snmp_add_null_var(request, name.data(), name.size());
            if (snmp_sess_send(session, request) != 0) {
                ++sent;
            } else {
                snmp_free_pdu(request);
            }
        }
        std::printf("flood %.1f %d\n", Us(Clock::now() - began), sent);
        snmp_sess_close(session);
        snmp_shutdown("qvsnmp-bench-client");
        return 0;
    }

    int failures = 0;
    for (int i = 0; i < count; ++i) {
        if (mode == "walk") {
            std::vector<oid> at = name;
            int variables = 0;
            const auto began = Clock::now();
            for (;;) {
                const Answer answer = Ask(session, SNMP_MSG_GETNEXT, at, 0);
                if (!answer.ok || answer.name.size() < name.size() ||
                    std::memcmp(answer.name.data(), name.data(), name.size() * sizeof(oid)) != 0) {
                    break;
                }
                ++variables;
                at = answer.name;
            }
            std::printf("walk %.1f %d\n", Us(Clock::now() - began), variables);
        } else {
            const int command = mode == "get" ? SNMP_MSG_GET : mode == "getnext" ? SNMP_MSG_GETNEXT : SNMP_MSG_SET;
            const auto began = Clock::now();
            const Answer answer = Ask(session, command, name, i);
            const double us = Us(Clock::now() - began);
            if (!answer.ok) ++failures;
            std::printf("%s %.1f %s\n", mode.c_str(), us, answer.ok ? "ok" : answer.error.c_str());
        }
    }
    std::fflush(stdout);
    snmp_sess_close(session);
    snmp_shutdown("qvsnmp-bench-client");
    return failures == 0 ? 0 : 1;
}
