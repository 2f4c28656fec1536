// SnmpExtensionTrap: the walk from the trap read index to the worker's read
// index over a base region in memory, the bindings it makes, and its log lines.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <ctime>
#include <future>
#include <string>
#include <tuple>
#include <vector>

#include "agent/extension_agent.h"
#include "log/log_file_reader.h"
#include "log/snmp_log.h"
#include "shm/snmp_shared_memory.h"
#include "support/test_environment.h"
#include "trap/trap_delivery.h"
#include "trap/trap_signal.h"

namespace {

using Ids = std::vector<UINT>;
const Ids kEnterprise = {1, 3, 6, 1, 4, 1};

Ids Name(UINT pen, std::initializer_list<UINT> suffix) {
    Ids ids = kEnterprise;
    ids.push_back(pen);
    ids.insert(ids.end(), suffix);
    return ids;
}
Ids IdsOf(const AsnObjectIdentifier& oid) { return oid.ids == nullptr ? Ids{} : Ids(oid.ids, oid.ids + oid.idLength); }

class TrapDeliveryTest : public ::testing::Test {
protected:
    TrapDeliveryTest() : base_(0x100000, 0) {
        // The module attach does this in the agent.
        if (!qv::trap::g_trapLockInitialised) ::InitializeCriticalSection(&g_TrapCriticalSection);
        qv::trap::g_trapLockInitialised = true;
        SetIndices(1, 1);
        SnmpSharedMemory::SetSharedMemoryBasePointer(reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(base_.data()));
    }
    ~TrapDeliveryTest() override {
        SnmpUtilVarBindListFree(&bindings_);
        SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr);
    }
    void SetIndices(std::uint16_t trapRead, std::uint16_t read) {
        std::memcpy(&base_[0], &read, 2);
        std::memcpy(&base_[2], &read, 2);
        std::memcpy(&base_[4], &trapRead, 2);
    }
    std::uint16_t TrapReadIndex() const { return static_cast<std::uint16_t>(base_[4] | base_[5] << 8); }
    std::uint8_t* Slot(int index) { return &base_[static_cast<std::size_t>(index) * 1024]; }
    // A trap record (kind 2) in `slot`: PEN, suffix bytes from offset 4
    // (AppId, AppInst, trap mark, ...), and an integer or a text value.
    void Put(int slot, std::uint16_t pen, const std::vector<std::uint8_t>& suffix, std::int32_t number, const char* text = nullptr,
             std::uint8_t kind = 2) {
        std::uint8_t* p = Slot(slot);
        std::memset(p, 0, 1024);
        std::memcpy(p + 2, &pen, 2);
        std::copy(suffix.begin(), suffix.end(), p + 4);
        p[34] = kind;
        p[38] = text ? ASN_OCTETSTRING : ASN_INTEGER;
        if (text) std::strcpy(reinterpret_cast<char*>(p + 40), text);
        if (!text) std::memcpy(p + 40, &number, 4);
    }
    BOOL Walk() {
        SnmpUtilVarBindListFree(&bindings_);
        return SnmpExtensionTrap(&enterprise_, &generic_, &specific_, &timeStamp_, &bindings_);
    }
    const SnmpVarBind& Binding(UINT i) const { return bindings_.list[i]; }

    qv::test::IsolatedEnvironment environment_;
    std::vector<std::uint8_t> base_;
    AsnObjectIdentifier enterprise_{99, nullptr};
    AsnInteger32 generic_ = -7, specific_ = -7;
    AsnTimeticks timeStamp_ = 12345;
    SnmpVarBindList bindings_{nullptr, 0};
    const std::int32_t counter_ = qv::trap::TrapCounter();  // process-wide
};

TEST_F(TrapDeliveryTest, NothingPendingLappedOrBrokenIndicesReturnFalseAndTouchNothing) {
    for (int slot = 1; slot <= 1023; ++slot) Put(slot, 39917, {3, 1, 1}, 0);
    // Caught up; lapped by the worker (the backlog is dropped); indices outside 1..1023.
    for (const auto [trapRead, read, after] : std::vector<std::array<std::uint16_t, 3>>{
             {17, 17, 17}, {9, 8, 8}, {1, 1023, 1023}, {1, 0, 1}, {1, 5000, 1}, {0, 3, 3}, {2000, 3, 3}}) {
        SetIndices(trapRead, read);
        EXPECT_FALSE(Walk()) << trapRead << " " << read;
        EXPECT_EQ(TrapReadIndex(), after) << trapRead << " " << read;
        EXPECT_EQ(std::tuple(enterprise_.idLength, generic_, specific_, timeStamp_), std::tuple(99u, -7, -7, 12345u));
        EXPECT_EQ(bindings_.list, nullptr);
    }
    EXPECT_EQ(qv::trap::TrapCounter(), counter_) << "no walk happened";
}

