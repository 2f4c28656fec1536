// SnmpExtensionTrap: the walk from the trap read index to the worker's read
// index, the bindings it makes, and what it logs.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <future>
#include <string>
#include <vector>

#include "agent/extension_agent.h"
#include "log/log_file_reader.h"
#include "log/snmp_log.h"
#include "shm/shared_access.h"
#include "shm/wire.h"
#include "shm/snmp_shared_memory.h"
#include "support/test_environment.h"
#include "trap/trap_delivery.h"
#include "trap/trap_signal.h"

namespace {

using Ids = std::vector<UINT>;

struct TrapRecord {
    std::uint16_t pen = 39917;
    std::vector<std::uint8_t> suffix = {3, 1, 1};  // AppId, AppInst, trap mark, ...
    std::uint8_t kind = 2;
    std::uint8_t type = ASN_INTEGER;
    std::int32_t number = 0;
    std::string text;
};

std::vector<UINT> IdsOf(const AsnObjectIdentifier& oid) {
    return oid.ids == nullptr ? Ids{} : Ids(oid.ids, oid.ids + oid.idLength);
}

class TrapDeliveryTest : public ::testing::Test {
protected:
    TrapDeliveryTest() : base_(qv::shm::kRegionSize, 0) {
        // The module attach does this in the agent; these tests run without it.
        if (!qv::trap::g_trapLockInitialised) {
            ::InitializeCriticalSection(&g_TrapCriticalSection);
            qv::trap::g_trapLockInitialised = true;
        }
        SetIndices(1, 1);
        SnmpSharedMemory::SetSharedMemoryBasePointer(Base());
    }
    ~TrapDeliveryTest() override {
        SnmpUtilVarBindListFree(&bindings_);
        SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr);
    }

    QVSNMP_COMBufferHeaderLine* Base() { return reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(base_.data()); }
    void SetIndices(std::uint16_t trapRead, std::uint16_t read) {
        Base()->trapReadIndex = trapRead;
        Base()->readIndex = read;
        Base()->writeIndex = read;
    }
    std::uint8_t* Slot(int index) { return base_.data() + index * qv::shm::kSlotSize; }

    void Put(int slot, const TrapRecord& record) {
        std::uint8_t* p = Slot(slot);
        std::memset(p, 0, qv::shm::kSlotSize);
        namespace field = qv::shm::record;
        qv::shm::WriteU16(p + field::kPen, record.pen);
        std::memcpy(p + field::kSuffix, record.suffix.data(), record.suffix.size());
        p[field::kKind] = record.kind;
        p[field::kValueType] = record.type;
        if (record.type == ASN_INTEGER) qv::shm::WriteI32(p + field::kValue, record.number);
        if (record.type == ASN_OCTETSTRING) std::memcpy(p + field::kValue, record.text.data(), record.text.size());
    }

    BOOL Walk() {
        SnmpUtilVarBindListFree(&bindings_);
        return SnmpExtensionTrap(&enterprise_, &generic_, &specific_, &timeStamp_, &bindings_);
    }

    qv::test::IsolatedEnvironment environment_;
    std::vector<std::uint8_t> base_;
    AsnObjectIdentifier enterprise_{99, nullptr};
    AsnInteger32 generic_ = -7;
    AsnInteger32 specific_ = -7;
    AsnTimeticks timeStamp_ = 12345;
    SnmpVarBindList bindings_{nullptr, 0};
    // The trap counter is process-wide; cases compare against its value at their start.
    const std::int32_t counter_ = qv::trap::TrapCounter();
};

TEST_F(TrapDeliveryTest, NothingPendingLappedOrBrokenIndicesReturnFalseAndTouchNothing) {
    struct Case {
        std::uint16_t trapRead, read, trapReadAfter;
    };
    // Caught up; lapped by the worker (the backlog is dropped); indices
    // outside 1..1023, which must never lead outside the region.
    for (const Case c : {Case{17, 17, 17}, Case{9, 8, 8}, Case{1, 1023, 1023}, Case{1, 0, 1}, Case{1, 5000, 1},
                         Case{0, 3, 3}, Case{2000, 3, 3}}) {
        SetIndices(c.trapRead, c.read);
        for (int slot = 1; slot <= 1023; ++slot) Put(slot, TrapRecord{});
        EXPECT_FALSE(Walk()) << c.trapRead << " " << c.read;
        EXPECT_EQ(Base()->trapReadIndex, c.trapReadAfter) << c.trapRead << " " << c.read;
        EXPECT_EQ(enterprise_.idLength, 99u);
        EXPECT_EQ(generic_, -7);
        EXPECT_EQ(specific_, -7);
        EXPECT_EQ(timeStamp_, 12345u);
        EXPECT_EQ(bindings_.list, nullptr);
    }
    EXPECT_EQ(qv::trap::TrapCounter(), counter_) << "no walk happened";
}

