// The extension agent, loaded the way the SNMP service loads it: dlopen, the
// four entry points looked up by name, start-up until SnmpExtensionInitEx says
// FALSE. Everything the module hands over is copied into plain values and
// released at once with the SnmpUtil functions, so no module memory outlives a
// call.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/request_logic.h"
#include "host/types.h"

namespace qv::host {

inline constexpr unsigned kWaitForever = 0xFFFFFFFFu;

class ExtensionModule : public ModuleAccess {
public:
    // Loads the library (its attach runs now); nullptr and a reason on failure.
    static std::unique_ptr<ExtensionModule> Load(const std::string& path, std::string& error);
    // The same calls through entry points linked into this process (the
    // request-path fuzz target); nothing is loaded or unloaded.
    struct EntryPoints;  // host/extension_entry_points.h
    static std::unique_ptr<ExtensionModule> FromEntryPoints(const EntryPoints& entry);
    ~ExtensionModule() override;  // unloads: the module's detach runs
    ExtensionModule(const ExtensionModule&) = delete;
    ExtensionModule& operator=(const ExtensionModule&) = delete;

    // SnmpExtensionInit, then SnmpExtensionInitEx until FALSE. Each view is
    // copied at once: the module reuses the array behind it.
    bool Start(std::string& error);
    const std::vector<Oid>& Views() const { return views_; }

    // One binding per SnmpExtensionQuery call, so that every binding has its
    // own status. Callers make one call at a time.
    ModuleAnswer Query(Operation operation, const VarBind& binding) override;
    std::vector<Application> Applications(std::uint16_t pen) override;

    // Waits up to `milliseconds` (kWaitForever: no limit) for the trap event;
    // true when it was set.
    bool WaitForTrapEvent(unsigned milliseconds);
    bool HasTrapEvent() const { return trapEvent_ != nullptr; }
    // Sets the trap event, so that a waiter returns (at shutdown). The module
    // answers the extra SnmpExtensionTrap call, if any, with FALSE.
    void WakeTrapWaiter();
    // SnmpExtensionTrap until it returns FALSE.
    std::vector<Trap> CollectTraps();

private:
    ExtensionModule() = default;
    void* library_ = nullptr;
    std::unique_ptr<EntryPoints> entry_;
    void* trapEvent_ = nullptr;
    std::vector<Oid> views_;
};

}  // namespace qv::host
