#include "query/current_variable.h"

#include <algorithm>
#include <iterator>

namespace qv::query {
namespace {

CurrentVariable g_currentVariable = {};

}  // namespace

CurrentVariable& CurrentVariableRecord() { return g_currentVariable; }

void LoadCurrentVariable(const AsnObjectIdentifier& oid) {
    std::fill(std::begin(g_currentVariable.ids), std::end(g_currentVariable.ids), 0u);
    // Bounded by the record whatever the caller checked: a longer OID would
    // otherwise write past it.
    const UINT length = std::min(oid.idLength, kMaxOidLength);
    if (oid.ids != nullptr) std::copy(oid.ids, oid.ids + length, g_currentVariable.ids);
    g_currentVariable.length = oid.ids != nullptr ? length : 0;
}

AsnObjectIdentifier CurrentVariableOid() { return AsnObjectIdentifier{g_currentVariable.length, g_currentVariable.ids}; }

}  // namespace qv::query
