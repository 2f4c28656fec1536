// Every byte the agent and the applications exchange: region names and sizes,
// the base-region header, the ring control slot, the base-ring records
// (connection request, trap record), the query message with its reply and the
// time-out notice. Nothing else in the code base spells an offset; it names
// the constants here.
//
// Every region is 1 MiB viewed as 1024 slots of 1024 bytes. Slot 0 is the
// control slot (the header in the base region, the two ring indices in a
// session region); slots 1 to 1023 carry records, one record per slot. All
// integers are little-endian, which both of our targets are. The structs below
// are the byte maps; the offset constants are taken from them, and the
// static_asserts pin every offset and size, so that the Linux and the Windows
// x64 builds agree with each other and with applications written in any
// language.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::shm {

// ---------------------------------------------------------------- regions

inline constexpr std::size_t kRegionSize = 0x100000;
inline constexpr std::size_t kSlotSize = 1024;
inline constexpr std::size_t kSlotCount = kRegionSize / kSlotSize;
inline constexpr std::uint16_t kFirstDataSlot = 1;
inline constexpr std::uint16_t kLastDataSlot = 1023;
inline constexpr int kSessionCount = 16;
// One slot is always left free, so a ring holds at most this many records.
inline constexpr int kRingCapacity = 1022;
static_assert(kSlotCount == 1024 && kLastDataSlot == kSlotCount - 1);
static_assert(kRingCapacity == kLastDataSlot - kFirstDataSlot);

inline constexpr char kBaseRegionName[] = "Global\\QV1.3.6.1.4.1";
// %d is the session index 0..15, in decimal without leading zeros.
inline constexpr char kInRegionNameFormat[] = "Global\\QV_IN1.3.6.1.4.1.39917.%d";
inline constexpr char kOutRegionNameFormat[] = "Global\\QV_OUT1.3.6.1.4.1.39917.%d";
// Large enough for either session region name with a two-digit index.
inline constexpr std::size_t kRegionNameBufferSize = 64;

// Session states in the session table.
inline constexpr std::uint8_t kSessionFree = 0;
inline constexpr std::uint8_t kSessionOpened = 1;  // written by the agent
inline constexpr std::uint8_t kSessionUp = 2;      // written by the application

// The enterprise numbers the agent serves, in the order their views are
// registered; the first one also names the agent's own status variable.
inline constexpr std::uint16_t kServedPens[4] = {44821, 5113, 4127, 39917};
inline constexpr int kServedPenCount = 4;
inline constexpr std::uint16_t kStatusPen = kServedPens[0];

// Value types in records and messages: the ASN.1 tags of the two types that
// cross the rings.
inline constexpr std::uint8_t kValueInteger = 2;
inline constexpr std::uint8_t kValueOctetString = 4;

using Record = std::uint8_t[kSlotSize];

}  // namespace qv::shm

// ------------------------------------------------- base-region header (slot 0)

// Slot 0 of the base region. The reserved areas are neither read nor written
// by the agent.
struct QVSNMP_COMBufferHeaderLine {
    std::uint16_t readIndex;       // next slot the service worker takes out
    std::uint16_t writeIndex;      // next slot an application fills
    std::uint16_t trapReadIndex;   // next slot the trap walk examines
    std::uint8_t serviceUp;        // 1 while the agent runs
    std::uint8_t reserved7[9];
    std::uint8_t sessionState[qv::shm::kSessionCount];
    std::uint16_t pen[qv::shm::kSessionCount];
    std::int8_t appId[qv::shm::kSessionCount];
    std::int8_t appInst[qv::shm::kSessionCount];
    std::uint16_t keepAlive[qv::shm::kSessionCount];  // worker passes since the last record
    std::uint8_t reserved128[832];
    std::uint8_t heartbeatDigits[6];  // local time HHMMSS, one digit value per byte
    std::uint8_t reserved966[2];
    std::int64_t heartbeatSeconds;    // agent time in whole seconds
    std::uint8_t reserved976[48];
};

