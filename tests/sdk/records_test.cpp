// The base-ring records the SDK writes, and the suffix notation of its callers.
#include <gtest/gtest.h>

#include <string>

#include "records.h"
#include "shm/shared_access.h"

namespace qvsnmp::detail {
namespace {

TEST(RecordsTest, ConnectionRequestCarriesIdentityAndKindOnly) {
    std::uint8_t record[1024];
    std::memset(record, 0xEE, sizeof record);
    FillConnectionRequest(record, Identity{44821, 3, -2}, 513);
    std::uint8_t expected[1024] = {0x01, 0x02, 0x15, 0xAF, 3, 0xFE};
    expected[34] = 1;
    EXPECT_EQ(std::memcmp(record, expected, sizeof record), 0);
}

TEST(RecordsTest, TrapRecordHasMarkZeroEndedSuffixAndValue) {
    std::uint8_t record[1024];
    ASSERT_TRUE(FillTrapRecord(record, Identity{39917, 2, 1}, {5, 6}, Value::Integer(-7), 0));
    EXPECT_EQ(std::string(record + 4, record + 10), std::string("\x02\x01\x01\x05\x06\x00", 6));
    EXPECT_EQ(record[34], 2);
    EXPECT_EQ(record[38], 2);
    EXPECT_EQ(qv::shm::ReadI32(record + 40), -7);

    const std::string longest(983, 't');
    ASSERT_TRUE(FillTrapRecord(record, Identity{39917, 2, 1}, Suffix(26, 9), Value::Text(longest), 0));
    EXPECT_EQ(record[38], 4);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record + 40)), longest);
    EXPECT_EQ(record[33], 0) << "the suffix ends by offset 33";
    EXPECT_FALSE(FillTrapRecord(record, Identity{39917, 2, 1}, {}, Value::Text(longest + "t"), 0));
    EXPECT_FALSE(FillTrapRecord(record, Identity{39917, 2, 1}, Suffix(27, 9), Value::Integer(0), 0));
    EXPECT_FALSE(FillTrapRecord(record, Identity{39917, 2, 1}, {200}, Value::Integer(0), 0));
}

TEST(RecordsTest, SuffixNotationRoundTripsAndRefusesWhatCannotTravel) {
    Suffix suffix;
    ASSERT_TRUE(ParseSuffix("1.2.127", &suffix));
    EXPECT_EQ(suffix, (Suffix{1, 2, 127}));
    EXPECT_EQ(FormatSuffix(suffix), "1.2.127");
    ASSERT_TRUE(ParseSuffix("", &suffix));
    EXPECT_TRUE(suffix.empty());
    for (const char* bad : {"0", "128", "1..2", "1.", ".1", "a", "-1", "1.2x"}) EXPECT_FALSE(ParseSuffix(bad, &suffix)) << bad;
}

}  // namespace
}  // namespace qvsnmp::detail
