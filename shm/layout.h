// The shared regions: names, sizes and the base-region header, byte for byte.
//
// Every region is 1 MiB viewed as 1024 slots of 1024 bytes. Slot 0 is the
// control slot (the header in the base region, the two ring indices in a
// session region); slots 1 to 1023 carry records. All integers are
// little-endian, which both of our targets are. The static_asserts pin every
// offset so that the Linux and the Windows x64 builds agree with each other and
// with applications written in any language.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::shm {

inline constexpr std::size_t kRegionSize = 0x100000;
inline constexpr std::size_t kSlotSize = 1024;
inline constexpr std::size_t kSlotCount = kRegionSize / kSlotSize;
inline constexpr std::uint16_t kFirstDataSlot = 1;
inline constexpr std::uint16_t kLastDataSlot = 1023;
inline constexpr int kSessionCount = 16;
// One slot is always left free, so a ring holds at most this many records.
inline constexpr int kRingCapacity = 1022;

inline constexpr char kBaseRegionName[] = "Global\\QV1.3.6.1.4.1";
inline constexpr char kInRegionNameFormat[] = "Global\\QV_IN1.3.6.1.4.1.39917.%d";
inline constexpr char kOutRegionNameFormat[] = "Global\\QV_OUT1.3.6.1.4.1.39917.%d";
// Large enough for either session region name with a two-digit index.
inline constexpr std::size_t kRegionNameBufferSize = 64;

// Session states in the session table.
inline constexpr std::uint8_t kSessionFree = 0;
inline constexpr std::uint8_t kSessionOpened = 1;  // written by the agent
inline constexpr std::uint8_t kSessionUp = 2;      // written by the application

using Record = std::uint8_t[kSlotSize];

}  // namespace qv::shm

// Slot 0 of the base region. Applications map the same bytes, so the layout is
// fixed; the reserved areas are neither read nor written by the agent.
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
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, sessionState) == 16);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, pen) == 32);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, appId) == 64);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, appInst) == 80);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, keepAlive) == 96);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, reserved128) == 128);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, heartbeatDigits) == 960);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, heartbeatSeconds) == 968);
static_assert(offsetof(QVSNMP_COMBufferHeaderLine, reserved976) == 976);

namespace qv::shm {

// Control slot of an IN or OUT region.
struct RingControl {
    std::uint16_t readIndex;
    std::uint16_t writeIndex;
    std::uint8_t reserved[1020];
};
static_assert(sizeof(RingControl) == kSlotSize);
static_assert(offsetof(RingControl, readIndex) == 0);
static_assert(offsetof(RingControl, writeIndex) == 2);

// Fields every base-ring record carries.
namespace record {
inline constexpr std::size_t kPen = 2;      // u16
inline constexpr std::size_t kAppId = 4;    // i8
inline constexpr std::size_t kAppInst = 5;  // i8
inline constexpr std::size_t kKind = 34;    // u8
inline constexpr std::uint8_t kConnectionRequest = 1;
inline constexpr std::uint8_t kTrap = 2;
}  // namespace record

}  // namespace qv::shm
