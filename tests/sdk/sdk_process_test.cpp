// SDK applications in their own processes against the agent in the test host.
#include <signal.h>

#include <atomic>
#include <map>
#include <thread>

#include "qv_windows.h"
#include "sdk_fixture.h"
#include "shm/wire.h"
#include "shm/ring.h"
#include "shm/shared_access.h"
#include "tagged_record.h"

namespace qv::test {
namespace {

using SdkApplicationTest = SdkProcessTest;

TEST_F(SdkApplicationTest, SilentApplicationIsTimedOutAndReconnectsWhenItResumes) {
    ChildProcess& host = StartAgent();
    ChildProcess& app = StartConnectedApp();
    EXPECT_EQ(Ask(app, "pause on"), "paused");
    ASSERT_TRUE(WaitForStatus(app, "connected=0 session=-1 connects=1 timeouts=1"));
    EXPECT_EQ(Ask(host, "get 1.3.6.1.4.1.39917.1.1.1").substr(0, 8), "status=4") << "no session any more";
    EXPECT_EQ(Ask(app, "pause off"), "resumed");
    ASSERT_TRUE(WaitForStatus(app, "connected=1 session=0 connects=2 timeouts=1 losses=0"));
    EXPECT_EQ(Ask(host, "get 1.3.6.1.4.1.39917.1.1.1"), "status=0 index=0 name=1.3.6.1.4.1.39917.1.1.1 type=2 value=42");
}

TEST_F(SdkApplicationTest, AgentRestartClearsTheRowAndTheApplicationReconnects) {
    StartAgent();
    ChildProcess& app = StartConnectedApp();
    host_->Kill(SIGKILL);
    host_->Wait(10s);
    // The application's view keeps the base region; the new agent reuses it
    // and clears the session table at start-up.
    ChildProcess& host = StartAgent();
    ASSERT_TRUE(WaitForStatus(app, "connected=1 session=0 connects=2 timeouts=0 losses=1"));
    EXPECT_EQ(Ask(host, "get 1.3.6.1.4.1.39917.1.1.2"),
              "status=0 index=0 name=1.3.6.1.4.1.39917.1.1.2 type=4 value=\"hello\"");
}

using BaseRingProducersTest = TestMadeBaseRegionTest;

TEST_F(BaseRingProducersTest, TwoProcessesAppendingAtOnceLoseAndTearNothing) {
    constexpr int kPerProducer = 3000;  // about three times the ring's capacity
    ChildProcess& first = StartApp();
    ChildProcess& second = StartApp();
    first.Write("burst 1 " + std::to_string(kPerProducer) + "\n");
    second.Write("burst 2 " + std::to_string(kPerProducer) + "\n");

    std::map<int, int> nextSequence{{1, 0}, {2, 0}};
    int received = 0;
    int bad = 0;
    std::uint8_t record[qv::shm::kSlotSize];
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (received < 2 * kPerProducer && std::chrono::steady_clock::now() < deadline) {
        if (!qv::shm::RingTake(base_, record)) {
            std::this_thread::sleep_for(100us);
            continue;
        }
        ++received;
        const int producer = record[qv::shm::record::kAppId];
        if (producer != 1 && producer != 2) {
            ++bad;
            continue;
        }
        // In order per producer, and every byte as the producer wrote it.
        if (!IsTaggedRecord(record, producer, nextSequence[producer])) {
            if (++bad < 5) ADD_FAILURE() << "producer " << producer << " expected sequence " << nextSequence[producer];
        }
        ++nextSequence[producer];
    }
    EXPECT_EQ(first.ReadLine(30s).value_or(""), "burst done 3000 abandoned=0");
    EXPECT_EQ(second.ReadLine(30s).value_or(""), "burst done 3000 abandoned=0");
    EXPECT_EQ(received, 2 * kPerProducer);
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(nextSequence[1], kPerProducer);
    EXPECT_EQ(nextSequence[2], kPerProducer);
    EXPECT_TRUE(qv::shm::RingIsEmpty(base_));
}

TEST_F(BaseRingProducersTest, HolderOfTheAppendLockKilledLeavesItAbandonedToTheNextAppender) {
    ChildProcess& holder = StartApp();
    ASSERT_EQ(Ask(holder, "holdlock"), "holding");
    ChildProcess& appender = StartApp();
    appender.Write("rawtrap 5 77\n");
    EXPECT_FALSE(appender.ReadLine(300ms).has_value()) << "the appender must wait for the lock";
    EXPECT_TRUE(qv::shm::RingIsEmpty(base_));

    holder.Kill(SIGKILL);
    EXPECT_EQ(holder.Wait(10s), -SIGKILL);
    EXPECT_EQ(appender.ReadLine(30s).value_or("<no answer>"), "appended abandoned=1");
    std::uint8_t record[qv::shm::kSlotSize];
    ASSERT_TRUE(qv::shm::RingTake(base_, record));
    EXPECT_EQ(record[qv::shm::record::kAppId], 5);
    EXPECT_EQ(record[qv::shm::record::kKind], qv::shm::record::kTrap);
    EXPECT_EQ(qv::shm::ReadI32(record + qv::shm::record::kValue), 77);
    // Abandonment is reported once; the lock works as before for the next one.
    EXPECT_EQ(Ask(appender, "rawtrap 5 78"), "appended abandoned=0");
}

}  // namespace
}  // namespace qv::test
