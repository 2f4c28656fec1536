// A burst of traps must never lap the agent's trap walk, which would drop
// every trap not yet delivered: BaseRing holds traps back while the records
// behind the walk leave no room, white-box over a base region of our own.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "qv_windows.h"
#include "qvsnmp/base_ring.h"
#include "shm/wire.h"
#include "shm/ring.h"
#include "shm/shared_access.h"
#include "support/test_environment.h"

namespace {

using namespace std::chrono_literals;
using qvsnmp::AppendStatus;

class TrapBacklogTest : public ::testing::Test {
protected:
    void SetUp() override {
        mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, qv::shm::kRegionSize,
                                      qv::shm::kBaseRegionName);
        ASSERT_NE(mapping_, nullptr);
        base_ = MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, 0);
        ASSERT_NE(base_, nullptr);
        ring_ = qvsnmp::BaseRing::Open();
        ASSERT_NE(ring_, nullptr);
    }
    void TearDown() override {
        ring_.reset();
        UnmapViewOfFile(base_);
        CloseHandle(mapping_);
    }
    QVSNMP_COMBufferHeaderLine& Header() { return *static_cast<QVSNMP_COMBufferHeaderLine*>(base_); }
    // The worker has taken everything up to `write`; the walk is at `walk`.
    void SetIndices(std::uint16_t walk, std::uint16_t write) {
        qv::shm::StoreShared(Header().trapReadIndex, walk);
        qv::shm::StoreShared(Header().readIndex, write);
        qv::shm::StoreShared(Header().writeIndex, write);
    }
    void PutTrapAt(std::uint16_t slot) {
        std::uint8_t* record = qv::shm::SlotAddress(base_, slot);
        record[qv::shm::record::kKind] = qv::shm::record::kTrap;
        record[qv::shm::record::kTrapMark] = qv::shm::record::kDeliverMark;
    }
    AppendStatus Trap() { return ring_->AppendTrap({39917, 1, 1}, {5}, qvsnmp::Value::Integer(1)).status; }

    qv::test::IsolatedEnvironment env_;
    HANDLE mapping_ = nullptr;
    void* base_ = nullptr;
    std::unique_ptr<qvsnmp::BaseRing> ring_;
};

TEST_F(TrapBacklogTest, TrapsGoInWhileTheWalkHasRoomForThemAndEveryKeepAlive) {
    // 1005 records behind the walk: one more leaves 16 for keep-alives.
    SetIndices(10, 1015);
    EXPECT_EQ(Trap(), AppendStatus::kAppended);
    EXPECT_EQ(Header().writeIndex, 1016);
}

TEST_F(TrapBacklogTest, ABurstWaitsForTheWalkAndReportsBusyWhenItNeverComes) {
    SetIndices(10, 1016);
    PutTrapAt(500);  // a trap the walk has yet to deliver
    const auto start = std::chrono::steady_clock::now();
    std::thread walk([this] {
        std::this_thread::sleep_for(300ms);
        qv::shm::StoreShared(Header().trapReadIndex, std::uint16_t{1016});
    });
    EXPECT_EQ(Trap(), AppendStatus::kAppended);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    walk.join();

    SetIndices(10, 1016);
    EXPECT_EQ(Trap(), AppendStatus::kBusy);
    EXPECT_EQ(Header().writeIndex, 1016);
}

TEST_F(TrapBacklogTest, KeepAlivesOfAQuietSpellAreCarriedPastWithAnonymousRecords) {
    // 1016 records behind a walk that no trap will wake: the count is carried
    // round to zero, so the trap lands where the walk starts.
    SetIndices(20, 13);  // 1016 behind, wrapped
    EXPECT_EQ(Trap(), AppendStatus::kAppended);
    EXPECT_EQ(Header().writeIndex, 21);
    EXPECT_EQ(qv::shm::SlotAddress(base_, 20)[qv::shm::record::kKind], qv::shm::record::kTrap);
    EXPECT_EQ(qv::shm::SlotAddress(base_, 19)[qv::shm::record::kAppId], 0);
}

}  // namespace
