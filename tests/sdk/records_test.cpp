// The base-ring records the SDK writes, and the suffix notation of its callers.
#include <gtest/gtest.h>

#include <string>

#include "records.h"
#include "shm/shared_access.h"

namespace qvsnmp::detail {
namespace {

TEST(RecordsTest, ConnectionRequestCarriesIdentityAndKindOnly) {
    std::uint8_t record[kRecordSize];
    std::memset(record, 0xEE, sizeof record);
    FillConnectionRequest(record, Identity{44821, 3, -2}, 513);
    EXPECT_EQ(qv::shm::ReadU16(record + record::kTag), 513);
    EXPECT_EQ(qv::shm::ReadU16(record + record::kPen), 44821);
    EXPECT_EQ(record[record::kAppId], 3);
    EXPECT_EQ(record[record::kAppInst], 0xFE);
    EXPECT_EQ(record[record::kKind], 1);
    for (std::size_t i = 6; i < kRecordSize; ++i) {
        if (i != record::kKind) {
            ASSERT_EQ(record[i], 0) << "offset " << i;
        }
    }
}

TEST(RecordsTest, TrapRecordHasMarkSuffixAndIntegerValue) {
    std::uint8_t record[kRecordSize];
    ASSERT_TRUE(FillTrapRecord(record, Identity{39917, 2, 1}, {5, 6}, Value::Integer(-7), 0));
    EXPECT_EQ(record[record::kTrapMark], 1);
    EXPECT_EQ(record[record::kTrapSuffix], 5);
    EXPECT_EQ(record[record::kTrapSuffix + 1], 6);
    EXPECT_EQ(record[record::kTrapSuffix + 2], 0) << "the suffix ends with a zero byte";
    EXPECT_EQ(record[record::kKind], 2);
    EXPECT_EQ(record[record::kValueType], 2);
    EXPECT_EQ(qv::shm::ReadI32(record + record::kValue), -7);
}

TEST(RecordsTest, TrapRecordTextIsZeroEndedAndLimitsAreEnforced) {
    std::uint8_t record[kRecordSize];
    const std::string longest(kMaxTrapText, 't');
    ASSERT_TRUE(FillTrapRecord(record, Identity{39917, 2, 1}, Suffix(kMaxTrapSuffix, 9), Value::Text(longest), 0));
    EXPECT_EQ(record[record::kValueType], 4);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record + record::kValue)), longest);
    EXPECT_EQ(record[record::kTrapSuffix + kMaxTrapSuffix], 0);
    EXPECT_EQ(record::kTrapSuffix + kMaxTrapSuffix, 33u) << "the suffix must end by offset 33";

    EXPECT_FALSE(FillTrapRecord(record, Identity{39917, 2, 1}, {}, Value::Text(longest + "t"), 0));
    EXPECT_FALSE(FillTrapRecord(record, Identity{39917, 2, 1}, Suffix(kMaxTrapSuffix + 1, 9), Value::Integer(0), 0));
    EXPECT_FALSE(FillTrapRecord(record, Identity{39917, 2, 1}, {200}, Value::Integer(0), 0));
}

TEST(RecordsTest, SuffixNotationRoundTripsAndRefusesWhatCannotTravel) {
    Suffix suffix;
    ASSERT_TRUE(ParseSuffix("1.2.127", &suffix));
    EXPECT_EQ(suffix, (Suffix{1, 2, 127}));
    EXPECT_EQ(FormatSuffix(suffix), "1.2.127");
    ASSERT_TRUE(ParseSuffix("", &suffix));
    EXPECT_TRUE(suffix.empty());
    for (const char* bad : {"0", "128", "1..2", "1.", ".1", "a", "-1", "1.2x"}) {
        EXPECT_FALSE(ParseSuffix(bad, &suffix)) << bad;
    }
}

}  // namespace
}  // namespace qvsnmp::detail
