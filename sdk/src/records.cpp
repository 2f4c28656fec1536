#include "records.h"

#include <cstring>

#include "shm/shared_access.h"

namespace qvsnmp::detail {

// The public limits are the record's.
static_assert(kMaxTrapSuffix == record::kMaxTrapSuffix);
static_assert(kMaxTrapText == record::kMaxTrapText);

namespace {

void FillIdentity(std::uint8_t* record, const Identity& identity, std::uint8_t kind, std::uint16_t tag) {
    std::memset(record, 0, kRecordSize);
    qv::shm::WriteU16(record + record::kTag, tag);
    qv::shm::WriteU16(record + record::kPen, identity.pen);
    record[record::kAppId] = static_cast<std::uint8_t>(identity.appId);
    record[record::kAppInst] = static_cast<std::uint8_t>(identity.appInst);
    record[record::kKind] = kind;
}

}  // namespace

// The agent widens every byte of a name as a signed number, so 128..255 would
// come out as huge sub-identifiers; 0 ends a name.
bool IsValidSubIdentifier(std::uint8_t id) { return id >= 1 && id <= 127; }

void FillConnectionRequest(std::uint8_t* record, const Identity& identity, std::uint16_t tag) {
    FillIdentity(record, identity, record::kConnectionRequest, tag);
}

bool FillTrapRecord(std::uint8_t* record, const Identity& identity, const Suffix& suffix, const Value& value,
                    std::uint16_t tag) {
    if (suffix.size() > kMaxTrapSuffix) return false;
    for (const std::uint8_t id : suffix) {
        if (!IsValidSubIdentifier(id)) return false;
    }
    if (!value.IsInteger() && value.text().size() > kMaxTrapText) return false;
    FillIdentity(record, identity, record::kTrap, tag);
    record[record::kTrapMark] = record::kDeliverMark;
    if (!suffix.empty()) std::memcpy(record + record::kTrapSuffix, suffix.data(), suffix.size());
    record[record::kValueType] = static_cast<std::uint8_t>(value.type());
    if (value.IsInteger()) {
        qv::shm::WriteI32(record + record::kValue, value.integer());
    } else if (!value.text().empty()) {
        // The zero byte behind the text is already there (memset above).
        std::memcpy(record + record::kValue, value.text().data(), value.text().size());
    }
    return true;
}

}  // namespace qvsnmp::detail
