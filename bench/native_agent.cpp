// The peer the host is held against: the smallest embedded net-snmp agent we
// can write, serving one constant, on the same terms as the host (SNMPv1/v2c,
// read-only community, no configuration files, one listener).
//
//   qvsnmp_bench_native PORT OID TEXT
//
// Answers GET of OID with the OCTET STRING TEXT on udp:127.0.0.1:PORT,
// community "public", until SIGTERM or SIGINT.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <signal.h>
#include <sys/select.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/net_snmp_setup.h"

extern "C" {
void init_vacm_conf(void);
}

namespace {

volatile sig_atomic_t g_stop = 0;
std::string g_text;

void OnStop(int) { g_stop = 1; }

int Answer(netsnmp_mib_handler*, netsnmp_handler_registration*, netsnmp_agent_request_info* info,
           netsnmp_request_info* requests) {
    if (info->mode != MODE_GET) return SNMP_ERR_NOERROR;
    for (netsnmp_request_info* request = requests; request != nullptr; request = request->next) {
        snmp_set_var_typed_value(request->requestvb, ASN_OCTET_STR, g_text.data(), g_text.size());
    }
    return SNMP_ERR_NOERROR;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: qvsnmp_bench_native PORT OID TEXT\n");
        return 2;
    }
    g_text = argv[3];
    qv::host::UseOnlyTheCommandLine();
    if (init_agent("qvsnmp-bench-native") != 0) return 1;
    init_vacm_conf();

    std::vector<oid> name(MAX_OID_LEN);
    size_t length = name.size();
    if (read_objid(argv[2], name.data(), &length) == 0) return 2;
    netsnmp_handler_registration* registration =
        netsnmp_create_handler_registration("qvsnmp-bench-native", Answer, name.data(), length, HANDLER_CAN_RONLY);
    if (netsnmp_register_instance(registration) != MIB_REGISTERED_OK) return 1;

    std::string ro = "rocommunity public";
    netsnmp_config_remember(ro.data());
    init_snmp("qvsnmp-bench-native");
    const std::string port = "udp:127.0.0.1:" + std::string(argv[1]);
    netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_PORTS, port.c_str());
    if (init_master_agent() != 0) return 2;

    struct sigaction stop{};
    stop.sa_handler = OnStop;
    ::sigemptyset(&stop.sa_mask);
    ::sigaction(SIGTERM, &stop, nullptr);
    ::sigaction(SIGINT, &stop, nullptr);
    std::fprintf(stderr, "native: serving %s on %s\n", argv[2], port.c_str());
    while (!g_stop) agent_check_and_process(1);
    snmp_shutdown("qvsnmp-bench-native");
    return 0;
}
