// Which names a request carries to an application unchanged, and where a
// GETNEXT from any other name picks up, so that nothing aliases and a walk
// skips no variable.
#include <gtest/gtest.h>

#include <string>

#include "host/request_logic.h"

namespace qv::host {
namespace {

Oid O(const std::string& text) { return ParseOid(text).value(); }

Oid Long(std::size_t length) {
    Oid name = O("1.3.6.1.4.1.39917");
    while (name.size() < length) name.push_back(1);
    return name;
}

TEST(CarriedNameTest, OnlyNamesThatSurviveTheByteTripAreCarried) {
    EXPECT_TRUE(CanBeCarried(O("1.3.6.1.4.1.39917")));
    EXPECT_TRUE(CanBeCarried(O("1.3.6.1.4.1.39917.1.1.127")));
    EXPECT_TRUE(CanBeCarried(O("1.3.6.1.4.1.39917.4294967240.1.4294967168")));  // bytes 200 and 128
    EXPECT_TRUE(CanBeCarried(Long(31)));
    EXPECT_FALSE(CanBeCarried(Long(32)));
    EXPECT_FALSE(CanBeCarried(O("1.3.6.1.4.1.39917.1.1.259")));  // would be .1.1.3
    EXPECT_FALSE(CanBeCarried(O("1.3.6.1.4.1.39917.1.1.128")));  // would be .1.1.4294967168
    EXPECT_FALSE(CanBeCarried(O("1.3.6.1.4.1.39917.200.1.1")));
    EXPECT_FALSE(CanBeCarried(O("1.3.6.1.4.1.39917.1.1.0.5")));   // would end at .1.1
}

TEST(CarriedNameTest, AGetNextResumesWhereTheNextCarriedNamesBegin) {
    using Points = std::vector<ResumePoint>;
    // Carried: searched as it is.
    EXPECT_EQ(ResumePoints(O("1.3.6.1.4.1.39917.1.1.3")), (Points{{O("1.3.6.1.4.1.39917.1.1.3"), false}}));
    // A zero: nothing lies between the prefix and the name.
    EXPECT_EQ(ResumePoints(O("1.3.6.1.4.1.39917.1.1.0.5")), (Points{{O("1.3.6.1.4.1.39917.1.1"), false}}));
    // 128 to 2^32-129: the next carried sub-identifier is 2^32-128, itself included.
    EXPECT_EQ(ResumePoints(O("1.3.6.1.4.1.39917.1.1.257.4")),
              (Points{{O("1.3.6.1.4.1.39917.1.1.4294967168"), true}}));
    // Too long: the rest of its 31-long prefix, then the prefix's successor.
    Oid prefix = Long(31);
    Oid after = prefix;
    after.back() = 2;
    EXPECT_EQ(ResumePoints(Long(33)), (Points{{prefix, false}, {after, true}}));
    // A successor carries: 127 is followed by 2^32-128, and 2^32-1 by nothing
    // at its level, so the level above moves on.
    Oid last = Long(30);
    last.push_back(0xFFFFFFFF);
    last.push_back(1);
    Oid up = Long(30);
    up.back() = 2;
    const Oid lastPrefix(last.begin(), last.begin() + 31);
    EXPECT_EQ(ResumePoints(last), (Points{{lastPrefix, false}, {up, true}}));
    last[29] = 127;
    last[30] = 0xFFFFFFFF;
    Oid negative = Long(30);
    negative.back() = 0xFFFFFF80;
    EXPECT_EQ(ResumePoints(last).back(), (ResumePoint{negative, true}));
}

}  // namespace
}  // namespace qv::host
