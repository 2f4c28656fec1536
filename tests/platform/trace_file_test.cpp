// The text-mode trace stream.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ios>

#include "qv_platform.h"
#include "support/test_environment.h"

namespace qv::test {
namespace {

using platform::TraceFile;

class TraceFileTest : public ::testing::Test {
protected:
    std::string Content(const char* relative) const {
        return ReadFileBytes(environment_.DriveC() / relative);
    }
    IsolatedEnvironment environment_;
};

TEST_F(TraceFileTest, LineFeedsAreStoredAsCrLfAndFlushMakesThemVisible) {
    TraceFile trace("C:/trace.txt", std::ios_base::out);
    ASSERT_TRUE(trace.is_open());
    trace << "first\n" << 42 << std::endl;
    EXPECT_EQ(Content("trace.txt"), "first\r\n42\r\n");
    trace.write("a\nb", 3);
    trace.put('\n');
    trace.close();
    EXPECT_EQ(Content("trace.txt"), "first\r\n42\r\na\r\nb\r\n");
}

TEST_F(TraceFileTest, OutTruncatesAndAppendKeepsWhatWasThere) {
    std::ofstream(environment_.DriveC() / "t.txt", std::ios::binary) << "old\r\n";
    {
        TraceFile appended("C:\\t.txt", std::ios_base::out | std::ios_base::app);
        appended << "more\n";
    }
    EXPECT_EQ(Content("t.txt"), "old\r\nmore\r\n");
    {
        TraceFile truncated("C:\\t.txt", std::ios_base::out);
        truncated << "new\n";
    }
    EXPECT_EQ(Content("t.txt"), "new\r\n");
}

TEST_F(TraceFileTest, TwoAppendingStreamsKeepEachOthersLines) {
    TraceFile one("C:\\shared.txt", std::ios_base::out | std::ios_base::app);
    TraceFile two("C:\\shared.txt", std::ios_base::out | std::ios_base::app);
    one << "one\n" << std::flush;
    two << "two\n" << std::flush;
    one << "three\n" << std::flush;
    EXPECT_EQ(Content("shared.txt"), "one\r\ntwo\r\nthree\r\n");
}

TEST_F(TraceFileTest, FailedOpenLeavesAFailedStreamThatDropsWrites) {
    TraceFile trace("C:\\QVTEMP\\QVSNMPDEBUG\\missing.txt", std::ios_base::out | std::ios_base::app);
    EXPECT_FALSE(trace.is_open());
    EXPECT_TRUE(trace.fail());
    trace << "dropped\n" << std::flush;
    EXPECT_FALSE(std::filesystem::exists(environment_.DriveC() / "QVTEMP"));

    environment_.CreateDebugDirectory();
    trace.open("C:\\QVTEMP\\QVSNMPDEBUG\\missing.txt", std::ios_base::out | std::ios_base::app);
    ASSERT_TRUE(trace.is_open());
    EXPECT_TRUE(trace.good());
    trace << "kept\n";
    trace.close();
    EXPECT_FALSE(trace.is_open());
    trace << "after close\n" << std::flush;
    EXPECT_EQ(ReadFileBytes(environment_.DebugDirectory() / "missing.txt"), "kept\r\n");
    // Closing twice is a failure, as with std::ofstream.
    trace.clear();
    trace.close();
    EXPECT_TRUE(trace.fail());
}

}  // namespace
}  // namespace qv::test
