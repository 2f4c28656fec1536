// The service worker's pieces in one process, over regions of this test's own
// namespace.
#include <gtest/gtest.h>

#include <sys/types.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "qv_windows.h"
#include "shm/wire.h"
#include "shm/ring.h"
#include "shm/session_views.h"
#include "shm/shared_access.h"
#include "shm/snmp_session.h"
#include "shm/snmp_shared_memory.h"
#include "shm/snmp_time.h"
#include "support/test_environment.h"
#include "trap/trap_signal.h"
#include "worker/base_ring_reader.h"
#include "worker/connection.h"
#include "worker/service_worker.h"

namespace {

class WorkerUnitTest : public ::testing::Test {
protected:
    WorkerUnitTest() : region_(qv::shm::kRegionSize, 0) {
        Base()->readIndex = 1;
        Base()->writeIndex = 1;
        Base()->trapReadIndex = 1;
        SnmpSharedMemory::SetSharedMemoryBasePointer(Base());
    }
    ~WorkerUnitTest() override {
        for (int i = 0; i < qv::shm::kSessionCount; ++i) {
            qv::shm::SessionLock lock(i);
            qv::shm::session_views::Release(i);
        }
        SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr);
    }
    QVSNMP_COMBufferHeaderLine* Base() { return reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(region_.data()); }

    static std::vector<std::uint8_t> Record(int kind, int pen, int appId, int appInst) {
        std::vector<std::uint8_t> record(qv::shm::kSlotSize, 0);
        qv::shm::WriteU16(record.data() + qv::shm::record::kPen, static_cast<std::uint16_t>(pen));
        record[qv::shm::record::kAppId] = static_cast<std::uint8_t>(appId);
        record[qv::shm::record::kAppInst] = static_cast<std::uint8_t>(appInst);
        record[qv::shm::record::kKind] = static_cast<std::uint8_t>(kind);
        return record;
    }
    void Append(int kind, int pen, int appId, int appInst) {
        ASSERT_TRUE(qv::shm::RingAppend(Base(), Record(kind, pen, appId, appInst).data()));
    }
    static std::vector<std::uint8_t> ConnectionRequest(int pen, int appId, int appInst) {
        return Record(1, pen, appId, appInst);
    }
    // A connection in slot 0, up.
    void ConnectUp(int pen, int appId, int appInst) {
        ProcessConnectionRequest(ConnectionRequest(pen, appId, appInst).data());
        Base()->sessionState[0] = 2;
    }

    qv::test::IsolatedEnvironment environment_;
    std::vector<std::uint8_t> region_;
};

TEST_F(WorkerUnitTest, ReadBaseRecordClassifiesRecordsAndWrapsFromSlot1023) {
    Base()->readIndex = Base()->writeIndex = 1021;
    Append(1, 44821, 1, 1);
    Append(2, 44821, 1, 1);
    Append(2, 44821, 1, 0);
    Append(5, 44821, 1, 1);
    Append(0, 44821, 0, 3);
    std::uint8_t buffer[qv::shm::kSlotSize];
    EXPECT_EQ(ReadBaseRecord(buffer), 1);
    EXPECT_EQ(ReadBaseRecord(buffer), 2);
    EXPECT_EQ(ReadBaseRecord(buffer), 9) << "a trap without AppInst is anonymous";
    EXPECT_EQ(ReadBaseRecord(buffer), 0) << "other kinds are taken out, not processed";
    EXPECT_EQ(Base()->readIndex, 2) << "slot 1023 is followed by slot 1";
    EXPECT_EQ(ReadBaseRecord(buffer), 9);
    EXPECT_EQ(ReadBaseRecord(buffer), 0);
    EXPECT_EQ(Base()->readIndex, 3) << "an empty ring is left alone";
}

TEST_F(WorkerUnitTest, FindFreeSessionSlotNeedsTheWholeRowZero) {
    EXPECT_EQ(FindFreeSessionSlot(), 0);
    Base()->pen[0] = 7;  // state 0, but not free
    Base()->appInst[1] = 1;
    EXPECT_EQ(FindFreeSessionSlot(), 2);
    for (int i = 0; i < 16; ++i) Base()->sessionState[i] = 1;
    EXPECT_EQ(FindFreeSessionSlot(), -1);
    SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr);
    EXPECT_EQ(FindFreeSessionSlot(), -1);
}

TEST_F(WorkerUnitTest, ConnectionOpensEmptyRingsAndWritesTheRowLast) {
    const auto request = ConnectionRequest(39917, -56, 4);
    ProcessConnectionRequest(request.data());
    EXPECT_EQ(Base()->sessionState[0], 1);
    EXPECT_EQ(Base()->pen[0], 39917);
    EXPECT_EQ(Base()->appId[0], -56);
    EXPECT_EQ(Base()->appInst[0], 4);
    EXPECT_EQ(Base()->keepAlive[0], 0);
    void* in = SnmpSharedMemory::GetSharedMemoryInputPointer(0);
    void* out = SnmpSharedMemory::GetSharedMemoryOutputPointer(0);
    ASSERT_NE(in, nullptr);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ((qv::shm::LoadRingIndices(in).read), 1);
    EXPECT_EQ((qv::shm::LoadRingIndices(out).write), 1);
    // The same identity again changes nothing.
    ProcessConnectionRequest(request.data());
    EXPECT_EQ(Base()->sessionState[1], 0);
    // Anonymous identities get nothing.
    ProcessConnectionRequest(ConnectionRequest(39917, 0, 4).data());
    EXPECT_EQ(Base()->sessionState[1], 0);
}

