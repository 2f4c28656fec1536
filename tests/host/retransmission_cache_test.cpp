#include <gtest/gtest.h>

#include "host/retransmission_cache.h"

namespace qv::host {
namespace {

using namespace std::chrono_literals;

TEST(RequestKeyTest, DiffersInEveryPartThatMakesARequest) {
    auto key = [](std::string source, std::string community, long id, int pdu, SnmpVersion version, std::string name,
                  Value value = {}) {
        return RequestKey(source, community, id, pdu, version, {Task{Operation::Set, {}, ParseOid(name).value(), false, value}});
    };
    const auto base = key("udp:1", "public", 7, 0xA3, SnmpVersion::V2c, "1.3.6");
    EXPECT_EQ(base, key("udp:1", "public", 7, 0xA3, SnmpVersion::V2c, "1.3.6"));
    for (const std::string& other : {key("udp:2", "public", 7, 0xA3, SnmpVersion::V2c, "1.3.6"),
                                     key("udp:1", "private", 7, 0xA3, SnmpVersion::V2c, "1.3.6"),
                                     key("udp:1", "public", 8, 0xA3, SnmpVersion::V2c, "1.3.6"),
                                     key("udp:1", "public", 7, 0xA0, SnmpVersion::V2c, "1.3.6"),
                                     key("udp:1", "public", 7, 0xA3, SnmpVersion::V1, "1.3.6"),
                                     key("udp:1", "public", 7, 0xA3, SnmpVersion::V2c, "1.3.7"),
                                     key("udp:1", "public", 7, 0xA3, SnmpVersion::V2c, "1.3.6", Value::Integer(2)),
                                     key("udp:", "1public", 7, 0xA3, SnmpVersion::V2c, "1.3.6")}) {
        EXPECT_NE(base, other);
    }
}

TEST(RetransmissionCacheTest, CopiesFindTheWorkInProgressThenItsFirstOutcomeUntilItExpires) {
    RetransmissionCache cache(10s, 2);
    const auto now = RetransmissionCache::Clock::now();
    EXPECT_EQ(cache.Find("k", now), nullptr);
    cache.Start("k", 5);
    cache.Start("running", 6);
    ASSERT_NE(cache.Find("k", now), nullptr);
    EXPECT_FALSE(cache.Find("k", now)->done);
    EXPECT_EQ(cache.Find("k", now)->job, 5u);

    // A deadline answered the job with an error; the late module result must
    // not change what copies of the request are told.
    Outcome error;
    error.errorStatus = 17;
    cache.Complete(5, {error}, now);
    cache.Complete(5, {Outcome{}}, now);
    const auto* entry = cache.Find("k", now + 9s);
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->done);
    EXPECT_EQ(entry->outcomes, std::vector<Outcome>{error});
    EXPECT_EQ(cache.Find("k", now + 11s), nullptr);
    EXPECT_NE(cache.Find("running", now + 1h), nullptr) << "work in progress never expires";
}

TEST(RetransmissionCacheTest, KeepsOnlyTheNewestOutcomesBeyondCapacity) {
    RetransmissionCache cache(1h, 2);
    auto now = RetransmissionCache::Clock::now();
    for (std::uint64_t job = 1; job <= 3; ++job) {
        cache.Start("k" + std::to_string(job), job);
        cache.Complete(job, {}, now += 1s);
    }
    EXPECT_EQ(cache.Find("k1", now), nullptr);
    EXPECT_NE(cache.Find("k2", now), nullptr);
    EXPECT_NE(cache.Find("k3", now), nullptr);
}

}  // namespace
}  // namespace qv::host
