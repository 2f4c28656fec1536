#include <gtest/gtest.h>

#include "host/retransmission_cache.h"

namespace qv::host {
namespace {

using namespace std::chrono_literals;
using Clock = RetransmissionCache::Clock;

std::vector<Task> Tasks(const std::string& name, Operation operation = Operation::Get) {
    Task task;
    task.operation = operation;
    task.name = ParseOid(name).value();
    return {task};
}

TEST(RequestKeyTest, DiffersInEveryPartThatMakesARequest) {
    const auto base = RequestKey("udp:1", "public", 7, 0xA0, SnmpVersion::V2c, Tasks("1.3.6"));
    EXPECT_EQ(base, RequestKey("udp:1", "public", 7, 0xA0, SnmpVersion::V2c, Tasks("1.3.6")));
    EXPECT_NE(base, RequestKey("udp:2", "public", 7, 0xA0, SnmpVersion::V2c, Tasks("1.3.6")));
    EXPECT_NE(base, RequestKey("udp:1", "private", 7, 0xA0, SnmpVersion::V2c, Tasks("1.3.6")));
    EXPECT_NE(base, RequestKey("udp:1", "public", 8, 0xA0, SnmpVersion::V2c, Tasks("1.3.6")));
    EXPECT_NE(base, RequestKey("udp:1", "public", 7, 0xA1, SnmpVersion::V2c, Tasks("1.3.6")));
    EXPECT_NE(base, RequestKey("udp:1", "public", 7, 0xA0, SnmpVersion::V1, Tasks("1.3.6")));
    EXPECT_NE(base, RequestKey("udp:1", "public", 7, 0xA0, SnmpVersion::V2c, Tasks("1.3.7")));
    // Parts that could run into each other without their lengths.
    EXPECT_NE(RequestKey("a", "bc", 1, 0, SnmpVersion::V1, {}), RequestKey("ab", "c", 1, 0, SnmpVersion::V1, {}));
    auto set = Tasks("1.3.6", Operation::Set);
    auto otherValue = set;
    set[0].value = Value::Integer(1);
    otherValue[0].value = Value::Integer(2);
    EXPECT_NE(RequestKey("a", "b", 1, 0xA3, SnmpVersion::V1, set),
              RequestKey("a", "b", 1, 0xA3, SnmpVersion::V1, otherValue));
}

TEST(RetransmissionCacheTest, ACopyFindsTheWorkInProgressThenItsOutcome) {
    RetransmissionCache cache(60s, 100);
    const auto now = Clock::now();
    EXPECT_EQ(cache.Find("k", now), nullptr);
    cache.Start("k", 5);
    const auto* entry = cache.Find("k", now);
    ASSERT_NE(entry, nullptr);
    EXPECT_FALSE(entry->done);
    EXPECT_EQ(entry->job, 5u);

    Outcome outcome;
    outcome.errorStatus = 17;
    cache.Complete(5, {outcome}, now);
    entry = cache.Find("k", now + 1s);
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->done);
    ASSERT_EQ(entry->outcomes.size(), 1u);
    EXPECT_EQ(entry->outcomes[0].errorStatus, 17);
}

TEST(RetransmissionCacheTest, OutcomesExpireButWorkInProgressStays) {
    RetransmissionCache cache(10s, 100);
    const auto now = Clock::now();
    cache.Start("done", 1);
    cache.Start("running", 2);
    cache.Complete(1, {}, now);
    EXPECT_NE(cache.Find("done", now + 9s), nullptr);
    EXPECT_EQ(cache.Find("done", now + 11s), nullptr);
    EXPECT_NE(cache.Find("running", now + 1h), nullptr);
}

TEST(RetransmissionCacheTest, KeepsOnlyTheNewestOutcomesBeyondCapacity) {
    RetransmissionCache cache(1h, 2);
    auto now = Clock::now();
    for (std::uint64_t job = 1; job <= 3; ++job) {
        cache.Start("k" + std::to_string(job), job);
        cache.Complete(job, {}, now += 1s);
    }
    EXPECT_EQ(cache.Find("k1", now), nullptr);
    EXPECT_NE(cache.Find("k2", now), nullptr);
    EXPECT_NE(cache.Find("k3", now), nullptr);
    EXPECT_EQ(cache.Size(), 2u);
}

TEST(RetransmissionCacheTest, ACompletedJobDoesNotOverwriteAnEarlierAnswer) {
    // A deadline answered the job with an error; the late module result must
    // not change what copies of the request are told.
    RetransmissionCache cache(1h, 10);
    const auto now = Clock::now();
    cache.Start("k", 9);
    Outcome error;
    error.errorStatus = 5;
    cache.Complete(9, {error}, now);
    cache.Complete(9, {Outcome{}}, now);
    EXPECT_EQ(cache.Find("k", now)->outcomes.at(0).errorStatus, 5);
}

}  // namespace
}  // namespace qv::host