TEST_F(TrapDeliveryTest, RecordsOfThreePensMakeOneTrapUnderTheLastOnesEnterprise) {
    SetIndices(5, 8);
    Put(5, 4127, {2, 1, 1}, -3);
    Put(6, 5113, {3, 1, 1, 5}, 0, "hello");
    Put(7, 39917, {4, 2, 1, 127, 200}, 70000);
    Put(8, 4127, {9, 9, 1}, 1);  // at the read index: not yet
    qv::trap::g_agentStartTick = ::GetTickCount() - 12340;
    ASSERT_TRUE(Walk());
    ASSERT_EQ(bindings_.len, 3u);
    EXPECT_EQ(IdsOf(Binding(0).name), Name(4127, {2, 1, 1}));
    EXPECT_EQ(Binding(0).value.asnType, ASN_INTEGER);
    EXPECT_EQ(Binding(0).value.asnValue.number, -3);
    EXPECT_EQ(IdsOf(Binding(1).name), Name(5113, {3, 1, 1, 5}));
    EXPECT_EQ(Binding(1).value.asnValue.string.dynamic, TRUE);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(Binding(1).value.asnValue.string.stream), Binding(1).value.asnValue.string.length), "hello");
    EXPECT_EQ(IdsOf(Binding(2).name), Name(39917, {4, 2, 1, 127, 4294967240u})) << "suffix bytes sign-extended";
    EXPECT_EQ(Binding(2).value.asnValue.number, 70000);
    EXPECT_EQ(IdsOf(enterprise_), Name(39917, {}));
    EXPECT_NE(static_cast<const UINT*>(enterprise_.ids), static_cast<const UINT*>(Binding(2).name.ids)) << "module storage, not a copy";
    EXPECT_EQ(generic_, 6);
    EXPECT_EQ(specific_, 1);
    EXPECT_GE(timeStamp_, 1234u) << "hundredths of a second since the start tick";
    EXPECT_LT(timeStamp_, 1234u + 200u);
    EXPECT_EQ(TrapReadIndex(), 8);
    EXPECT_EQ(qv::trap::TrapCounter(), counter_ + 4) << "three records and the walk";
    SnmpUtilVarBindListFree(&bindings_);
    EXPECT_EQ(IdsOf(enterprise_), Name(39917, {})) << "valid and unchanged for the next call";
}

TEST_F(TrapDeliveryTest, OnlyKind2RecordsWithTrapMark1AreTraps) {
    SetIndices(1, 5);
    Put(1, 39917, {3, 1, 0}, 1);
    Put(2, 39917, {3, 1, 1}, 2, nullptr, 1);
    Put(3, 39917, {3, 1, 1}, 3, nullptr, 7);
    Put(4, 39917, {3, 1, 2}, 4);
    EXPECT_FALSE(Walk());
    EXPECT_EQ(bindings_.list, nullptr) << "the unused array is released";
    EXPECT_EQ(TrapReadIndex(), 5);
    EXPECT_EQ(enterprise_.idLength, 99u);
    EXPECT_EQ(qv::trap::TrapCounter(), counter_ + 1) << "the walk counts all the same";
}

TEST_F(TrapDeliveryTest, AppIdZeroEndsTheSuffixAndUnknownPensGoUnder44821) {
    SetIndices(1, 3);
    Put(1, 39917, {0, 1, 1}, 5);
    Put(2, 1234, {1, 1, 1}, 6);
    ASSERT_TRUE(Walk());
    ASSERT_EQ(bindings_.len, 2u);
    EXPECT_EQ(IdsOf(Binding(0).name), Name(39917, {}));
    EXPECT_EQ(IdsOf(Binding(1).name), Name(44821, {1, 1, 1}));
    EXPECT_EQ(IdsOf(enterprise_), Name(44821, {}));
}

TEST_F(TrapDeliveryTest, SuffixIsReadUpTo64BytesTextsStayInTheSlotAndOtherTypesGiveEmptyBindings) {
    SetIndices(1, 5);
    Put(1, 4127, std::vector<std::uint8_t>(30, 7), 1);
    Slot(1)[6] = 1;  // the trap mark
    std::memset(Slot(1) + 35, 9, 3);  // no zero byte in offsets 4..67
    std::memset(Slot(1) + 39, 9, 29);
    Put(2, 4127, {1, 1, 1}, 0, "");
    Put(3, 4127, {1, 1, 1}, 0, "x");
    std::memset(Slot(3) + 40, 'z', 1024 - 40);  // no zero byte at all
    Put(4, 5113, {1, 1, 1}, 0);
    Slot(4)[38] = ASN_COUNTER32;
    ASSERT_TRUE(Walk());
    ASSERT_EQ(bindings_.len, 4u);
    const Ids name = IdsOf(Binding(0).name);
    ASSERT_EQ(name.size(), 7u + 64u);
    EXPECT_EQ(name[7 + 30], 2u) << "offset 34, the record kind";
    EXPECT_EQ(name[7 + 34], 2u) << "offset 38, the value type";
    EXPECT_EQ(name.back(), 9u);
    EXPECT_EQ(Binding(1).value.asnType, ASN_OCTETSTRING);
    EXPECT_EQ(Binding(1).value.asnValue.string.length, 0u);
    EXPECT_EQ(Binding(2).value.asnValue.string.length, 984u) << "cut at the end of the slot";
    EXPECT_EQ(Binding(3).name.idLength, 0u);
    EXPECT_EQ(Binding(3).value.asnType, 0);
    EXPECT_EQ(IdsOf(enterprise_), Name(5113, {})) << "the empty binding still counts as the last record";
}

