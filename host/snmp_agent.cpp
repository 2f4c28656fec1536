#include "host/snmp_agent.h"

// net-snmp's headers come in this order; nothing of the Win32 stand-ins is
// visible in this file.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <sys/select.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "host/net_snmp_binding.h"
#include "host/net_snmp_setup.h"
#include "host/region_watch.h"
#include "host/retransmission_cache.h"

// Part of net-snmp's agent library without an installed header.
extern "C" {
void init_vacm_conf(void);
}

namespace qv::host {

namespace {

// A manager retransmits within its timeout times its retries (net-snmp's tools:
// 1 s and 5); answers stay recognisable well beyond that.
constexpr auto kKeepAnswers = std::chrono::seconds(60);
constexpr std::size_t kMaxKeptAnswers = 4096;
// The master's deadline is the whole agentXTimeout; answer this much earlier.
constexpr long kDeadlineMarginMs = 250;
// Everything the loop waits for is a descriptor or a net-snmp alarm, which
// snmp_select_info accounts for; the cap only bounds a wait that nothing else
// bounds, so an idle host wakes once a second.
constexpr long kSelectCapUs = 1000 * 1000;
// How often the host looks whether its base region still has its name.
constexpr auto kRegionWatchPeriod = std::chrono::seconds(2);

int Handle(netsnmp_mib_handler* handler, netsnmp_handler_registration* registration,
           netsnmp_agent_request_info* info, netsnmp_request_info* requests);
void DeadlinePassed(unsigned int clientRegistration, void* clientArgument);

netsnmp_variable_list* AddVariable(netsnmp_variable_list** list, const Oid& name, u_char type, const void* data,
                                   size_t length) {
    const std::vector<oid> ids = FromOid(name);
    return snmp_varlist_add_variable(list, ids.data(), ids.size(), type, data, length);
}

// The largest SNMP message a UDP datagram carries.
constexpr std::size_t kMaxMessageSize = 65507;

// An upper bound of the encoded size of a response with these bindings: five
// bytes per sub-identifier at most, the value, the headers of binding, name
// and value, and room for the message and PDU headers.
std::size_t ResponseSizeBound(const netsnmp_pdu& pdu) {
    std::size_t size = 64 + pdu.community_len;
    for (const netsnmp_variable_list* variable = pdu.variables; variable != nullptr;
         variable = variable->next_variable) {
        size += variable->name_length * 5 + variable->val_len + 16;
    }
    return size;
}

void AddValue(netsnmp_variable_list** list, const VarBind& binding) {
    if (binding.value.type == kAsnInteger) {
        const long number = binding.value.number;
        AddVariable(list, binding.name, ASN_INTEGER, &number, sizeof number);
    } else if (binding.value.type == kAsnOctetString) {
        AddVariable(list, binding.name, ASN_OCTET_STR, binding.value.bytes.data(), binding.value.bytes.size());
    } else {
        AddVariable(list, binding.name, ASN_NULL, nullptr, 0);
    }
}

}  // namespace

struct DeadlineArgument {
    SnmpAgent::State* state;
    std::uint64_t waiter;
};

struct SnmpAgent::State {
    Options options;
    ModuleWorker& worker;
    std::vector<Oid> views;
    RetransmissionCache answers{kKeepAnswers, kMaxKeptAnswers};

    // A handler call whose requests wait for a job.
    struct Waiter {
        ModuleWorker::JobId job = 0;
        netsnmp_delegated_cache* cache = nullptr;
        Oid view;
        std::vector<Operation> operations;
        unsigned int alarm = 0;
        void* alarmArgument = nullptr;  // owned until the alarm fires or is cancelled

