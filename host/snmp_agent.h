// The SNMP side of the host, on net-snmp's agent library: an embedded master
// agent or an AgentX subagent, one handler per view of the module. It holds
// every request for the module as a delegated request while the module worker
// runs it, so the agent keeps receiving (and can recognise retransmissions)
// while an application takes its time.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/module_worker.h"
#include "host/options.h"
#include "host/types.h"

namespace qv::host {

class SnmpAgent {
public:
    SnmpAgent(const Options& options, ModuleWorker& worker, std::vector<Oid> views);
    ~SnmpAgent();
    SnmpAgent(const SnmpAgent&) = delete;
    SnmpAgent& operator=(const SnmpAgent&) = delete;

    // Sets net-snmp up, binds the listeners or starts the AgentX session and
    // registers the views. false and a one-line reason on failure.
    bool Start(std::string& error);
    // Serves until `stopDescriptor` becomes readable.
    void Run(int stopDescriptor);

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace qv::host