TEST_F(TrapDeliveryTest, ThreeRecordsOfThreePensMakeOneTrapUnderTheThirdsEnterprise) {
    SetIndices(5, 8);
    Put(5, TrapRecord{4127, {2, 1, 1}, 2, ASN_INTEGER, -3, {}});
    Put(6, TrapRecord{5113, {3, 1, 1, 5}, 2, ASN_OCTETSTRING, 0, "hello"});
    Put(7, TrapRecord{39917, {4, 2, 1, 127, 200}, 2, ASN_INTEGER, 70000, {}});
    Put(8, TrapRecord{4127, {9, 9, 1}, 2, ASN_INTEGER, 1, {}});  // at the read index: not yet
    qv::trap::g_agentStartTick = ::GetTickCount() - 12340;

    ASSERT_TRUE(Walk());
    ASSERT_EQ(bindings_.len, 3u);
    EXPECT_EQ(IdsOf(bindings_.list[0].name), (Ids{1, 3, 6, 1, 4, 1, 4127, 2, 1, 1}));
    EXPECT_EQ(bindings_.list[0].value.asnType, ASN_INTEGER);
    EXPECT_EQ(bindings_.list[0].value.asnValue.number, -3);
    EXPECT_EQ(IdsOf(bindings_.list[1].name), (Ids{1, 3, 6, 1, 4, 1, 5113, 3, 1, 1, 5}));
    EXPECT_EQ(bindings_.list[1].value.asnType, ASN_OCTETSTRING);
    EXPECT_EQ(bindings_.list[1].value.asnValue.string.dynamic, TRUE);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bindings_.list[1].value.asnValue.string.stream),
                          bindings_.list[1].value.asnValue.string.length),
              "hello");
    EXPECT_EQ(IdsOf(bindings_.list[2].name), (Ids{1, 3, 6, 1, 4, 1, 39917, 4, 2, 1, 127, 4294967240u}));
    EXPECT_EQ(bindings_.list[2].value.asnValue.number, 70000);

    EXPECT_EQ(IdsOf(enterprise_), (Ids{1, 3, 6, 1, 4, 1, 39917}));
    // Copied out first: the packed structures do not align their pointers.
    const UINT* enterpriseIds = enterprise_.ids;
    const UINT* nameIds = bindings_.list[2].name.ids;
    EXPECT_NE(enterpriseIds, nameIds) << "the enterprise is module storage, not a copy";
    EXPECT_EQ(generic_, 6);
    EXPECT_EQ(specific_, 1);
    // Hundredths of a second since the start tick.
    EXPECT_GE(timeStamp_, 1234u);
    EXPECT_LT(timeStamp_, 1234u + 200u);
    EXPECT_EQ(Base()->trapReadIndex, 8);
    EXPECT_EQ(qv::trap::TrapCounter(), counter_ + 4) << "three records and the walk";

    // The enterprise OID stays valid and unchanged for the next call.
    SnmpUtilVarBindListFree(&bindings_);
    EXPECT_EQ(IdsOf(enterprise_), (Ids{1, 3, 6, 1, 4, 1, 39917}));
}

TEST_F(TrapDeliveryTest, RecordsThatAreNotTrapsArePassedOver) {
    SetIndices(1, 5);
    Put(1, TrapRecord{39917, {3, 1, 0}, 2, ASN_INTEGER, 1, {}});  // trap mark 0
    Put(2, TrapRecord{39917, {3, 1, 1}, 1, ASN_INTEGER, 2, {}});  // connection request
    Put(3, TrapRecord{39917, {3, 1, 1}, 7, ASN_INTEGER, 3, {}});  // another kind
    Put(4, TrapRecord{39917, {3, 1, 2}, 2, ASN_INTEGER, 4, {}});  // trap mark 2
    EXPECT_FALSE(Walk());
    EXPECT_EQ(bindings_.len, 0u);
    EXPECT_EQ(bindings_.list, nullptr) << "the unused array is released";
    EXPECT_EQ(Base()->trapReadIndex, 5);
    EXPECT_EQ(enterprise_.idLength, 99u);
    EXPECT_EQ(qv::trap::TrapCounter(), counter_ + 1) << "the walk counts all the same";

    Put(5, TrapRecord{39917, {3, 1, 0}, 2, ASN_INTEGER, 1, {}});
    Put(6, TrapRecord{39917, {3, 1, 1}, 2, ASN_INTEGER, 6, {}});
    SetIndices(5, 7);
    ASSERT_TRUE(Walk());
    ASSERT_EQ(bindings_.len, 1u);
    EXPECT_EQ(bindings_.list[0].value.asnValue.number, 6);
}

