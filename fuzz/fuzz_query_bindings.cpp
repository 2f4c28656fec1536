// SnmpExtensionQuery with hostile binding lists: OIDs of any length and
// content, values of any type. No application answers, and the sessions the
// input can address are not up, so every binding ends without a reply wait.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "agent/extension_agent.h"
#include "fuzz/fuzz_support.h"
#include "shm/snmp_shared_memory.h"
#include "shm/snmp_time.h"

namespace {

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Byte() { return offset_ < size_ ? data_[offset_++] : 0; }
    std::uint32_t Word() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = (value << 8) | Byte();
        return value;
    }
    bool Done() const { return offset_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static qv::fuzz::GuardedRegion* base = [] {
        qv::fuzz::UsePrivateNamespace();
        SnmpTime::Init();
        return new qv::fuzz::GuardedRegion;
    }();
    Reader input(data, size);
    // The session table comes from the input too, but no row is ever up.
    base->Fill(nullptr, 0);
    for (int i = 0; i < 16; ++i) {
        base->Header()->sessionState[i] = static_cast<std::uint8_t>(input.Byte() % 2);
        base->Header()->pen[i] = static_cast<std::uint16_t>(input.Word());
        base->Header()->appId[i] = static_cast<std::int8_t>(input.Byte());
        base->Header()->appInst[i] = static_cast<std::int8_t>(input.Byte());
    }
    SnmpSharedMemory::SetSharedMemoryBasePointer(input.Byte() & 1 ? base->Header() : nullptr);

    static const BYTE kPduTypes[] = {SNMP_PDU_GET, SNMP_PDU_GETNEXT, SNMP_PDU_SET, SNMP_PDU_GETBULK, 0};
    const BYTE pduType = kPduTypes[input.Byte() % 5];
    const UINT count = input.Byte() % 5;
    SnmpVarBindList list{static_cast<SnmpVarBind*>(SnmpUtilMemAlloc(count * sizeof(SnmpVarBind) + 1)), count};
    for (UINT b = 0; b < count; ++b) {
        SnmpVarBind& binding = list.list[b];
        const UINT length = input.Byte() % 201;
        if (length > 0) {
            std::vector<UINT> ids(length);
            // Mostly the served prefix, so the checks past it are reached too.
            static const UINT kPrefix[] = {1, 3, 6, 1, 4, 1, 44821};
            const bool prefixed = input.Byte() % 4 != 0;
            for (UINT i = 0; i < length; ++i) ids[i] = prefixed && i < 7 ? kPrefix[i] : input.Word();
            if (prefixed && length > 6) ids[6] = input.Byte() % 2 ? 44821 : input.Word();
            AsnObjectIdentifier oid{length, ids.data()};
            SnmpUtilOidCpy(&binding.name, &oid);
        }
        binding.value.asnType = input.Byte();
        if (binding.value.asnType == ASN_OCTETSTRING || binding.value.asnType == ASN_OPAQUE) {
            const UINT bytes = input.Word() % 1200;
            binding.value.asnValue.string.stream = static_cast<BYTE*>(SnmpUtilMemAlloc(bytes + 1));
            for (UINT i = 0; i < bytes; ++i) binding.value.asnValue.string.stream[i] = input.Byte();
            binding.value.asnValue.string.length = bytes;
            binding.value.asnValue.string.dynamic = TRUE;
        } else if (binding.value.asnType == ASN_INTEGER || binding.value.asnType == ASN_COUNTER32) {
            binding.value.asnValue.number = static_cast<AsnInteger32>(input.Word());
        }
    }
    AsnInteger32 status = 0;
    AsnInteger32 index = 0;
    SnmpExtensionQuery(pduType, &list, &status, &index);
    SnmpUtilVarBindListFree(&list);
    return 0;
}
