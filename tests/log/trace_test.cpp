// The step-trace files: narrow lines with CR LF, local streams appending, the
// GETNEXT stream truncating at module load.
#include <gtest/gtest.h>

#include <fstream>

#include "log/trace.h"
#include "support/child_process.h"
#include "support/test_environment.h"

namespace {

// The GETNEXT stream opens while the module's static objects are constructed:
// each load is a fresh process of this executable (inheriting the isolated C:
// drive), which serves a GETNEXT when it runs the disabled test.
TEST(GetNextTraceChild, DISABLED_ServeOneRequest) {
    qv::trace::GetNextLine("Enter");
    qv::trace::GetNextLine("Exit");
}

int LoadInAChild(bool serve) {
    qv::test::ChildProcess child("/proc/self/exe", {"--gtest_also_run_disabled_tests", serve ? "--gtest_filter=GetNextTraceChild.*" : "--gtest_filter=-*"});
    return child.Wait(std::chrono::seconds(30)).value_or(-1);
}

TEST(TraceTest, LinesEndInCrLfAreFlushedAtOnceLocalStreamsAppendAndEachLoadTruncatesGetNext) {
    qv::test::IsolatedEnvironment environment;
    environment.CreateDebugDirectory();
    const auto init = environment.DebugDirectory() / "SNMPlogInit.txt";
    const auto getNext = environment.DebugDirectory() / "GetNextRequest.txt";
    std::ofstream(init, std::ios::binary) << "case DLL_PROCESS_ATTACH\r\n";
    std::ofstream(getNext, std::ios::binary) << "Enter\r\nEnter\r\n";
    {
        qv::trace::LocalTrace trace(qv::trace::kInitPath);
        trace.Line("Enter Init");
        EXPECT_EQ(qv::test::ReadFileBytes(init), "case DLL_PROCESS_ATTACH\r\nEnter Init\r\n") << "before the stream closes";
        trace.Line("GetLastError = ", -5);
        trace.LineUnsigned("big ", 4294967295ull);
    }
    qv::trace::LocalTrace(qv::trace::kInitPath).Line("SnmpExtensionInitEx: ", 5113);
    EXPECT_EQ(qv::test::ReadFileBytes(init),
              "case DLL_PROCESS_ATTACH\r\nEnter Init\r\nGetLastError = -5\r\nbig 4294967295\r\nSnmpExtensionInitEx: 5113\r\n");
    ASSERT_EQ(LoadInAChild(true), 0);
    EXPECT_EQ(qv::test::ReadFileBytes(getNext), "Enter\r\nExit\r\n");
    ASSERT_EQ(LoadInAChild(false), 0);
    EXPECT_TRUE(std::filesystem::exists(getNext) && qv::test::ReadFileBytes(getNext).empty());
}

}  // namespace