TEST_F(TrapDeliveryTest, AnonymousRecordIsStillDeliveredUnderTheBareEnterprise) {
    SetIndices(1, 3);
    // AppId 0 ends the suffix at once; PENs outside the table use 44821.
    Put(1, TrapRecord{39917, {0, 1, 1}, 2, ASN_INTEGER, 5, {}});
    Put(2, TrapRecord{1234, {1, 1, 1}, 2, ASN_INTEGER, 6, {}});
    ASSERT_TRUE(Walk());
    ASSERT_EQ(bindings_.len, 2u);
    EXPECT_EQ(IdsOf(bindings_.list[0].name), (Ids{1, 3, 6, 1, 4, 1, 39917}));
    EXPECT_EQ(IdsOf(bindings_.list[1].name), (Ids{1, 3, 6, 1, 4, 1, 44821, 1, 1, 1}));
    EXPECT_EQ(IdsOf(enterprise_), (Ids{1, 3, 6, 1, 4, 1, 44821}));
}

TEST_F(TrapDeliveryTest, TextValuesOfAnyLengthStayInsideTheSlot) {
    SetIndices(1, 4);
    Put(1, TrapRecord{4127, {1, 1, 1}, 2, ASN_OCTETSTRING, 0, ""});
    Put(2, TrapRecord{4127, {1, 1, 1}, 2, ASN_OCTETSTRING, 0, std::string(qv::shm::record::kMaxTrapText, 'a')});
    Put(3, TrapRecord{4127, {1, 1, 1}, 2, ASN_OCTETSTRING, 0, {}});
    std::memset(Slot(3) + qv::shm::record::kValue, 'z', qv::shm::record::kValueSize);  // no zero byte at all
    ASSERT_TRUE(Walk());
    ASSERT_EQ(bindings_.len, 3u);
    EXPECT_EQ(bindings_.list[0].value.asnType, ASN_OCTETSTRING);
    EXPECT_EQ(bindings_.list[0].value.asnValue.string.length, 0u);
    EXPECT_EQ(bindings_.list[1].value.asnValue.string.length, qv::shm::record::kMaxTrapText);
    EXPECT_EQ(bindings_.list[2].value.asnValue.string.length, qv::shm::record::kValueSize)
        << "cut at the end of the slot";
}

TEST_F(TrapDeliveryTest, SuffixIsReadUpTo64BytesAndOtherValueTypesGiveEmptyBindings) {
    SetIndices(1, 3);
    TrapRecord longSuffix{4127, std::vector<std::uint8_t>(30, 7), 2, ASN_INTEGER, 1, {}};
    longSuffix.suffix[2] = 1;  // the trap mark
    Put(1, longSuffix);
    // No zero byte anywhere in offsets 4..67: 64 bytes are taken, the record
    // kind (2) and the value type (2) among them.
    namespace field = qv::shm::record;
    std::memset(Slot(1) + field::kKind + 1, 9, field::kValueType - field::kKind - 1);
    std::memset(Slot(1) + field::kValueType + 1, 9, field::kSuffix + field::kMaxSuffixBytes - field::kValueType - 1);
    Put(2, TrapRecord{5113, {1, 1, 1}, 2, ASN_COUNTER32, 0, {}});
    ASSERT_TRUE(Walk());
    ASSERT_EQ(bindings_.len, 2u);
    const Ids name = IdsOf(bindings_.list[0].name);
    ASSERT_EQ(name.size(), 7u + 64u);
    EXPECT_EQ(name[7 + field::kKind - field::kSuffix], 2u) << "the record kind";
    EXPECT_EQ(name[7 + field::kValueType - field::kSuffix], 2u) << "the value type";
    EXPECT_EQ(name.back(), 9u);
    EXPECT_EQ(bindings_.list[1].name.idLength, 0u);
    EXPECT_EQ(bindings_.list[1].value.asnType, 0);
    EXPECT_EQ(IdsOf(enterprise_), (Ids{1, 3, 6, 1, 4, 1, 5113})) << "the empty binding still counts as the last record";
}

TEST_F(TrapDeliveryTest, WalkWaitsForTheTrapLock) {
    SetIndices(1, 2);
    Put(1, TrapRecord{});
    ::EnterCriticalSection(&g_TrapCriticalSection);
    auto walk = std::async(std::launch::async, [&] { return Walk(); });
    EXPECT_EQ(walk.wait_for(std::chrono::milliseconds(150)), std::future_status::timeout);
    EXPECT_EQ(Base()->trapReadIndex, 1);
    ::LeaveCriticalSection(&g_TrapCriticalSection);
    EXPECT_TRUE(walk.get());
    EXPECT_EQ(Base()->trapReadIndex, 2);
}

