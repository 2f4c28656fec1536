// The host notices when the base region's name is removed or replaced.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include <unistd.h>

#include "host/region_watch.h"
#include "support/test_environment.h"

namespace qv::host {
namespace {

TEST(RegionWatchTest, SaysOnceWhenTheNameGoesAndWhenAnotherRegionTakesIt) {
    test::IsolatedEnvironment environment;
    const std::string path = BaseRegionPath();
    EXPECT_EQ(path, "/dev/shm/" + environment.Namespace() + ".QV1.3.6.1.4.1");
    std::ofstream(path) << "region";
    RegionWatch watch;
    EXPECT_EQ(watch.Check(), "");

    ::unlink(path.c_str());
    EXPECT_NE(watch.Check().find("was removed"), std::string::npos);
    EXPECT_EQ(watch.Check(), "");

    std::ofstream(path) << "someone else's";
    EXPECT_NE(watch.Check().find("did not make"), std::string::npos);
    ::unlink(path.c_str());
}

}  // namespace
}  // namespace qv::host