TEST_F(WorkerUnitTest, ReconnectionIntoExistingRegionsOnlyEmptiesTheRings) {
    ConnectUp(4127, 1, 1);
    // An application still holds the OUT region: it survives the time-out.
    HANDLE held = ::OpenFileMappingA(FILE_MAP_WRITE, FALSE, "Global\\QV_OUT1.3.6.1.4.1.39917.0");
    ASSERT_NE(held, nullptr);
    auto* out = static_cast<std::uint8_t*>(::MapViewOfFile(held, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(out, nullptr);
    out[5000] = 0x5C;  // content beyond the indices
    reinterpret_cast<qv::shm::RingControl*>(out)->writeIndex = 17;
    qv::worker::TimeOutSession(0);
    ProcessConnectionRequest(ConnectionRequest(4127, 1, 1).data());
    EXPECT_EQ(out[5000], 0x5C) << "an existing region is not zero-filled";
    EXPECT_EQ(reinterpret_cast<qv::shm::RingControl*>(out)->writeIndex, 1);
    EXPECT_EQ(reinterpret_cast<qv::shm::RingControl*>(out)->readIndex, 1);
    ::UnmapViewOfFile(out);
    ::CloseHandle(held);
}

TEST_F(WorkerUnitTest, TimeOutSendsTheNoticeReleasesTheViewsAndClearsTheRow) {
    ConnectUp(44821, 3, 9);
    HANDLE mapping = ::OpenFileMappingA(FILE_MAP_WRITE, FALSE, "Global\\QV_OUT1.3.6.1.4.1.39917.0");
    ASSERT_NE(mapping, nullptr);
    void* out = ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
    Base()->keepAlive[0] = 81;
    qv::worker::TimeOutSession(0);

    EXPECT_EQ(Base()->sessionState[0], 0);
    EXPECT_EQ(Base()->pen[0], 0);
    EXPECT_EQ(Base()->keepAlive[0], 0);
    EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryInputPointer(0), nullptr);
    EXPECT_FALSE(qv::shm::session_views::Held(0));
    std::vector<std::uint8_t> notice(qv::shm::kSlotSize);
    ASSERT_TRUE(qv::shm::RingTake(out, notice.data()));
    // Sequence 0, the identity, operation 10 and fixed bytes; all else zero.
    namespace message = qv::shm::message;
    std::vector<std::uint8_t> expected(qv::shm::kSlotSize, 0);
    qv::shm::WriteU16(expected.data() + message::kPen, 44821);
    expected[message::kNoticeAppId] = 3;
    expected[message::kNoticeAppInst] = 9;
    expected[message::kOperation] = message::kTimeOutNotice;
    expected[message::kStatus] = message::kNoticeStatus;
    expected[message::kValueAttribute] = message::kAttribute;
    expected[message::kValue] = message::kNoticeValue;
    expected[message::kMarker1] = message::kMarker1Value;
    expected[message::kMarker2] = message::kMarker2Value;
    EXPECT_EQ(notice, expected);
    ::UnmapViewOfFile(out);
    ::CloseHandle(mapping);
}

TEST_F(WorkerUnitTest, TimeOutWithAFullOutRingStillReleasesTheSession) {
    ConnectUp(44821, 3, 9);
    void* out = SnmpSharedMemory::GetSharedMemoryOutputPointer(0);
    reinterpret_cast<qv::shm::RingControl*>(out)->readIndex = 5;
    reinterpret_cast<qv::shm::RingControl*>(out)->writeIndex = 4;
    qv::worker::TimeOutSession(0);
    EXPECT_EQ(Base()->sessionState[0], 0);
    EXPECT_FALSE(qv::shm::session_views::Held(0));
}

int CountEntries(const char* directory) {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) ++count;
    return count;
}

int CountMappings() {
    std::ifstream maps("/proc/self/maps");
    int count = 0;
    std::string line;
    while (std::getline(maps, line)) ++count;
    return count;
}

TEST_F(WorkerUnitTest, TenThousandConnectAndTimeOutCyclesLeakNoHandleOrMapping) {
    // One cycle first, so that lazily created process-wide state exists.
    ConnectUp(5113, 4, 4);
    qv::worker::TimeOutSession(0);
    const int descriptors = CountEntries("/proc/self/fd");
    const int mappings = CountMappings();
    for (int cycle = 0; cycle < 10000; ++cycle) {
        ConnectUp(5113, 4, 4);
        ASSERT_NE(Base()->pen[0], 0) << cycle;
        qv::worker::TimeOutSession(0);
    }
    EXPECT_EQ(CountEntries("/proc/self/fd"), descriptors);
    EXPECT_EQ(CountMappings(), mappings);
    EXPECT_TRUE(environment_.LeftoverSharedMemory().empty());
}