TEST(TrapTimeStampTest, IsHundredthsOfASecondAcrossTheTickCountWrap) {
    EXPECT_EQ(qv::trap::TrapTimeStamp(12345, 0), 1234u);
    EXPECT_EQ(qv::trap::TrapTimeStamp(25, 0xFFFFFFF0u), 4u);  // 41 ms
    EXPECT_EQ(qv::trap::TrapTimeStamp(7, 7), 0u);
}

// ---- log lines ----------------------------------------------------------------------

class TrapLogTest : public TrapDeliveryTest {
protected:
    TrapLogTest() {
        environment_.CreateDebugDirectory();
        started_ = std::time(nullptr);
        if (!gb_LogCriticalSectionInitialised) {
            ::InitializeCriticalSection(&g_LogCriticalSection);
            gb_LogCriticalSectionInitialised = TRUE;
        }
        log_ = new CLogThread;
        log_->m_strFileName = L"C:\\QVTEMP\\QVSNMPDEBUG\\QVSNMP_WindowsSnmp.txt";
        log_->InitInstance();
        log_->StartLog();
        g_pLogThread = log_;
        gb_EnableLog = true;
    }
    ~TrapLogTest() override {
        gb_EnableLog = false;
        g_pLogThread = nullptr;
        log_->ExitInstance();
        delete log_;
    }

    // Log records without their time stamps, and with the %lf times replaced by
    // "t". The log object ends every message with a line feed of its own.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const std::u16string& record : qv::test::RecordsWithoutTimes(
                 qv::test::ReadUtf16File(environment_.DebugDirectory() / "QVSNMP_WindowsSnmp.txt"), started_,
                 std::time(nullptr))) {
            std::string line(record.begin(), record.end());
            const std::size_t time = line.find("Time: ");
            if (time != std::string::npos) {
                const std::size_t comma = line.find(',', time);
                line.replace(time + 6, comma - time - 6, "t");
            }
            lines.push_back(line);
        }
        return lines;
    }

    std::time_t started_ = 0;
    CLogThread* log_ = nullptr;
};

TEST_F(TrapLogTest, SlotsNearTheWrapAreLoggedAndEveryWalkLogsItsEnd) {
    SetIndices(1022, 2);
    Put(1022, TrapRecord{4127, {1, 1, 1}, 2, ASN_OCTETSTRING, 0, "abc"});
    Put(1023, TrapRecord{4127, {1, 1, 1}, 2, ASN_INTEGER, 1023, {}});
    Put(1, TrapRecord{4127, {1, 1, 1}, 2, ASN_INTEGER, 1, {}});
    Put(2, TrapRecord{4127, {1, 1, 1}, 2, ASN_INTEGER, 2, {}});  // at the read index: not yet
    // The walk wraps from slot 1023 to slot 1.
    ASSERT_TRUE(Walk());
    ASSERT_EQ(bindings_.len, 3u);
    EXPECT_EQ(bindings_.list[0].value.asnValue.string.length, 3u);
    EXPECT_EQ(bindings_.list[1].value.asnValue.number, 1023);
    EXPECT_EQ(bindings_.list[2].value.asnValue.number, 1);
    EXPECT_EQ(Base()->trapReadIndex, 2);
    // Slots 20..1000 are delivered without a line of their own.
    SetIndices(20, 22);
    Put(20, TrapRecord{4127, {1, 1, 1}, 2, ASN_OCTETSTRING, 0, "quiet"});
    Put(21, TrapRecord{4127, {1, 1, 1}, 2, ASN_INTEGER, 7, {}});
    ASSERT_TRUE(Walk());
    // A lapped reader walks nothing and logs nothing.
    SetIndices(3, 2);
    EXPECT_FALSE(Walk());

    const std::vector<std::string> expected = {
        "T INFO : QVSNMP File Logging started",
        "T INFO : Sending Trap. Count " + std::to_string(counter_) + ", Time: t, Read: 2, i_MaxNumberOfTraps:4, TrapRead: 1022, Index:0 \n\n",
        "T INFO : Sending Trap. l:3, msg:abc\n",
        "T INFO : Sending Trap. Count " + std::to_string(counter_ + 1) + ", Time: t, Read: 2, i_MaxNumberOfTraps:4, TrapRead: 1023, Index:1 \n\n",
        "T INFO : Sending Trap. Count " + std::to_string(counter_ + 2) + ", Time: t, Read: 2, i_MaxNumberOfTraps:4, TrapRead: 1, Index:2 \n\n",
        "T INFO : Leaving Sending Trap. Time: t, Read: 2, TrapRead: 2, Index:3 \n\n",
        "T INFO : Leaving Sending Trap. Time: t, Read: 22, TrapRead: 22, Index:2 \n\n",
    };
    EXPECT_EQ(Lines(), expected);
    EXPECT_EQ(qv::trap::TrapCounter(), counter_ + 7);
}

}  // namespace
