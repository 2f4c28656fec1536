// A binding list owned the way the SNMP service owns one: allocated with
// SnmpUtilMemAlloc and released, with everything the agent stored into it,
// by SnmpUtilVarBindListFree.
#pragma once

#include <cstring>
#include <vector>

#include "agent/extension_agent.h"
#include "query/agent_memory.h"
#include "qv_snmp.h"

namespace qv::test {

class BindingList {
public:
    explicit BindingList(const std::vector<std::vector<UINT>>& names) {
        list_.len = static_cast<UINT>(names.size());
        list_.list = static_cast<SnmpVarBind*>(SnmpUtilMemAlloc(list_.len * static_cast<UINT>(sizeof(SnmpVarBind))));
        for (UINT i = 0; i < list_.len; ++i) list_.list[i] = MakeBinding(names[i]);
    }
    ~BindingList() { SnmpUtilVarBindListFree(&list_); }
    BindingList(const BindingList&) = delete;
    BindingList& operator=(const BindingList&) = delete;

    SnmpVarBind& operator[](UINT i) { return list_.list[i]; }
    SnmpVarBindList* List() { return &list_; }

private:
    SnmpVarBindList list_{};
};

struct QueryResult {
    BOOL result;
    AsnInteger32 status;
    AsnInteger32 index;
};

inline QueryResult Query(BYTE pduType, BindingList& bindings) {
    QueryResult out{FALSE, -1, -1};
    out.result = SnmpExtensionQuery(pduType, bindings.List(), &out.status, &out.index);
    return out;
}

// A byte-for-byte copy of a binding's bytes, to tell that nothing changed.
inline std::vector<std::uint8_t> Snapshot(const SnmpVarBind& binding) {
    std::vector<std::uint8_t> bytes(sizeof binding);
    std::memcpy(bytes.data(), &binding, sizeof binding);
    if (binding.name.ids != nullptr) {
        const auto* ids = reinterpret_cast<const std::uint8_t*>(binding.name.ids);
        bytes.insert(bytes.end(), ids, ids + binding.name.idLength * sizeof(UINT));
    }
    return bytes;
}

}  // namespace qv::test