TEST_F(WorkerUnitTest, LivenessLineOverwritesTheStartOfALongerFile) {
    const auto path = environment_.DriveC() / "QVSNMPALIVE.txt";
    {
        std::ofstream file(path, std::ios::binary);
        file << std::string(70, '#');
    }
    qv::worker::WriteLivenessFile("090507");
    const std::string content = qv::test::ReadFileBytes(path);
    EXPECT_EQ(content, "Windows SNMP Service related QVSNMP.dll alive: 090507\r\n" + std::string(15, '#'));
}

TEST_F(WorkerUnitTest, LivenessFileThatCannotBeCreatedIsIgnored) {
    ::setenv("QVSNMP_DRIVE_C", (environment_.DriveC() / "missing").c_str(), 1);
    qv::worker::WriteLivenessFile("235959");
    EXPECT_FALSE(std::filesystem::exists(environment_.DriveC() / "missing"));
    ::setenv("QVSNMP_DRIVE_C", environment_.DriveC().c_str(), 1);
}

TEST_F(WorkerUnitTest, QuitMessageEndsTheWorkerWithZero) {
    ::InitializeCriticalSection(&g_TrapCriticalSection);
    DWORD threadId = 0;
    HANDLE thread = ::CreateThread(nullptr, 0, ServiceWorkerThreadProc, nullptr, 0, &threadId);
    ASSERT_NE(thread, nullptr);
    // The worker's first peek gives it its queue; until then posting fails.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!::PostThreadMessageW(threadId, WM_QUIT, 0, 0)) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(::WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    EXPECT_TRUE(::GetExitCodeThread(thread, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    ::CloseHandle(thread);
    ::DeleteCriticalSection(&g_TrapCriticalSection);
}

}  // namespace

namespace {

// Whole passes of the worker over a base region held in private memory.
class WorkerPassTest : public WorkerUnitTest {
protected:
    WorkerPassTest() {
        ::InitializeCriticalSection(&g_TrapCriticalSection);
        qv::trap::g_hTrapEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }
    ~WorkerPassTest() override {
        ::CloseHandle(qv::trap::g_hTrapEvent);
        qv::trap::g_hTrapEvent = nullptr;
        ::DeleteCriticalSection(&g_TrapCriticalSection);
    }
};

TEST_F(WorkerPassTest, RecordOfAnotherKindEndsTheDrainForOnePass) {
    Append(5, 44821, 1, 1);
    Append(1, 44821, 1, 1);
    qv::worker::RunPass();
    EXPECT_EQ(Base()->readIndex, 2) << "only the kind-5 record is taken out";
    EXPECT_EQ(Base()->sessionState[0], 0);
    qv::worker::RunPass();
    EXPECT_EQ(Base()->readIndex, 3);
    EXPECT_EQ(Base()->sessionState[0], 1) << "the connection request waited for the next pass";
}

TEST_F(WorkerPassTest, ThreeTrapRecordsInOnePassSignalTheEventOnce) {
    Append(2, 39917, 1, 1);
    Append(2, 39917, 1, 1);
    Append(2, 39917, 1, 1);
    const int before = qv::worker::TrapDetectionCount();
    qv::worker::RunPass();
    EXPECT_EQ(qv::worker::TrapDetectionCount(), before + 3);
    EXPECT_EQ(::WaitForSingleObject(qv::trap::g_hTrapEvent, 0), WAIT_OBJECT_0);
    qv::worker::RunPass();
    EXPECT_EQ(::WaitForSingleObject(qv::trap::g_hTrapEvent, 0), WAIT_TIMEOUT)
        << "a pass without trap records signals nothing";
}

TEST_F(WorkerPassTest, PassPublishesServiceUpAndHeartbeat) {
    SnmpTime::Init();
    qv::worker::RunPass();
    EXPECT_EQ(Base()->serviceUp, 1);
    const __time64_t now = ::_time64(nullptr);
    std::tm local{};
    ::_localtime64_s(&local, &now);
    const int hours = Base()->heartbeatDigits[0] * 10 + Base()->heartbeatDigits[1];
    const int minutes = Base()->heartbeatDigits[2] * 10 + Base()->heartbeatDigits[3];
    const int seconds = Base()->heartbeatDigits[4] * 10 + Base()->heartbeatDigits[5];
    const int stamped = hours * 3600 + minutes * 60 + seconds;
    const int clock = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    EXPECT_LE((clock - stamped + 86400) % 86400, 2) << "heartbeat digits are the local time";
    EXPECT_NEAR(static_cast<double>(Base()->heartbeatSeconds), SnmpTime::GetTime(), 2.0);
}

TEST_F(WorkerPassTest, UpSessionIsTimedOutOnThe81stSilentPass) {
    ConnectUp(5113, 1, 1);
    Base()->keepAlive[0] = 79;
    qv::worker::RunPass();
    EXPECT_EQ(Base()->keepAlive[0], 80);
    EXPECT_EQ(Base()->sessionState[0], 2);
    qv::worker::RunPass();
    EXPECT_EQ(Base()->sessionState[0], 0);
}

}  // namespace
