// The service worker's pieces in one process, over a base region in private
// memory and session regions of this test's own namespace.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <tuple>
#include <vector>

#include "shm/ring.h"
#include "shm/session_views.h"
#include "shm/snmp_session.h"
#include "shm/snmp_shared_memory.h"
#include "shm/snmp_time.h"
#include "support/test_environment.h"
#include "trap/trap_signal.h"
#include "worker/base_ring_reader.h"
#include "worker/connection.h"
#include "worker/service_worker.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class WorkerTest : public ::testing::Test {
protected:
    WorkerTest() : region_(0x100000, 0) {
        Base()->readIndex = Base()->writeIndex = Base()->trapReadIndex = 1;
        SnmpSharedMemory::SetSharedMemoryBasePointer(Base());
        ::InitializeCriticalSection(&g_TrapCriticalSection);
        qv::trap::g_hTrapEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }
    ~WorkerTest() override {
        for (int i = 0; i < 16; ++i) {
            qv::shm::SessionLock lock(i);
            qv::shm::session_views::Release(i);
        }
        SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr);
        ::CloseHandle(qv::trap::g_hTrapEvent);
        ::DeleteCriticalSection(&g_TrapCriticalSection);
    }
    QVSNMP_COMBufferHeaderLine* Base() { return reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(region_.data()); }
    static Bytes Record(int kind, int pen, int appId, int appInst) {
        Bytes record(1024, 0);
        record[2] = static_cast<std::uint8_t>(pen);
        record[3] = static_cast<std::uint8_t>(pen >> 8);
        record[4] = static_cast<std::uint8_t>(appId);
        record[5] = static_cast<std::uint8_t>(appInst);
        record[34] = static_cast<std::uint8_t>(kind);
        return record;
    }
    void Append(int kind, int pen, int appId, int appInst) { ASSERT_TRUE(qv::shm::RingAppend(Base(), Record(kind, pen, appId, appInst).data())); }
    // A connection into the lowest free slot, set up.
    void ConnectUp(int pen, int appId, int appInst) {
        const int slot = FindFreeSessionSlot();
        ProcessConnectionRequest(Record(1, pen, appId, appInst).data());
        Base()->sessionState[slot] = 2;
    }
    // The OUT region of slot 0 as an application maps it.
    std::uint8_t* MapOut() {
        mapping_ = ::OpenFileMappingA(FILE_MAP_WRITE, FALSE, "Global\\QV_OUT1.3.6.1.4.1.39917.0");
        return mapping_ ? static_cast<std::uint8_t*>(::MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, 0)) : nullptr;
    }

    qv::test::IsolatedEnvironment environment_;
    Bytes region_;
    HANDLE mapping_ = nullptr;
};

TEST_F(WorkerTest, ReadBaseRecordClassifiesRecordsAndWrapsFromSlot1023) {
    Base()->readIndex = Base()->writeIndex = 1021;
    for (const auto& r : std::vector<std::array<int, 4>>{{1, 44821, 1, 1}, {2, 44821, 1, 1}, {2, 44821, 1, 0}, {5, 44821, 1, 1}, {0, 44821, 0, 3}}) {
        Append(r[0], r[1], r[2], r[3]);
    }
    std::uint8_t buffer[1024];
    for (int kind : {1, 2, 9, 0, 9, 0}) EXPECT_EQ(ReadBaseRecord(buffer), kind) << "9: a trap without AppInst, 0: any other kind";
    EXPECT_EQ(Base()->readIndex, 3) << "slot 1023 is followed by slot 1, and an empty ring is left alone";
}

