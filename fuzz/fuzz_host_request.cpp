// A manager's raw SNMP message through the host's request path: net-snmp's
// own parser, each binding turned into a task as the agent turns it, the
// request logic over the module linked into this process, the retransmission
// cache, and the outcomes written back into response bindings. A GETNEXT goes
// from view to view as the embedded agent does when a view has nothing more.
// Checks what the agent relies on: a GETNEXT answer lies in its view and after
// the request, and an answered value is one it can encode.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <algorithm>
#include <cstdlib>

#include "host/net_snmp_binding.h"
#include "host/retransmission_cache.h"

// Part of net-snmp's library without a declaration in its public headers.
extern "C" u_char* snmp_comstr_parse(u_char*, size_t*, u_char*, size_t*, long*);
namespace qv::fuzz {
qv::host::ModuleAccess& HostModule();  // host_module_in_process.cpp
}

namespace {

using namespace qv::host;

// The module's views, in OID order (the order net-snmp's registry visits them).
const std::vector<Oid> kViews = {
    {1, 3, 6, 1, 4, 1, 4127}, {1, 3, 6, 1, 4, 1, 5113}, {1, 3, 6, 1, 4, 1, 39917}, {1, 3, 6, 1, 4, 1, 44821}};

std::vector<Task> tasks;  // of the current input
std::vector<Outcome> outcomes;

void Require(bool condition) {
    if (!condition) std::abort();
}

Outcome Run(const Task& task, SnmpVersion version) {
    const Outcome outcome = RunTask(qv::fuzz::HostModule(), version, task);
    const bool answered = outcome.errorStatus == 0 && outcome.exception == 0 && !outcome.endOfView;
    Require(!answered || outcome.binding.value.type == kAsnInteger || outcome.binding.value.type == kAsnOctetString);
    tasks.push_back(task);
    outcomes.push_back(outcome);
    return outcome;
}

// One GETNEXT binding: the views from the first not wholly before the name,
// until one answers; the answer (or endOfMibView) goes into `variable`.
void RunNext(netsnmp_variable_list* variable) {
    Oid request = ToOid(variable->name, variable->name_length);
    bool inclusive = false;
    for (const Oid& view : kViews) {
        Oid past = view;
        ++past.back();
        if (past <= request) continue;
        Task task = TaskForVariable(Operation::GetNext, view, *variable, inclusive);
        task.name = request;
        const Outcome outcome = Run(task, SnmpVersion::V2c);
        if (outcome.errorStatus != 0) return;
        if (!outcome.endOfView) {
            const Oid& name = outcome.binding.name;
            Require(StartsWith(name, view));
            Require(!StartsWith(request, view) || (task.inclusive ? name >= request : name > request));
            const std::vector<oid> ids = FromOid(name);
            snmp_set_var_objid(variable, ids.data(), ids.size());
            SetValue(variable, outcome.binding.value);
            return;
        }
        request = past;  // as the embedded agent does: again from just past this view
        inclusive = true;
    }
    variable->type = SNMP_ENDOFMIBVIEW;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The parser complains about broken input unless a handler drops it all.
    static const bool quiet = (snmp_disable_log(), netsnmp_register_loghandler(NETSNMP_LOGHANDLER_NONE, LOG_EMERG));
    (void)quiet;
    static RetransmissionCache answers(std::chrono::seconds(60), 64);
    static RetransmissionCache::JobId nextJob = 1;

    std::vector<u_char> message(data, data + size);
    size_t length = message.size();
    u_char community[COMMUNITY_MAX_LEN];
    size_t communityLength = sizeof community;
    long version = 0;
    u_char* after = snmp_comstr_parse(message.data(), &length, community, &communityLength, &version);
    if (after == nullptr || (version != SNMP_VERSION_1 && version != SNMP_VERSION_2c)) return 0;
    netsnmp_pdu* pdu = SNMP_MALLOC_TYPEDEF(netsnmp_pdu);
    pdu->version = version;
    if (snmp_pdu_parse(pdu, after, &length) != 0) return (snmp_free_pdu(pdu), 0);
    const SnmpVersion snmpVersion = version == SNMP_VERSION_1 ? SnmpVersion::V1 : SnmpVersion::V2c;
    netsnmp_variable_list* response = snmp_clone_varbind(pdu->variables);
    tasks.clear();
    outcomes.clear();
    // A GETBULK repeats the same GETNEXT from each answer; one round of it
    // shows the code paths of many.
    const bool next = pdu->command == SNMP_MSG_GETNEXT || (pdu->command == SNMP_MSG_GETBULK && version != SNMP_VERSION_1);
    const Operation operation = pdu->command == SNMP_MSG_GET ? Operation::Get : Operation::Set;
    for (netsnmp_variable_list* variable = response; variable != nullptr; variable = variable->next_variable) {
        const Oid name = ToOid(variable->name, variable->name_length);
        const auto view = std::find_if(kViews.begin(), kViews.end(), [&](const Oid& v) { return StartsWith(name, v); });
        if (next) {
            RunNext(variable);
        } else if ((pdu->command == SNMP_MSG_GET || pdu->command == SNMP_MSG_SET) && view != kViews.end()) {
            // Names outside the views net-snmp answers itself.
            const Outcome outcome = Run(TaskForVariable(operation, *view, *variable, false), snmpVersion);
            if (operation == Operation::Get && outcome.errorStatus == 0 && outcome.exception == 0) {
                SetValue(variable, outcome.binding.value);
            }
        }
    }
    if (!tasks.empty()) {
        const std::string key = RequestKey("fuzz", std::string(reinterpret_cast<char*>(community), communityLength),
                                           pdu->reqid, pdu->command, snmpVersion, tasks);
        const auto now = RetransmissionCache::Clock::now();
        if (const RetransmissionCache::Entry* known = answers.Find(key, now)) {
            Require(known->done && known->outcomes.size() == outcomes.size());
        } else {
            answers.Start(key, nextJob);
            answers.Complete(nextJob++, outcomes, now);
        }
    }
    snmp_free_varbind(response);
    snmp_free_pdu(pdu);
    return 0;
}
