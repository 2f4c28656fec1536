#include "host/extension_module.h"
#include "host/extension_entry_points.h"

#include <dlfcn.h>

#include <cstring>

#include "qv_snmp.h"
#include "shm/wire.h"
#include "shm/shared_access.h"

namespace qv::host {

namespace {

constexpr char kBasePointerSymbol[] = "_ZN16SnmpSharedMemory26GetSharedMemoryBasePointerEv";

Oid CopyOid(const AsnObjectIdentifier& oid) {
    if (oid.ids == nullptr) return {};
    return Oid(oid.ids, oid.ids + oid.idLength);
}

Value CopyValue(const AsnAny& any) {
    Value value;
    value.type = any.asnType;
    if (any.asnType == ASN_INTEGER) {
        value.number = any.asnValue.number;
    } else if (any.asnType == ASN_OCTETSTRING && any.asnValue.string.stream != nullptr) {
        value.bytes.assign(reinterpret_cast<const char*>(any.asnValue.string.stream), any.asnValue.string.length);
    }
    return value;
}

// Builds a binding in utility-allocated memory, as the service would.
bool FillBinding(SnmpVarBind& target, const VarBind& source) {
    std::vector<UINT> ids(source.name.begin(), source.name.end());
    AsnObjectIdentifier name{static_cast<UINT>(ids.size()), ids.data()};
    if (!ids.empty() && SnmpUtilOidCpy(&target.name, &name) != SNMPAPI_NOERROR) return false;
    target.value.asnType = source.value.type;
    if (source.value.type == ASN_INTEGER) {
        target.value.asnValue.number = source.value.number;
    } else if (source.value.type == ASN_OCTETSTRING) {
        const auto length = static_cast<UINT>(source.value.bytes.size());
        auto* stream = static_cast<BYTE*>(SnmpUtilMemAlloc(length + 1));
        if (stream == nullptr) return false;
        std::memcpy(stream, source.value.bytes.data(), length);
        target.value.asnValue.string = AsnOctetString{stream, length, TRUE};
    }
    return true;
}

BYTE PduType(Operation operation) {
    switch (operation) {
        case Operation::Get: return SNMP_PDU_GET;
        case Operation::GetNext: return SNMP_PDU_GETNEXT;
        case Operation::Set: return SNMP_PDU_SET;
    }
    return SNMP_PDU_GET;
}

}  // namespace

std::unique_ptr<ExtensionModule> ExtensionModule::Load(const std::string& path, std::string& error) {
    std::unique_ptr<ExtensionModule> module(new ExtensionModule);
    module->entry_ = std::make_unique<EntryPoints>();
    module->library_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module->library_ == nullptr) {
        error = "cannot load " + path + ": " + ::dlerror();
        return nullptr;
    }
    auto& entry = *module->entry_;
    entry.init = reinterpret_cast<PFNSNMPEXTENSIONINIT>(::dlsym(module->library_, "SnmpExtensionInit"));
    entry.initEx = reinterpret_cast<PFNSNMPEXTENSIONINITEX>(::dlsym(module->library_, "SnmpExtensionInitEx"));
    entry.query = reinterpret_cast<PFNSNMPEXTENSIONQUERY>(::dlsym(module->library_, "SnmpExtensionQuery"));
    entry.trap = reinterpret_cast<PFNSNMPEXTENSIONTRAP>(::dlsym(module->library_, "SnmpExtensionTrap"));
    entry.basePointer =
        reinterpret_cast<QVSNMP_COMBufferHeaderLine* (*)()>(::dlsym(module->library_, kBasePointerSymbol));
    if (entry.init == nullptr || entry.initEx == nullptr || entry.query == nullptr || entry.trap == nullptr) {
        error = path + " is not an SNMP extension agent";
        return nullptr;
    }
    return module;
}

std::unique_ptr<ExtensionModule> ExtensionModule::FromEntryPoints(const EntryPoints& entry) {
    std::unique_ptr<ExtensionModule> module(new ExtensionModule);
    module->entry_ = std::make_unique<EntryPoints>(entry);
    return module;
}

