// A manager's raw SNMP message through the host's request path: net-snmp's
// own parser (community header, then the PDU), each binding turned into a
// task as the agent turns it, the request logic over the module linked into
// this process, the retransmission cache, and the outcomes written back into
// response bindings. GETNEXT and GETBULK go from view to view the way the
// embedded agent does when a view has nothing more.
//
// Also checks what the agent relies on: a GETNEXT answer lies in its view and
// after the request, and an answered value is one the agent can encode.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/host_module_in_process.h"
#include "host/net_snmp_binding.h"
#include "host/request_logic.h"
#include "host/retransmission_cache.h"

// Part of net-snmp's library without a declaration in its public headers.
extern "C" u_char* snmp_comstr_parse(u_char*, size_t*, u_char*, size_t*, long*);

namespace {

using namespace qv::host;

// The module's views, in OID order (the order net-snmp's registry visits them).
const std::vector<Oid> kViews = {
    {1, 3, 6, 1, 4, 1, 4127}, {1, 3, 6, 1, 4, 1, 5113}, {1, 3, 6, 1, 4, 1, 39917}, {1, 3, 6, 1, 4, 1, 44821}};

// A GETBULK of many repetitions goes on for as long as the manager asked in the
// agent; a few show the same code paths.
constexpr long kMaxRepetitions = 4;

Oid PastView(const Oid& view) {
    Oid past = view;
    ++past.back();
    return past;
}

const Oid* ViewHolding(const Oid& name) {
    for (const Oid& view : kViews) {
        if (StartsWith(name, view)) return &view;
    }
    return nullptr;
}

void Require(bool condition) {
    if (!condition) std::abort();
}

void CheckValue(const Outcome& outcome) {
    if (outcome.errorStatus != 0 || outcome.exception != 0 || outcome.endOfView) return;
    Require(outcome.binding.value.type == kAsnInteger || outcome.binding.value.type == kAsnOctetString);
}

// One GETNEXT binding from `variable`'s name: the views from the first that
// does not lie wholly before the name, until one answers. Writes the answer
// (or endOfMibView) into `variable`.
void RunNext(ModuleAccess& module, netsnmp_variable_list* variable, std::vector<Task>& tasks,
             std::vector<Outcome>& outcomes) {
    Oid request = ToOid(variable->name, variable->name_length);
    bool inclusive = false;
    for (const Oid& view : kViews) {
        if (PastView(view) <= request) continue;
        Task task = TaskForVariable(Operation::GetNext, view, *variable, inclusive);
        task.name = request;
        const Outcome outcome = RunTask(module, SnmpVersion::V2c, task);
        tasks.push_back(task);
        outcomes.push_back(outcome);
        CheckValue(outcome);
        if (outcome.errorStatus != 0) return;
        if (!outcome.endOfView) {
            const Oid& name = outcome.binding.name;
            Require(StartsWith(name, view));
            Require(StartsWith(request, view) ? (task.inclusive ? name >= request : name > request) : true);
            const std::vector<oid> ids = FromOid(name);
            snmp_set_var_objid(variable, ids.data(), ids.size());
            SetValue(variable, outcome.binding.value);
            return;
        }
        // As the embedded agent does: look again from just past this view.
        request = PastView(view);
        inclusive = true;
    }
    variable->type = SNMP_ENDOFMIBVIEW;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ModuleAccess& module = [] () -> ModuleAccess& {
        // The parser complains about broken input on stderr unless a log
        // handler that drops everything is in place.
        snmp_disable_log();
        netsnmp_register_loghandler(NETSNMP_LOGHANDLER_NONE, LOG_EMERG);
        return qv::fuzz::HostModule();
    }();
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
    if (pdu == nullptr) return 0;
    pdu->version = version;
    if (snmp_pdu_parse(pdu, after, &length) != 0) {
        snmp_free_pdu(pdu);
        return 0;
    }
    const SnmpVersion snmpVersion = version == SNMP_VERSION_1 ? SnmpVersion::V1 : SnmpVersion::V2c;
    netsnmp_variable_list* response = snmp_clone_varbind(pdu->variables);
    std::vector<Task> tasks;
    std::vector<Outcome> outcomes;

    switch (pdu->command) {
        case SNMP_MSG_GET:
        case SNMP_MSG_SET: {
            const Operation operation = pdu->command == SNMP_MSG_GET ? Operation::Get : Operation::Set;
            for (netsnmp_variable_list* variable = response; variable != nullptr; variable = variable->next_variable) {
                const Oid* view = ViewHolding(ToOid(variable->name, variable->name_length));
                if (view == nullptr) continue;  // net-snmp answers these itself
                const Task task = TaskForVariable(operation, *view, *variable, false);
                const Outcome outcome = RunTask(module, snmpVersion, task);
                CheckValue(outcome);
                if (operation == Operation::Get && outcome.errorStatus == 0 && outcome.exception == 0) {
                    SetValue(variable, outcome.binding.value);
                }
                tasks.push_back(task);
                outcomes.push_back(outcome);
            }
            break;
        }
        case SNMP_MSG_GETNEXT:
            for (netsnmp_variable_list* variable = response; variable != nullptr; variable = variable->next_variable) {
                RunNext(module, variable, tasks, outcomes);
            }
            break;
        case SNMP_MSG_GETBULK: {
            if (version == SNMP_VERSION_1) break;  // net-snmp refuses it
            // Non-repeaters once, then the rest again from each answer.
            const long nonRepeaters = std::max(0L, pdu->non_repeaters);
            const long repetitions = std::clamp(pdu->max_repetitions, 0L, kMaxRepetitions);
            long index = 0;
            std::vector<netsnmp_variable_list*> repeaters;
            for (netsnmp_variable_list* variable = response; variable != nullptr; variable = variable->next_variable) {
                if (index++ < nonRepeaters) {
                    RunNext(module, variable, tasks, outcomes);
                } else {
                    repeaters.push_back(variable);
                }
            }
            for (long round = 0; round < repetitions; ++round) {
                for (netsnmp_variable_list* variable : repeaters) {
                    if (variable->type == SNMP_ENDOFMIBVIEW) continue;
                    RunNext(module, variable, tasks, outcomes);
                }
            }
            break;
        }
        default:
            break;
    }

    if (!tasks.empty()) {
        const std::string key = RequestKey("fuzz", std::string(reinterpret_cast<char*>(community), communityLength),
                                           pdu->reqid, pdu->command, snmpVersion, tasks);
        const auto now = RetransmissionCache::Clock::now();
        const RetransmissionCache::Entry* known = answers.Find(key, now);
        if (known == nullptr) {
            const RetransmissionCache::JobId job = nextJob++;
            answers.Start(key, job);
            answers.Complete(job, outcomes, now);
        } else {
            Require(known->done && known->outcomes.size() == outcomes.size());
        }
    }
    snmp_free_varbind(response);
    snmp_free_pdu(pdu);
    return 0;
}