TEST_F(WorkerTest, ConnectionTakesTheLowestWhollyFreeRowOnceAndOpensEmptyRings) {
    Base()->pen[0] = 7;  // state 0, but not free
    Base()->appInst[1] = 1;
    const Bytes request = Record(1, 39917, -56, 4);
    ProcessConnectionRequest(request.data());
    EXPECT_EQ(Base()->sessionState[2], 1);
    EXPECT_EQ(Base()->pen[2], 39917);
    EXPECT_EQ(Base()->appId[2], -56);
    EXPECT_EQ(Base()->appInst[2], 4);
    EXPECT_EQ(Base()->keepAlive[2], 0);
    ASSERT_NE(SnmpSharedMemory::GetSharedMemoryInputPointer(2), nullptr);
    EXPECT_EQ(qv::shm::LoadRingIndices(SnmpSharedMemory::GetSharedMemoryOutputPointer(2)).write, 1);
    // The session is found by all 16 bits of the PEN and both signed bytes.
    for (const auto& [pen, appId, appInst] : std::vector<std::tuple<int, int, int>>{{39917 - 256, -56, 4}, {39917, 72, 4}, {39917, -56, -124}}) {
        EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(static_cast<std::uint16_t>(pen), static_cast<std::int8_t>(appId),
                                                       static_cast<std::int8_t>(appInst)), -1) << pen << " " << appId << " " << appInst;
    }
    EXPECT_EQ(SnmpSession::GetCurrentSnmpSessionId(39917, -56, 4), 2);
    ProcessConnectionRequest(request.data());  // the same identity again
    ProcessConnectionRequest(Record(1, 39917, 0, 4).data());  // anonymous
    EXPECT_EQ(Base()->sessionState[3], 0);
    for (int i = 0; i < 16; ++i) Base()->sessionState[i] = 1;
    EXPECT_EQ(FindFreeSessionSlot(), -1);
    SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr);
    EXPECT_EQ(FindFreeSessionSlot(), -1);
}

TEST_F(WorkerTest, TimeOutSendsTheNoticeReleasesTheViewsAndClearsTheRow) {
    ConnectUp(44821, 3, 9);
    std::uint8_t* out = MapOut();
    ASSERT_NE(out, nullptr);
    Base()->keepAlive[0] = 81;
    qv::worker::TimeOutSession(0);
    EXPECT_EQ(Base()->sessionState[0] + Base()->pen[0] + Base()->keepAlive[0], 0);
    EXPECT_EQ(SnmpSharedMemory::GetSharedMemoryInputPointer(0), nullptr);
    EXPECT_FALSE(qv::shm::session_views::Held(0));
    Bytes notice(1024);
    ASSERT_TRUE(qv::shm::RingTake(out, notice.data()));
    Bytes expected = Record(10, 44821, 3, 9);  // sequence 0, the identity, operation 10, fixed bytes
    expected[35] = 1, expected[39] = 3, expected[40] = 8, expected[1000] = 1, expected[1001] = 2;
    EXPECT_EQ(notice, expected);

    // Reconnected into the region the application still holds: only the rings are emptied.
    out[5000] = 0x5C;
    out[2] = 17;
    ConnectUp(44821, 3, 9);
    EXPECT_EQ(out[5000], 0x5C) << "an existing region is not zero-filled";
    EXPECT_EQ(qv::shm::LoadRingIndices(out).read + qv::shm::LoadRingIndices(out).write, 2);
    // A full OUT ring drops the notice; the session is released all the same.
    out[0] = 5, out[2] = 4;
    qv::worker::TimeOutSession(0);
    EXPECT_FALSE(qv::shm::session_views::Held(0));
    ::UnmapViewOfFile(out);
    ::CloseHandle(mapping_);
}

int CountEntries(const char* directory) {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) ++count;
    return count;
}

TEST_F(WorkerTest, TenThousandConnectAndTimeOutCyclesLeakNoHandleOrMapping) {
    auto mappings = [] {
        std::ifstream maps("/proc/self/maps");
        return static_cast<int>(std::count(std::istreambuf_iterator<char>(maps), {}, '\n'));
    };
    ConnectUp(5113, 4, 4);  // once first, so that lazily created state exists
    qv::worker::TimeOutSession(0);
    const int descriptors = CountEntries("/proc/self/fd"), mapped = mappings();
    for (int cycle = 0; cycle < 10000; ++cycle) {
        ConnectUp(5113, 4, 4);
        ASSERT_NE(Base()->pen[0], 0) << cycle;
        qv::worker::TimeOutSession(0);
    }
    EXPECT_EQ(CountEntries("/proc/self/fd"), descriptors);
    EXPECT_EQ(mappings(), mapped);
    EXPECT_TRUE(environment_.LeftoverSharedMemory().empty());
}