        // The deadline alarm goes; the delegated cache stays for the caller.
        void CancelAlarm() {
            if (alarm == 0) return;
            snmp_alarm_unregister(alarm);
            delete static_cast<DeadlineArgument*>(alarmArgument);
            alarm = 0;
        }
    };
    std::map<std::uint64_t, Waiter> waiters;
    std::uint64_t nextWaiter = 1;
    // Waiters whose requests go unanswered, dropped once the agent library
    // is done with the call that delegated them.
    std::vector<std::uint64_t> toDrop;
    std::vector<void*> sinks;  // single-session handles: v1 sinks first, then v2c
    std::size_t v1SinkCount = 0;
    bool subagent = false;

    State(const Options& o, ModuleWorker& w, std::vector<Oid> v) : options(o), worker(w), views(std::move(v)) {}

    int OnRequests(netsnmp_mib_handler* handler, netsnmp_handler_registration* registration,
                   netsnmp_agent_request_info* info, netsnmp_request_info* requests);
    void Fill(netsnmp_agent_request_info* info, netsnmp_request_info* requests, const Oid& view,
              const std::vector<Operation>& operations, const std::vector<Outcome>& outcomes);
    void FinishWaiter(std::uint64_t id, const std::vector<Outcome>& outcomes);
    void OnDeadline(std::uint64_t id);
    void OnWorkerReady();
    void DropWaiters(std::vector<std::uint64_t> ids);
    void SendTrap(const Trap& trap);
    void SendNotification(const Trap& trap);
    bool OpenSinks(std::string& error);
};

namespace {

// Where a request came from: the transport address the PDU carries (for UDP
// the manager's address and port) and the session it arrived on.
std::string Source(netsnmp_agent_request_info* info) {
    netsnmp_agent_session* session = info->asp;
    if (session == nullptr || session->pdu == nullptr) return {};
    const netsnmp_pdu* pdu = session->pdu;
    std::string text = std::to_string(reinterpret_cast<std::uintptr_t>(session->session)) + "/";
    if (pdu->transport_data != nullptr) {
        text.append(static_cast<const char*>(pdu->transport_data), pdu->transport_data_length);
    }
    return text;
}

int Handle(netsnmp_mib_handler* handler, netsnmp_handler_registration* registration,
           netsnmp_agent_request_info* info, netsnmp_request_info* requests) {
    auto* state = static_cast<SnmpAgent::State*>(handler->myvoid);
    return state->OnRequests(handler, registration, info, requests);
}

void DeadlinePassed(unsigned int, void* clientArgument) {
    auto* argument = static_cast<DeadlineArgument*>(clientArgument);
    SnmpAgent::State* state = argument->state;
    const std::uint64_t waiter = argument->waiter;
    delete argument;
    state->OnDeadline(waiter);
}

}  // namespace

int SnmpAgent::State::OnRequests(netsnmp_mib_handler* handler, netsnmp_handler_registration* registration,
                                 netsnmp_agent_request_info* info, netsnmp_request_info* requests) {
    Operation operation;
    switch (info->mode) {
        case MODE_GET: operation = Operation::Get; break;
        case MODE_GETNEXT: operation = Operation::GetNext; break;
        // A SET reaches the module exactly once, in the action phase; the
        // module cannot take a value back, so there is nothing to undo.
        case MODE_SET_ACTION: operation = Operation::Set; break;
        default: return SNMP_ERR_NOERROR;
    }
    netsnmp_pdu* pdu = info->asp->pdu;
    // A master's GETNEXT whose search range includes its start: the agent
    // library first offers the bindings as a GET, then sends what is still
    // unanswered through the same subtree again as a GETNEXT that may return
    // the start itself. That GETNEXT does all the work. An answer to the GET
    // pass that arrives later, delegated, would instead end the request with
    // the GET's answer (noSuchObject for a view without that variable), so
    // this pass leaves every binding unanswered.
    if (subagent && operation == Operation::Get &&
        (pdu->command == SNMP_MSG_GETNEXT || pdu->command == SNMP_MSG_GETBULK)) {
        return SNMP_ERR_NOERROR;
    }
    const Oid view = ToOid(registration->rootoid, registration->rootoid_len);
    std::vector<Task> tasks;
    std::vector<Operation> operations;
    for (netsnmp_request_info* request = requests; request != nullptr; request = request->next) {
        if (request->processed) continue;
        netsnmp_variable_list* variable = request->requestvb;
        // The master scopes each GETNEXT to the registration it routed it to,
        // and its names always lie in that view. A name before this view
        // means an earlier view said endOfMibView and the agent library moved
        // on to our next registration: whatever we found here the library
        // would drop as outside the master's range. Say endOfMibView at once
        // instead of asking the applications of the next view.
        if (subagent && operation == Operation::GetNext &&
            !StartsWith(ToOid(variable->name, variable->name_length), view)) {
            variable->type = SNMP_ENDOFMIBVIEW;
            request->processed = 1;
            continue;
        }
        tasks.push_back(TaskForVariable(operation, view, *variable, request->inclusive != 0));
        operations.push_back(operation);
    }
    if (tasks.empty()) return SNMP_ERR_NOERROR;

    // The master's AgentX PDUs carry no SNMP version; it maps statuses for
    // its SNMPv1 managers itself.
    const SnmpVersion version = !subagent && pdu->version == SNMP_VERSION_1 ? SnmpVersion::V1 : SnmpVersion::V2c;
    const std::string community =
        pdu->community != nullptr ? std::string(reinterpret_cast<const char*>(pdu->community), pdu->community_len)
                                  : std::string();
    const std::string key = RequestKey(Source(info), community, pdu->reqid, pdu->command, version, tasks);

    const auto now = RetransmissionCache::Clock::now();
    const RetransmissionCache::Entry* known = answers.Find(key, now);
    if (known != nullptr && known->done) {
        Fill(info, requests, view, operations, known->outcomes);
        return SNMP_ERR_NOERROR;
    }
    if (known == nullptr && std::all_of(tasks.begin(), tasks.end(), AnsweredByModuleAlone)) {
        // Answered at once on this thread when the module is free; nothing to
        // keep for retransmissions, a copy is answered the same way.
        if (auto outcomes = worker.TryRunNow(version, tasks)) {
            Fill(info, requests, view, operations, *outcomes);
            return SNMP_ERR_NOERROR;
        }
    }
    ModuleWorker::JobId job = 0;  // 0: refused, the request goes unanswered
    if (known != nullptr) {
        job = known->job;  // a copy of a request in progress: wait for the same work
    } else if (const auto submitted = worker.Submit(version, std::move(tasks), Source(info))) {
        job = *submitted;
        answers.Start(key, job);
    }
    const std::uint64_t id = nextWaiter++;
    if (job == 0) toDrop.push_back(id);
    Waiter waiter;
    waiter.job = job;
    waiter.view = view;
    waiter.operations = std::move(operations);
    waiter.cache = netsnmp_create_delegated_cache(handler, registration, info, requests, nullptr);
    netsnmp_handler_mark_requests_as_delegated(requests, REQUEST_IS_DELEGATED);
    if (subagent) {
        const long deadlineMs = std::max(100L, options.agentxTimeoutSeconds * 1000L - kDeadlineMarginMs);
        struct timeval after{deadlineMs / 1000, (deadlineMs % 1000) * 1000};
        auto* argument = new DeadlineArgument{this, id};
        waiter.alarm = snmp_alarm_register_hr(after, 0, DeadlinePassed, argument);
        waiter.alarmArgument = argument;
    }
    waiters.emplace(id, std::move(waiter));
    return SNMP_ERR_NOERROR;
}

void SnmpAgent::State::Fill(netsnmp_agent_request_info* info, netsnmp_request_info* requests, const Oid& view,
                            const std::vector<Operation>& operations, const std::vector<Outcome>& outcomes) {
    std::size_t i = 0;
    for (netsnmp_request_info* request = requests; request != nullptr && i < outcomes.size();
         request = request->next) {
        if (request->processed) continue;
        const Outcome& outcome = outcomes[i];
        const Operation operation = operations[i];
        ++i;
        netsnmp_variable_list* variable = request->requestvb;
        if (outcome.errorStatus != 0) {
            netsnmp_set_request_error(info, request, outcome.errorStatus);
        } else if (outcome.exception != 0) {
            netsnmp_set_request_error(info, request, outcome.exception);
        } else if (operation == Operation::GetNext && outcome.endOfView) {
            // Nothing more in this view. A subagent says so and the master
            // goes on with its next subtree; the embedded agent looks the
            // binding up again from just past the view.
            if (subagent) {
                variable->type = SNMP_ENDOFMIBVIEW;
                continue;
            }
            std::vector<oid> past = FromOid(view);
            ++past.back();
            snmp_set_var_objid(variable, past.data(), past.size());
            variable->type = ASN_PRIV_RETRY;
            request->inclusive = 1;
        } else if (operation == Operation::GetNext) {
            const std::vector<oid> ids = FromOid(outcome.binding.name);
            snmp_set_var_objid(variable, ids.data(), ids.size());
            SetValue(variable, outcome.binding.value);
        } else if (operation == Operation::Get) {
            SetValue(variable, outcome.binding.value);
        }
    }
    // A response no datagram can carry would be lost without a word: answer
    // tooBig instead (RFC 3416, 4.2.1), error index zero.
    netsnmp_pdu* pdu = info->asp->pdu;
    if (pdu != nullptr && pdu->command != SNMP_MSG_SET && ResponseSizeBound(*pdu) > kMaxMessageSize) {
        netsnmp_set_request_error(info, requests, SNMP_ERR_TOOBIG);
        info->asp->index = 0;
        for (netsnmp_variable_list* variable = pdu->variables; variable != nullptr; variable = variable->next_variable) {
            snmp_set_var_typed_value(variable, ASN_NULL, nullptr, 0);
        }
    }
}

void SnmpAgent::State::FinishWaiter(std::uint64_t id, const std::vector<Outcome>& outcomes) {
    const auto found = waiters.find(id);
    if (found == waiters.end()) return;
    Waiter waiter = std::move(found->second);
    waiters.erase(found);
    waiter.CancelAlarm();
    // The request may be gone: its session closed, or the agent gave up on it.
    netsnmp_delegated_cache* cache = netsnmp_handler_check_cache(waiter.cache);
    if (cache != nullptr) {
        netsnmp_handler_mark_requests_as_delegated(cache->requests, REQUEST_IS_NOT_DELEGATED);
        Fill(cache->reqinfo, cache->requests, waiter.view, waiter.operations, outcomes);
        // net-snmp's bulk-to-next helper sets up the next repetition when the
        // handler returns; for a delegated request that happens only now.
        if (cache->reqinfo->mode == MODE_GETBULK) netsnmp_bulk_to_next_fix_requests(cache->requests);
    }
    netsnmp_free_delegated_cache(waiter.cache);
}

void SnmpAgent::State::OnDeadline(std::uint64_t id) {
    const auto found = waiters.find(id);
    if (found == waiters.end()) return;
    found->second.alarm = 0;  // the alarm is firing; its argument is gone
    found->second.alarmArgument = nullptr;
    const ModuleWorker::JobId job = found->second.job;
    // Answer every copy of this work with an error now: past the master's
    // deadline it would drop the whole AgentX session. A job still queued is
    // not run at all; one that runs finishes unseen.
    Outcome failed;
    failed.errorStatus = SNMP_ERR_GENERR;
    const std::vector<Outcome> outcomes(found->second.operations.size(), failed);
    worker.Cancel(job);
    answers.Complete(job, outcomes, RetransmissionCache::Clock::now());
    std::vector<std::uint64_t> sameJob;
    for (const auto& [other, waiter] : waiters) {
        if (waiter.job == job) sameJob.push_back(other);
    }
    for (const std::uint64_t other : sameJob) {
        const std::vector<Outcome> each(waiters[other].operations.size(), failed);
        FinishWaiter(other, each);
    }
}

void SnmpAgent::State::OnWorkerReady() {
    const auto now = RetransmissionCache::Clock::now();
    for (const auto& finished : worker.TakeFinished()) {
        if (finished.dropped) {
            answers.Forget(finished.job);
            for (const auto& [id, waiter] : waiters) {
                if (waiter.job == finished.job) toDrop.push_back(id);
            }
            continue;
        }
        answers.Complete(finished.job, finished.outcomes, now);
        std::vector<std::uint64_t> ready;
        for (const auto& [id, waiter] : waiters) {
            if (waiter.job == finished.job) ready.push_back(id);
        }
        for (const std::uint64_t id : ready) FinishWaiter(id, finished.outcomes);
    }
    for (const Trap& trap : worker.TakeTraps()) SendTrap(trap);
}

void SnmpAgent::State::DropWaiters(std::vector<std::uint64_t> ids) {
    // A request spread over several views has a waiter per view; it goes
    // whole, with every waiter of its agent session.
    std::set<netsnmp_agent_session*> sessions;
    auto sessionOf = [](const Waiter& waiter) -> netsnmp_agent_session* {
        netsnmp_delegated_cache* cache = netsnmp_handler_check_cache(waiter.cache);
        return cache != nullptr && cache->reqinfo != nullptr ? cache->reqinfo->asp : nullptr;
    };
    for (const std::uint64_t id : ids) {
        const auto found = waiters.find(id);
        if (found == waiters.end()) continue;
        if (netsnmp_agent_session* session = sessionOf(found->second)) sessions.insert(session);
    }
    for (const auto& [id, waiter] : waiters) {
        if (sessions.count(sessionOf(waiter)) != 0) ids.push_back(id);
    }
    for (const std::uint64_t id : ids) {
        const auto found = waiters.find(id);
        if (found == waiters.end()) continue;
        Waiter waiter = std::move(found->second);
        waiters.erase(found);
        waiter.CancelAlarm();
        netsnmp_free_delegated_cache(waiter.cache);
        const bool shared = std::any_of(waiters.begin(), waiters.end(),
                                        [&](const auto& other) { return other.second.job == waiter.job; });
        if (waiter.job != 0 && !shared) {
            worker.Cancel(waiter.job);
            answers.Forget(waiter.job);
        }
    }
    // Freed without a response: the manager hears nothing, as from a host
    // too busy to read its request.
    for (netsnmp_agent_session* session : sessions) netsnmp_remove_and_free_agent_snmp_session(session);
}

bool SnmpAgent::State::OpenSinks(std::string& error) {
    auto open = [&](const std::string& sink, long version) {
        netsnmp_session session;
        snmp_sess_init(&session);
        session.version = version;
        std::string peer = SinkPeerName(sink);
        session.peername = peer.data();
        session.community = reinterpret_cast<u_char*>(options.trapCommunity.data());
        session.community_len = options.trapCommunity.size();
        void* handle = snmp_sess_open(&session);
        if (handle == nullptr) {
            error = "cannot open trap sink " + sink;
            return false;
        }
        sinks.push_back(handle);
        return true;
    };
    for (const auto& sink : options.trapSinks) {
        if (!open(sink, SNMP_VERSION_1)) return false;
    }
    v1SinkCount = sinks.size();
    for (const auto& sink : options.trap2Sinks) {
        if (!open(sink, SNMP_VERSION_2c)) return false;
    }
    return true;
}

// Room for the bindings of one notification. One trap of the module carries
// every record of a trap walk, up to a whole ring of them with texts of nearly
// 1 KiB each; sent whole it would not fit a UDP datagram (65507 bytes) and be
// lost at once. Parts of this size fit any receiver's buffer with room to
// spare.
constexpr std::size_t kNotificationBudget = 8192;

std::size_t EncodedSizeBound(const VarBind& binding) {
    // Five bytes per sub-identifier at most, the value, and the headers of the
    // binding, name and value.
    return binding.name.size() * 5 + binding.value.bytes.size() + 4 + 16;
}

void SnmpAgent::State::SendTrap(const Trap& trap) {
    std::size_t used = 0;
    Trap part = trap;
    part.bindings.clear();
    for (const VarBind& binding : trap.bindings) {
        const std::size_t size = EncodedSizeBound(binding);
        if (!part.bindings.empty() && used + size > kNotificationBudget) {
            SendNotification(part);
            part.bindings.clear();
            used = 0;
        }
        part.bindings.push_back(binding);
        used += size;
    }
    if (!part.bindings.empty() || trap.bindings.empty()) SendNotification(part);
}

void SnmpAgent::State::SendNotification(const Trap& trap) {
    // The SNMPv2 form: sysUpTime.0 from the module's time stamp, then
    // snmpTrapOID.0, then the module's bindings.
    netsnmp_variable_list* v2 = nullptr;
    const u_long ticks = trap.timeStamp;
    AddVariable(&v2, kSysUpTime0, ASN_TIMETICKS, &ticks, sizeof ticks);
    const std::vector<oid> trapOid = FromOid(NotificationOid(trap));
    AddVariable(&v2, kSnmpTrapOid0, ASN_OBJECT_ID, trapOid.data(), trapOid.size() * sizeof(oid));
    for (const VarBind& binding : trap.bindings) AddValue(&v2, binding);
    if (CarriesTrapEnterprise(trap)) {
        const std::vector<oid> enterprise = FromOid(trap.enterprise);
        AddVariable(&v2, kSnmpTrapEnterprise0, ASN_OBJECT_ID, enterprise.data(), enterprise.size() * sizeof(oid));
    }

    if (subagent) {
        send_v2trap(v2);  // an AgentX Notify; the master sends it to its sinks
        snmp_free_varbind(v2);
        return;
    }
    for (std::size_t i = 0; i < sinks.size(); ++i) {
        netsnmp_pdu* pdu = nullptr;
        if (i < v1SinkCount) {
            pdu = snmp_pdu_create(SNMP_MSG_TRAP);
            const std::vector<oid> enterprise = FromOid(trap.enterprise);
            pdu->enterprise = static_cast<oid*>(malloc(enterprise.size() * sizeof(oid)));
            std::memcpy(pdu->enterprise, enterprise.data(), enterprise.size() * sizeof(oid));
            pdu->enterprise_length = enterprise.size();
            pdu->trap_type = trap.generic;
            pdu->specific_type = trap.specific;
            pdu->time = trap.timeStamp;
            const in_addr_t address = get_myaddr();
            std::memcpy(pdu->agent_addr, &address, sizeof address);
            for (const VarBind& binding : trap.bindings) AddValue(&pdu->variables, binding);
        } else {
            pdu = snmp_pdu_create(SNMP_MSG_TRAP2);
            pdu->variables = snmp_clone_varbind(v2);
        }
        if (snmp_sess_send(sinks[i], pdu) == 0) {
            snmp_free_pdu(pdu);
            snmp_log(LOG_ERR, "snmp: a trap could not be sent to a sink\n");
        }
    }
    snmp_free_varbind(v2);
}

SnmpAgent::SnmpAgent(const Options& options, ModuleWorker& worker, std::vector<Oid> views)
    : state_(std::make_unique<State>(options, worker, std::move(views))) {}

SnmpAgent::~SnmpAgent() {
    // Requests still waiting when the host stops go unanswered.
    for (auto& [id, waiter] : state_->waiters) {
        waiter.CancelAlarm();
        netsnmp_free_delegated_cache(waiter.cache);
    }
    state_->waiters.clear();
    for (void* sink : state_->sinks) snmp_sess_close(sink);
    snmp_shutdown("qvsnmp");
}

bool SnmpAgent::Start(std::string& error) {
    State& state = *state_;
    state.subagent = !state.options.agentxSocket.empty();

    UseOnlyTheCommandLine();
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_DONT_LOG_TCPWRAPPERS_CONNECTS, 1);

