// The step-trace files: narrow lines with CR LF, local streams appending, the
// GETNEXT stream truncating at module load, nothing without the directory.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "log/trace.h"
#include "support/child_process.h"
#include "support/test_environment.h"

namespace {

using qv::test::ReadFileBytes;

TEST(LocalTraceTest, LinesEndInCrLfAreFlushedAtOnceAndEachStreamAppends) {
    qv::test::IsolatedEnvironment environment;
    environment.CreateDebugDirectory();
    const auto file = environment.DebugDirectory() / "SNMPlogInit.txt";
    std::ofstream(file, std::ios::binary) << "case DLL_PROCESS_ATTACH\r\n";
    {
        qv::trace::LocalTrace trace(qv::trace::kInitPath);
        ASSERT_TRUE(trace.IsOpen());
        trace.Line("Enter Init");
        EXPECT_EQ(ReadFileBytes(file), "case DLL_PROCESS_ATTACH\r\nEnter Init\r\n")
            << "visible before the stream is closed";
        trace.Line("Failed to create event. GetLastError = ", -5);
        trace.LineUnsigned("big ", 4294967295ull);
    }
    qv::trace::LocalTrace(qv::trace::kInitPath).Line("SnmpExtensionInitEx: ", 5113);
    EXPECT_EQ(ReadFileBytes(file),
              "case DLL_PROCESS_ATTACH\r\n"
              "Enter Init\r\n"
              "Failed to create event. GetLastError = -5\r\n"
              "big 4294967295\r\n"
              "SnmpExtensionInitEx: 5113\r\n");
}

TEST(LocalTraceTest, WithoutTheDirectoryNothingIsCreated) {
    qv::test::IsolatedEnvironment environment;
    {
        qv::trace::LocalTrace trace(qv::trace::kDllMainPath);
        EXPECT_FALSE(trace.IsOpen());
        trace.Line("case DLL_PROCESS_ATTACH");
        trace.LineUnsigned("SnmpExtensionInit: ", 44821);
    }
    EXPECT_FALSE(std::filesystem::exists(environment.DriveC() / "QVTEMP"));
}

// ---- the process-wide GETNEXT stream ----------------------------------------------
// Its file is opened while the module's static objects are constructed, so each
// case starts a fresh process of this executable (inheriting the isolated C:
// drive) that runs one of the DISABLED_ helpers below.

int RunChild(const std::string& helper) {
    qv::test::ChildProcess child("/proc/self/exe",
                                 {"--gtest_also_run_disabled_tests",
                                  "--gtest_filter=GetNextTraceChild.DISABLED_" + helper});
    const std::optional<int> status = child.Wait(std::chrono::seconds(30));
    return status.value_or(-1000);
}

TEST(GetNextTraceChild, DISABLED_WritesEnterAndExit) {
    ASSERT_TRUE(qv::trace::GetNextRequestStream().is_open());
    qv::trace::GetNextLine("Enter");
    qv::trace::GetNextLine("Exit");
}

TEST(GetNextTraceChild, DISABLED_WritesNothing) {
    EXPECT_TRUE(qv::trace::GetNextRequestStream().is_open());
}

TEST(GetNextTraceChild, DISABLED_WritesWithoutDirectory) {
    EXPECT_FALSE(qv::trace::GetNextRequestStream().is_open());
    qv::trace::GetNextLine("Enter");  // dropped by the failed stream
}

TEST(GetNextTraceTest, EveryLoadTruncatesTheFile) {
    qv::test::IsolatedEnvironment environment;
    environment.CreateDebugDirectory();
    const auto file = environment.DebugDirectory() / "GetNextRequest.txt";
    {
        std::ofstream stale(file, std::ios::binary);
        stale << "Enter\r\nEnter\r\nExit\r\n";
    }
    ASSERT_EQ(RunChild("WritesEnterAndExit"), 0);
    EXPECT_EQ(ReadFileBytes(file), "Enter\r\nExit\r\n");

    // A load that serves no GETNEXT still empties the file.
    ASSERT_EQ(RunChild("WritesNothing"), 0);
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(ReadFileBytes(file), "");
}

TEST(GetNextTraceTest, WithoutTheDirectoryNothingIsCreated) {
    qv::test::IsolatedEnvironment environment;
    ASSERT_EQ(RunChild("WritesWithoutDirectory"), 0);
    EXPECT_FALSE(std::filesystem::exists(environment.DriveC() / "QVTEMP"));
}

}  // namespace