ExtensionModule::~ExtensionModule() {
    if (library_ != nullptr) ::dlclose(library_);
}

bool ExtensionModule::Start(std::string& error) {
    HANDLE event = nullptr;
    AsnObjectIdentifier view{0, nullptr};
    if (!entry_->init(::GetTickCount(), &event, &view)) {
        error = "SnmpExtensionInit failed";
        return false;
    }
    trapEvent_ = event;
    views_.push_back(CopyOid(view));
    for (;;) {
        AsnObjectIdentifier next{0, nullptr};
        if (!entry_->initEx(&next)) break;
        views_.push_back(CopyOid(next));
    }
    return true;
}

ModuleAnswer ExtensionModule::Query(Operation operation, const VarBind& binding) {
    ModuleAnswer answer;
    SnmpVarBindList list{static_cast<SnmpVarBind*>(SnmpUtilMemAlloc(sizeof(SnmpVarBind))), 1};
    if (list.list == nullptr || !FillBinding(list.list[0], binding)) {
        SnmpUtilVarBindListFree(&list);
        answer.status = SNMP_ERRORSTATUS_GENERR;
        answer.binding = binding;
        return answer;
    }
    AsnInteger32 status = 0;
    AsnInteger32 index = 0;
    entry_->query(PduType(operation), &list, &status, &index);
    answer.status = status;
    answer.binding.name = CopyOid(list.list[0].name);
    answer.binding.value = CopyValue(list.list[0].value);
    SnmpUtilVarBindListFree(&list);
    return answer;
}

std::vector<ModuleAccess::Application> ExtensionModule::Applications(std::uint16_t pen) {
    std::vector<Application> applications;
    const QVSNMP_COMBufferHeaderLine* base = entry_->basePointer ? entry_->basePointer() : nullptr;
    if (base == nullptr) return applications;
    for (int i = 0; i < qv::shm::kSessionCount; ++i) {
        // Applications change these fields at any time: one read of each.
        const std::uint8_t state = qv::shm::LoadShared(base->sessionState[i]);
        if (state == qv::shm::kSessionFree) continue;
        if (qv::shm::LoadShared(base->pen[i]) != pen) continue;
        applications.push_back(Application{static_cast<std::uint8_t>(qv::shm::LoadShared(base->appId[i])),
                                           static_cast<std::uint8_t>(qv::shm::LoadShared(base->appInst[i])),
                                           state == qv::shm::kSessionUp});
    }
    return applications;
}

bool ExtensionModule::WaitForTrapEvent(unsigned milliseconds) {
    if (trapEvent_ == nullptr) {
        ::Sleep(milliseconds);
        return false;
    }
    static_assert(kWaitForever == INFINITE);
    return ::WaitForSingleObject(trapEvent_, milliseconds) == WAIT_OBJECT_0;
}

void ExtensionModule::WakeTrapWaiter() {
    if (trapEvent_ != nullptr) ::SetEvent(trapEvent_);
}

std::vector<Trap> ExtensionModule::CollectTraps() {
    std::vector<Trap> traps;
    for (;;) {
        AsnObjectIdentifier enterprise{0, nullptr};
        AsnInteger32 generic = 0;
        AsnInteger32 specific = 0;
        AsnTimeticks stamp = 0;
        SnmpVarBindList bindings{nullptr, 0};
        if (!entry_->trap(&enterprise, &generic, &specific, &stamp, &bindings)) {
            // A FALSE call may still leave an empty array behind.
            SnmpUtilVarBindListFree(&bindings);
            break;
        }
        Trap trap;
        trap.enterprise = CopyOid(enterprise);  // module storage: copied, never freed
        trap.generic = generic;
        trap.specific = specific;
        trap.timeStamp = stamp;
        for (UINT i = 0; i < bindings.len; ++i) {
            trap.bindings.push_back(VarBind{CopyOid(bindings.list[i].name), CopyValue(bindings.list[i].value)});
        }
        SnmpUtilVarBindListFree(&bindings);
        traps.push_back(std::move(trap));
    }
    return traps;
}

}  // namespace qv::host