    if (state.subagent) {
        netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 1);
        netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET,
                              state.options.agentxSocket.c_str());
        // Reconnect (and register again) within a second of a master restart.
        netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_NO_CONNECTION_WARNINGS, 1);
    }
    // net-snmp's agent library would also listen for SMUX peers on TCP port
    // 199 of every address; the host serves nothing through SMUX.
    char noSmux[] = "-smux";
    add_to_init_list(noSmux);
    if (init_agent("qvsnmp") != 0) {
        error = "cannot initialise the SNMP agent";
        return false;
    }
    if (!state.subagent) init_vacm_conf();

    for (const Oid& view : state.views) {
        const std::vector<oid> ids = FromOid(view);
        netsnmp_handler_registration* registration =
            netsnmp_create_handler_registration(("qvsnmp-" + ToText(view)).c_str(), Handle, ids.data(), ids.size(),
                                                HANDLER_CAN_RWRITE);
        registration->handler->myvoid = &state;
        if (netsnmp_register_handler(registration) != MIB_REGISTERED_OK) {
            error = "cannot register " + ToText(view);
            return false;
        }
    }
    if (!state.subagent) {
        // Read when init_snmp processes the configuration, like lines of a
        // configuration file of our own.
        std::string ro = "rocommunity " + state.options.roCommunity;
        netsnmp_config_remember(ro.data());
        if (!state.options.rwCommunity.empty()) {
            std::string rw = "rwcommunity " + state.options.rwCommunity;
            netsnmp_config_remember(rw.data());
        }
    }
    init_snmp("qvsnmp");

    if (state.subagent) return true;

    std::string ports;
    for (const auto& endpoint : state.options.listen) {
        if (!ports.empty()) ports += ',';
        ports += endpoint;
    }
    netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_PORTS, ports.c_str());
    if (init_master_agent() != 0) {
        error = "cannot listen on " + ports;
        return false;
    }
    return state.OpenSinks(error);
}

