#include "host/net_snmp_binding.h"

namespace qv::host {

Oid ToOid(const oid* ids, size_t length) { return Oid(ids, ids + length); }

std::vector<oid> FromOid(const Oid& value) { return std::vector<oid>(value.begin(), value.end()); }

Task TaskForVariable(Operation operation, const Oid& view, const netsnmp_variable_list& variable, bool inclusive) {
    Task task;
    task.operation = operation;
    task.view = view;
    task.name = ToOid(variable.name, variable.name_length);
    task.inclusive = inclusive;
    if (operation == Operation::Set) {
        task.value.type = variable.type;
        if (variable.type == ASN_INTEGER && variable.val.integer != nullptr) {
            task.value.number = static_cast<std::int32_t>(*variable.val.integer);
        } else if (variable.type == ASN_OCTET_STR && variable.val.string != nullptr) {
            task.value.bytes.assign(reinterpret_cast<const char*>(variable.val.string), variable.val_len);
        }
    }
    return task;
}

void SetValue(netsnmp_variable_list* variable, const Value& value) {
    if (value.type == kAsnInteger) {
        const long number = value.number;
        snmp_set_var_typed_value(variable, ASN_INTEGER, &number, sizeof number);
    } else {
        snmp_set_var_typed_value(variable, ASN_OCTET_STR, value.bytes.data(), value.bytes.size());
    }
}

}  // namespace qv::host
