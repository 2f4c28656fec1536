#include "fuzz/host_module_in_process.h"

#include <cstdint>
#include <memory>

#include "agent/extension_agent.h"
#include "fuzz/fuzz_support.h"
#include "host/extension_entry_points.h"
#include "shm/snmp_shared_memory.h"
#include "shm/snmp_time.h"

namespace qv::fuzz {
namespace {

struct Row {
    std::uint16_t pen;
    std::int8_t appId;
    std::int8_t appInst;
};
// Two applications under one enterprise (GETNEXT goes from one to the next),
// one under another, and one whose AppId and AppInst only match a request
// after the module's truncation to 8 bits.
constexpr Row kRows[] = {{39917, 1, 1}, {39917, 2, 1}, {5113, 4, 2}, {4127, -1, 127}};

class InProcessModule : public host::ModuleAccess {
public:
    InProcessModule() {
        UsePrivateNamespace();
        SnmpTime::Init();
        auto* header = base_.Header();
        int slot = 0;
        for (const Row& row : kRows) {
            header->sessionState[slot] = qv::shm::kSessionOpened;
            header->pen[slot] = row.pen;
            header->appId[slot] = row.appId;
            header->appInst[slot] = row.appInst;
            ++slot;
        }
        SnmpSharedMemory::SetSharedMemoryBasePointer(header);
        host::ExtensionModule::EntryPoints entry;
        entry.init = SnmpExtensionInit;
        entry.initEx = SnmpExtensionInitEx;
        entry.query = SnmpExtensionQuery;
        entry.trap = SnmpExtensionTrap;
        entry.basePointer = &SnmpSharedMemory::GetSharedMemoryBasePointer;
        module_ = host::ExtensionModule::FromEntryPoints(entry);
    }

    host::ModuleAnswer Query(host::Operation operation, const host::VarBind& binding) override {
        return module_->Query(operation, binding);
    }

    std::vector<Application> Applications(std::uint16_t pen) override {
        auto applications = module_->Applications(pen);
        for (auto& application : applications) application.up = true;
        return applications;
    }

private:
    GuardedRegion base_;
    std::unique_ptr<host::ExtensionModule> module_;
};

}  // namespace

host::ModuleAccess& HostModule() {
    static InProcessModule* module = new InProcessModule;
    return *module;
}

}  // namespace qv::fuzz