void SnmpAgent::Run(int stopDescriptor) {
    State& state = *state_;
    const int notify = state.worker.NotifyDescriptor();
    RegionWatch regionWatch;
    auto nextWatch = std::chrono::steady_clock::now() + kRegionWatchPeriod;
    for (;;) {
        if (std::chrono::steady_clock::now() >= nextWatch) {
            if (const std::string change = regionWatch.Check(); !change.empty()) snmp_log(LOG_WARNING, "%s\n", change.c_str());
            nextWatch = std::chrono::steady_clock::now() + kRegionWatchPeriod;
        }
        int count = 0;
        fd_set readable;
        FD_ZERO(&readable);
        struct timeval timeout{kSelectCapUs / 1000000, kSelectCapUs % 1000000};
        int block = 1;
        snmp_select_info(&count, &readable, &timeout, &block);
        const long waitUs = timeout.tv_sec * 1000000L + timeout.tv_usec;
        if (block != 0 || waitUs > kSelectCapUs) timeout = {kSelectCapUs / 1000000, kSelectCapUs % 1000000};
        FD_SET(notify, &readable);
        FD_SET(stopDescriptor, &readable);
        count = std::max({count, notify + 1, stopDescriptor + 1});
        const int ready = select(count, &readable, nullptr, nullptr, &timeout);
        if (ready > 0) {
            if (FD_ISSET(stopDescriptor, &readable)) return;
            if (FD_ISSET(notify, &readable)) state.OnWorkerReady();
            snmp_read(&readable);
            if (!state.toDrop.empty()) state.DropWaiters(std::exchange(state.toDrop, {}));
        } else if (ready == 0) {
            snmp_timeout();
        }
        run_alarms();
        netsnmp_check_outstanding_agent_requests();
    }
}

}  // namespace qv::host