static_assert(sizeof(QVSNMP_COMBufferHeaderLine) == qv::shm::kSlotSize);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, readIndex) == 0);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, writeIndex) == 2);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, trapReadIndex) == 4);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, serviceUp) == 6);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, reserved7) == 7);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, sessionState) == 16);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, pen) == 32);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, appId) == 64);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, appInst) == 80);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, keepAlive) == 96);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, reserved128) == 128);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, heartbeatDigits) == 960);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, reserved966) == 966);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, heartbeatSeconds) == 968);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, reserved976) == 976);

namespace qv::shm {

// ------------------------------------------- ring control (slot 0 of IN, OUT)

// Control slot of an IN or OUT region. The base-region header starts the same
// way, so the ring code treats both alike.
struct RingControl {
    std::uint16_t readIndex;
    std::uint16_t writeIndex;
    std::uint8_t reserved[1020];
};
static_assert(sizeof(RingControl) == kSlotSize);
static_assert(offsetof(RingControl, readIndex) == 0);
static_assert(offsetof(RingControl, writeIndex) == 2);
static_assert(offsetof(RingControl, reserved) == 4);
static_assert(offsetof(RingControl, readIndex) == offsetof(QVSNMP_COMBufferHeaderLine, readIndex));
static_assert(offsetof(RingControl, writeIndex) == offsetof(QVSNMP_COMBufferHeaderLine, writeIndex));

// ------------------------------------------------------- base-ring records

// A connection request: the agent reads the identity and the kind.
struct ConnectionRequestLayout {
    std::uint16_t tag;           // free for the sender, not read by the agent
    std::uint16_t pen;           // enterprise number of the sender
    std::int8_t appId;           // non-zero
    std::int8_t appInst;         // non-zero
    std::uint8_t notRead6[28];
    std::uint8_t kind;           // 1
    std::uint8_t notRead35[989];
};
static_assert(sizeof(ConnectionRequestLayout) == kSlotSize);
static_assert(offsetof(ConnectionRequestLayout, tag) == 0);
static_assert(offsetof(ConnectionRequestLayout, pen) == 2);
static_assert(offsetof(ConnectionRequestLayout, appId) == 4);
static_assert(offsetof(ConnectionRequestLayout, appInst) == 5);
static_assert(offsetof(ConnectionRequestLayout, notRead6) == 6);
static_assert(offsetof(ConnectionRequestLayout, kind) == 34);
static_assert(offsetof(ConnectionRequestLayout, notRead35) == 35);

// A trap record. Its identity and kind sit where a connection request has
// them, so the worker reads both kinds alike (record:: below).
struct TrapRecordLayout {
    std::uint16_t tag;             // free for the sender, not read by the agent
    std::uint16_t pen;             // enterprise number of the sender
    std::int8_t appId;             // 0 makes the record anonymous
    std::int8_t appInst;           // 0 makes the record anonymous
    std::uint8_t trapMark;         // 1: deliver
    std::uint8_t furtherSuffix[27];  // one sub-identifier a byte, zero-ended by offset 33
    std::uint8_t kind;             // 1 connection request, 2 trap
    std::uint8_t reserved35[3];
    std::uint8_t valueType;        // 2 integer, 4 octet string
    std::uint8_t reserved39;
    std::uint8_t value[984];       // i32, or text ended by a zero byte inside the slot
};
static_assert(sizeof(TrapRecordLayout) == kSlotSize);
static_assert(offsetof(TrapRecordLayout, tag) == 0);
static_assert(offsetof(TrapRecordLayout, pen) == 2);
static_assert(offsetof(TrapRecordLayout, appId) == 4);
static_assert(offsetof(TrapRecordLayout, appInst) == 5);
static_assert(offsetof(TrapRecordLayout, trapMark) == 6);
static_assert(offsetof(TrapRecordLayout, furtherSuffix) == 7);
static_assert(offsetof(TrapRecordLayout, kind) == 34);
static_assert(offsetof(TrapRecordLayout, reserved35) == 35);
static_assert(offsetof(TrapRecordLayout, valueType) == 38);
static_assert(offsetof(TrapRecordLayout, reserved39) == 39);
static_assert(offsetof(TrapRecordLayout, value) == 40);

namespace record {
inline constexpr std::size_t kTag = offsetof(TrapRecordLayout, tag);            // u16
inline constexpr std::size_t kPen = offsetof(TrapRecordLayout, pen);            // u16
inline constexpr std::size_t kAppId = offsetof(TrapRecordLayout, appId);        // i8
inline constexpr std::size_t kAppInst = offsetof(TrapRecordLayout, appInst);    // i8
inline constexpr std::size_t kKind = offsetof(TrapRecordLayout, kind);          // u8
inline constexpr std::uint8_t kConnectionRequest = 1;
inline constexpr std::uint8_t kTrap = 2;

// Trap records only.
inline constexpr std::size_t kTrapMark = offsetof(TrapRecordLayout, trapMark);
inline constexpr std::uint8_t kDeliverMark = 1;
inline constexpr std::size_t kTrapSuffix = offsetof(TrapRecordLayout, furtherSuffix);
// Further suffix bytes that leave room for their zero byte by offset 33.
inline constexpr std::size_t kMaxTrapSuffix = sizeof(TrapRecordLayout::furtherSuffix) - 1;
// The binding-name suffix the agent reads: AppId, AppInst, trap mark and the
// further bytes, up to a zero byte but never more than this many.
inline constexpr std::size_t kSuffix = kAppId;
inline constexpr std::size_t kMaxSuffixBytes = 64;
inline constexpr std::size_t kValueType = offsetof(TrapRecordLayout, valueType);
inline constexpr std::size_t kValue = offsetof(TrapRecordLayout, value);  // i32, or text
inline constexpr std::size_t kValueSize = sizeof(TrapRecordLayout::value);
// Text that leaves room for its zero byte inside the slot.
inline constexpr std::size_t kMaxTrapText = kValueSize - 1;
}  // namespace record

static_assert(record::kPen == offsetof(ConnectionRequestLayout, pen));
static_assert(record::kAppId == offsetof(ConnectionRequestLayout, appId));
static_assert(record::kAppInst == offsetof(ConnectionRequestLayout, appInst));
static_assert(record::kKind == offsetof(ConnectionRequestLayout, kind));
static_assert(record::kMaxTrapSuffix == 26);
static_assert(record::kValueSize == 984 && record::kMaxTrapText == 983);
static_assert(record::kSuffix + record::kMaxSuffixBytes <= kSlotSize);

// --------------------------------------- query message, reply, time-out notice

// One slot of a session ring. A request travels agent -> application in the
// OUT ring, its reply application -> agent in the IN ring. The time-out notice
// (operation 10) is laid out the same way, with AppId and AppInst in the
// first two tail bytes.
struct QueryMessageLayout {
    std::uint16_t sequence;
    std::uint16_t pen;
    std::uint8_t tail[24];          // OID tail, one byte a sub-identifier, zero-ended
    std::uint8_t reserved28[6];     // zero in a request; a GETNEXT reply's tail runs on to 35
    std::uint8_t operation;         // 3 GET, 5 GETNEXT, 7 SET, 10 time-out notice
    std::uint8_t status;            // reply status code
    std::uint16_t valueLength;      // SET requests
    std::uint8_t valueType;
    std::uint8_t valueAttribute;    // 3 in every message the agent writes
    std::uint8_t value[960];        // bytes 40..999
    std::uint8_t marker1;           // 1
    std::uint8_t marker2;           // 2
    std::uint8_t reserved1002[16];  // zero
    std::uint8_t reserved1018[6];   // not written
};
static_assert(sizeof(QueryMessageLayout) == kSlotSize);
static_assert(offsetof(QueryMessageLayout, sequence) == 0);
static_assert(offsetof(QueryMessageLayout, pen) == 2);
static_assert(offsetof(QueryMessageLayout, tail) == 4);
static_assert(offsetof(QueryMessageLayout, reserved28) == 28);
static_assert(offsetof(QueryMessageLayout, operation) == 34);
static_assert(offsetof(QueryMessageLayout, status) == 35);
static_assert(offsetof(QueryMessageLayout, valueLength) == 36);
static_assert(offsetof(QueryMessageLayout, valueType) == 38);
static_assert(offsetof(QueryMessageLayout, valueAttribute) == 39);
static_assert(offsetof(QueryMessageLayout, value) == 40);
static_assert(offsetof(QueryMessageLayout, marker1) == 1000);
static_assert(offsetof(QueryMessageLayout, marker2) == 1001);
static_assert(offsetof(QueryMessageLayout, reserved1002) == 1002);
static_assert(offsetof(QueryMessageLayout, reserved1018) == 1018);

namespace message {
inline constexpr std::size_t kSequence = offsetof(QueryMessageLayout, sequence);        // u16
inline constexpr std::size_t kPen = offsetof(QueryMessageLayout, pen);                  // u16
inline constexpr std::size_t kTail = offsetof(QueryMessageLayout, tail);
inline constexpr std::size_t kTailSize = sizeof(QueryMessageLayout::tail);
inline constexpr std::size_t kOperation = offsetof(QueryMessageLayout, operation);
inline constexpr std::size_t kStatus = offsetof(QueryMessageLayout, status);
inline constexpr std::size_t kValueLength = offsetof(QueryMessageLayout, valueLength);  // u16
inline constexpr std::size_t kValueType = offsetof(QueryMessageLayout, valueType);
inline constexpr std::size_t kValueAttribute = offsetof(QueryMessageLayout, valueAttribute);
inline constexpr std::size_t kValue = offsetof(QueryMessageLayout, value);
inline constexpr std::size_t kValueSize = sizeof(QueryMessageLayout::value);
inline constexpr std::size_t kMarker1 = offsetof(QueryMessageLayout, marker1);
inline constexpr std::size_t kMarker2 = offsetof(QueryMessageLayout, marker2);
// GETNEXT replies may carry up to 32 tail bytes (offsets 4..35).
inline constexpr std::size_t kReplyTailSize = 32;
// Text in the value field leaves room for its zero byte before the markers.
inline constexpr std::size_t kMaxText = kValueSize - 1;

// Operations.
inline constexpr std::uint8_t kGet = 3;
inline constexpr std::uint8_t kGetNext = 5;
inline constexpr std::uint8_t kSet = 7;
inline constexpr std::uint8_t kTimeOutNotice = 10;

// What the agent writes into every message it sends.
inline constexpr std::uint8_t kAttribute = 3;     // at kValueAttribute
inline constexpr std::uint8_t kMarker1Value = 1;  // at kMarker1
inline constexpr std::uint8_t kMarker2Value = 2;  // at kMarker2
// Value byte of a GET or GETNEXT request.
inline constexpr std::uint8_t kRequestValue = 1;

// Reply status codes (kStatus of a reply).
inline constexpr std::uint8_t kReplyOk = 2;
inline constexpr std::uint8_t kReplyGeneralError = 3;
inline constexpr std::uint8_t kReplyNoSuchName = 4;
inline constexpr std::uint8_t kReplyReadOnly = 5;
inline constexpr std::uint8_t kReplyBadValue = 6;

// The time-out notice: the slot's identity in the first two tail bytes, and
// fixed status and value bytes.
inline constexpr std::size_t kNoticeAppId = kTail;
inline constexpr std::size_t kNoticeAppInst = kTail + 1;
inline constexpr std::uint8_t kNoticeStatus = 1;
inline constexpr std::uint8_t kNoticeValue = 8;
}  // namespace message

static_assert(message::kTail + message::kTailSize == 28);
static_assert(message::kTail + message::kReplyTailSize == message::kValueLength);
static_assert(message::kValue + message::kValueSize == message::kMarker1);
static_assert(message::kMaxText == 959);

}  // namespace qv::shm
