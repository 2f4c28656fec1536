// The module linked into the fuzzing process, reached the way the host reaches
// it (ExtensionModule), over a base region of our own; apart from the target's
// net-snmp side, since the module's declarations and net-snmp's collide. The
// session table holds rows being opened, never up, so the module answers every
// query without waiting for a reply; the request logic is told they are up, so
// that its GETNEXT moves on from one application to the next.
#include <memory>

#include "agent/extension_agent.h"
#include "fuzz/fuzz_support.h"
#include "host/extension_entry_points.h"
#include "host/request_logic.h"

namespace qv::fuzz {
namespace {

class InProcessModule : public host::ModuleAccess {
public:
    InProcessModule() {
        // Two applications under one enterprise, one under another, and one
        // whose AppId and AppInst match a request only after the module's
        // truncation to 8 bits.
        const struct {
            std::uint16_t pen;
            std::int8_t appId, appInst;
        } rows[] = {{39917, 1, 1}, {39917, 2, 1}, {5113, 4, 2}, {4127, -1, 127}};
        auto* header = Base().Header();
        for (int slot = 0; slot < 4; ++slot) {
            header->sessionState[slot] = qv::shm::kSessionOpened;
            header->pen[slot] = rows[slot].pen;
            header->appId[slot] = rows[slot].appId;
            header->appInst[slot] = rows[slot].appInst;
        }
        module_ = host::ExtensionModule::FromEntryPoints({SnmpExtensionInit, SnmpExtensionInitEx, SnmpExtensionQuery,
                                                          SnmpExtensionTrap,
                                                          &SnmpSharedMemory::GetSharedMemoryBasePointer});
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
    std::unique_ptr<host::ExtensionModule> module_;
};

}  // namespace

host::ModuleAccess& HostModule() {
    static InProcessModule* module = new InProcessModule;
    return *module;
}

}  // namespace qv::fuzz