TEST_F(TrapDeliveryTest, WalkWaitsForTheTrapLock) {
    SetIndices(1, 2);
    Put(1, 39917, {3, 1, 1}, 0);
    ::EnterCriticalSection(&g_TrapCriticalSection);
    auto walk = std::async(std::launch::async, [&] { return Walk(); });
    EXPECT_EQ(walk.wait_for(std::chrono::milliseconds(150)), std::future_status::timeout);
    EXPECT_EQ(TrapReadIndex(), 1);
    ::LeaveCriticalSection(&g_TrapCriticalSection);
    EXPECT_TRUE(walk.get());
    EXPECT_EQ(TrapReadIndex(), 2);
}

TEST(TrapTimeStampTest, IsHundredthsOfASecondAcrossTheTickCountWrap) {
    EXPECT_EQ(qv::trap::TrapTimeStamp(12345, 0), 1234u);
    EXPECT_EQ(qv::trap::TrapTimeStamp(25, 0xFFFFFFF0u), 4u);  // 41 ms
    EXPECT_EQ(qv::trap::TrapTimeStamp(7, 7), 0u);
}

TEST_F(TrapDeliveryTest, SlotsNearTheWrapAreLoggedAndEveryWalkLogsItsEnd) {
    environment_.CreateDebugDirectory();
    const std::time_t started = std::time(nullptr);
    if (!gb_LogCriticalSectionInitialised) ::InitializeCriticalSection(&g_LogCriticalSection);
    gb_LogCriticalSectionInitialised = TRUE;
    CLogThread log;
    log.m_strFileName = L"C:\\QVTEMP\\QVSNMPDEBUG\\QVSNMP_WindowsSnmp.txt";
    log.InitInstance();
    log.StartLog();
    g_pLogThread = &log;
    gb_EnableLog = true;

    SetIndices(1022, 2);  // the walk wraps from slot 1023 to slot 1
    Put(1022, 4127, {1, 1, 1}, 0, "abc");
    Put(1023, 4127, {1, 1, 1}, 1023);
    Put(1, 4127, {1, 1, 1}, 1);
    ASSERT_TRUE(Walk());
    EXPECT_EQ(bindings_.len, 3u);
    SetIndices(20, 22);  // slots 20..1000 are delivered without a line of their own
    Put(20, 4127, {1, 1, 1}, 0, "quiet");
    Put(21, 4127, {1, 1, 1}, 7);
    ASSERT_TRUE(Walk());
    SetIndices(3, 2);  // a lapped reader walks nothing and logs nothing
    EXPECT_FALSE(Walk());
    gb_EnableLog = false;
    g_pLogThread = nullptr;
    log.ExitInstance();

    std::vector<std::string> lines;
    for (const std::u16string& record : qv::test::RecordsWithoutTimes(
             qv::test::ReadUtf16File(environment_.DebugDirectory() / "QVSNMP_WindowsSnmp.txt"), started, std::time(nullptr))) {
        std::string line(record.begin(), record.end());
        const std::size_t time = line.find("Time: ");
        if (time != std::string::npos) line.replace(time + 6, line.find(',', time) - time - 6, "t");
        lines.push_back(line);
    }
    auto sending = [&](int count, int trapRead, int index) {
        return "T INFO : Sending Trap. Count " + std::to_string(counter_ + count) + ", Time: t, Read: 2, i_MaxNumberOfTraps:4, TrapRead: " +
               std::to_string(trapRead) + ", Index:" + std::to_string(index) + " \n\n";
    };
    EXPECT_EQ(lines, (std::vector<std::string>{"T INFO : QVSNMP File Logging started", sending(0, 1022, 0),
                                                "T INFO : Sending Trap. l:3, msg:abc\n", sending(1, 1023, 1), sending(2, 1, 2),
                                                "T INFO : Leaving Sending Trap. Time: t, Read: 2, TrapRead: 2, Index:3 \n\n",
                                                "T INFO : Leaving Sending Trap. Time: t, Read: 22, TrapRead: 22, Index:2 \n\n",
                                                "T INFO : File Logging stopped"}));
    EXPECT_EQ(qv::trap::TrapCounter(), counter_ + 7);
}

}  // namespace