TEST_F(WorkerTest, LivenessLineOverwritesTheStartOfTheFileAndAMissingDirectoryIsIgnored) {
    std::ofstream(environment_.DriveC() / "QVSNMPALIVE.txt", std::ios::binary) << std::string(70, '#');
    qv::worker::WriteLivenessFile("090507");
    EXPECT_EQ(qv::test::ReadFileBytes(environment_.DriveC() / "QVSNMPALIVE.txt"),
              "Windows SNMP Service related QVSNMP.dll alive: 090507\r\n" + std::string(15, '#'));
    ::setenv("QVSNMP_DRIVE_C", (environment_.DriveC() / "missing").c_str(), 1);
    qv::worker::WriteLivenessFile("235959");
    EXPECT_FALSE(std::filesystem::exists(environment_.DriveC() / "missing"));
    ::setenv("QVSNMP_DRIVE_C", environment_.DriveC().c_str(), 1);
}

TEST_F(WorkerTest, QuitMessageEndsTheWorkerWithZero) {
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
}

// ---- whole passes ----------------------------------------------------------------------

TEST_F(WorkerTest, RecordOfAnotherKindEndsTheDrainForOnePass) {
    Append(5, 44821, 1, 1);
    Append(1, 44821, 1, 1);
    qv::worker::RunPass();
    EXPECT_EQ(Base()->readIndex, 2) << "only the kind-5 record is taken out";
    EXPECT_EQ(Base()->sessionState[0], 0);
    qv::worker::RunPass();
    EXPECT_EQ(Base()->sessionState[0], 1) << "the connection request waited for the next pass";
}

TEST_F(WorkerTest, OnePassTakesAFullRingAndItsTrapRecordsSignalTheEventOnce) {
    for (int i = 0; i < 1022; ++i) Append(2, 39917, 1, 1);
    const int before = qv::worker::TrapDetectionCount();
    qv::worker::RunPass();
    EXPECT_EQ(Base()->readIndex, Base()->writeIndex);
    EXPECT_EQ(qv::worker::TrapDetectionCount(), before + 1022);
    EXPECT_EQ(::WaitForSingleObject(qv::trap::g_hTrapEvent, 0), WAIT_OBJECT_0);
    Append(2, 39917, 1, 0);  // without AppInst: no trap for the worker
    qv::worker::RunPass();
    EXPECT_EQ(::WaitForSingleObject(qv::trap::g_hTrapEvent, 0), WAIT_TIMEOUT);
}

TEST_F(WorkerTest, PassPublishesServiceUpAndTheHeartbeat) {
    SnmpTime::Init();
    qv::worker::RunPass();
    EXPECT_EQ(Base()->serviceUp, 1);
    const __time64_t now = ::_time64(nullptr);
    std::tm local{};
    ::_localtime64_s(&local, &now);
    const std::uint8_t* d = Base()->heartbeatDigits;
    const int stamped = (d[0] * 10 + d[1]) * 3600 + (d[2] * 10 + d[3]) * 60 + d[4] * 10 + d[5];
    EXPECT_LE((local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec - stamped + 86400) % 86400, 2) << "local time";
    EXPECT_NEAR(static_cast<double>(Base()->heartbeatSeconds), SnmpTime::GetTime(), 2.0);
}

TEST_F(WorkerTest, OnlyAnUpSessionSilentFor81PassesIsTimedOut) {
    ConnectUp(5113, 1, 1);
    ConnectUp(5113, 2, 2);
    ProcessConnectionRequest(Record(1, 5113, 3, 3).data());  // stays in state 1
    Base()->keepAlive[0] = Base()->keepAlive[1] = Base()->keepAlive[2] = 79;
    Append(1, 5113, 2, 2);  // any record of a session's identity restarts its count
    qv::worker::RunPass();
    EXPECT_EQ(Base()->keepAlive[0], 80);
    EXPECT_EQ(Base()->keepAlive[1], 1);
    qv::worker::RunPass();
    EXPECT_EQ(Base()->sessionState[0], 0);
    EXPECT_EQ(Base()->sessionState[1], 2);
    EXPECT_EQ(Base()->sessionState[2], 1) << "a session in state 1 is never timed out";
}

}  // namespace
