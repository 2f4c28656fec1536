// Named mappings shared with a second, real process (qv_named_object_peer).
#include <signal.h>
#include <time.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "platform_test_util.h"
#include "qv_windows.h"
#include "support/child_process.h"
#include "support/test_environment.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;

constexpr DWORD kRegionSize = 1024 * 1024;

class FileMappingPeerTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(environment_.LeftoverSharedMemory().empty()); }

    HANDLE Create(const char* name) {
        return CreateFileMappingA(INVALID_HANDLE_VALUE, &nullDacl_.attributes, PAGE_READWRITE, 0,
                                  kRegionSize, name);
    }

    IsolatedEnvironment environment_;
    NullDaclAttributes nullDacl_;
};

TEST_F(FileMappingPeerTest, BothProcessesSeeOneObjectWhileThePeerHoldsIt) {
    Peer peer;
    ASSERT_TRUE(peer.Ready());
    ASSERT_EQ(peer.Ask("create Global\\QVX 1048576"), "created");
    ASSERT_EQ(peer.Ask("write 500 17"), "ok");

    ScopedHandle opened(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "Global\\QVX"));
    ASSERT_NE(opened.Get(), nullptr);
    ScopedHandle created(Create("Global\\QVX"));
    ASSERT_NE(created.Get(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    ScopedView view(MapViewOfFile(created.Get(), FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(view.Get(), nullptr);
    EXPECT_EQ(view.Get()[500], 17);

    view.Get()[501] = 99;
    EXPECT_EQ(peer.Ask("read 501"), "value 99");
    EXPECT_TRUE(peer.Exit());
}

TEST_F(FileMappingPeerTest, ObjectCreatedHereSurvivesOurReleaseWhileThePeerHoldsIt) {
    Peer peer;
    ASSERT_TRUE(peer.Ready());
    {
        ScopedHandle mapping(Create("Global\\QVH"));
        ScopedView view(MapViewOfFile(mapping.Get(), FILE_MAP_WRITE, 0, 0, 0));
        ASSERT_NE(view.Get(), nullptr);
        view.Get()[10] = 33;
        ASSERT_EQ(peer.Ask("open Global\\QVH"), "opened");
    }
    EXPECT_EQ(peer.Ask("read 10"), "value 33");
    ScopedHandle again(Create("Global\\QVH"));
    ASSERT_NE(again.Get(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    again.Reset();
    EXPECT_EQ(peer.Ask("close"), "closed");
    EXPECT_TRUE(environment_.LeftoverSharedMemory().empty());
    EXPECT_TRUE(peer.Exit());
}

TEST_F(FileMappingPeerTest, ObjectIsFreshAfterThePeerExited) {
    Peer peer;
    ASSERT_TRUE(peer.Ready());
    ASSERT_EQ(peer.Ask("create Global\\QVE 1048576"), "created");
    ASSERT_EQ(peer.Ask("write 100 171"), "ok");
    // Two opens of the name, neither closed: ending the process releases both.
    ASSERT_EQ(peer.Ask("also Global\\QVE"), "held");
    ASSERT_TRUE(peer.Exit());
    EXPECT_TRUE(environment_.LeftoverSharedMemory().empty());

    EXPECT_EQ(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "Global\\QVE"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    ScopedHandle mapping(Create("Global\\QVE"));
    ASSERT_NE(mapping.Get(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    ScopedView view(MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(view.Get(), nullptr);
    EXPECT_EQ(view.Get()[100], 0);
}

TEST_F(FileMappingPeerTest, KilledPeerHoldsNothingAndItsLeftoverCountsAsAbsent) {
    Peer peer;
    ASSERT_TRUE(peer.Ready());
    ASSERT_EQ(peer.Ask("create Global\\QVK 1048576"), "created");
    ASSERT_EQ(peer.Ask("write 100 171"), "ok");
    ASSERT_TRUE(peer.Kill());
    // SIGKILL gave the peer no chance to clean up: the name is still there.
    ASSERT_TRUE(PathExists(SharedMemoryPath(environment_, "QVK")));

    EXPECT_EQ(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "Global\\QVK"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(PathExists(SharedMemoryPath(environment_, "QVK")));
}

TEST_F(FileMappingPeerTest, CreateAfterKilledPeerGetsZeroFilledObject) {
    Peer peer;
    ASSERT_TRUE(peer.Ready());
    ASSERT_EQ(peer.Ask("create Global\\QVF 1048576"), "created");
    ASSERT_EQ(peer.Ask("write 100 171"), "ok");
    ASSERT_TRUE(peer.Kill());
    ASSERT_TRUE(PathExists(SharedMemoryPath(environment_, "QVF")));

    ScopedHandle mapping(Create("Global\\QVF"));
    ASSERT_NE(mapping.Get(), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    ScopedView view(MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(view.Get(), nullptr);
    EXPECT_EQ(view.Get()[100], 0);
}

TEST_F(FileMappingPeerTest, RacingCreatorsAgreeOnExactlyOneFirstCreator) {
    Peer first;
    Peer second;
    ASSERT_TRUE(first.Ready());
    ASSERT_TRUE(second.Ready());
    constexpr int kRounds = 40;
    for (int round = 0; round < kRounds; ++round) {
        // Both start at the same instant of the shared monotonic clock.
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const long long when =
            static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec + 20000000LL;
        const std::string command = "race Global\\QVRACE 65536 " + std::to_string(when);
        first.Send(command);
        second.Send(command);
        const std::string a = first.Reply();
        const std::string b = second.Reply();
        const bool oneEach = (a == "created" && b == "existing") ||
                             (a == "existing" && b == "created");
        EXPECT_TRUE(oneEach) << "round " << round << ": " << a << " / " << b;

        ASSERT_EQ(first.Ask("close"), "closed");
        ASSERT_EQ(second.Ask("close"), "closed");
        ASSERT_TRUE(environment_.LeftoverSharedMemory().empty()) << "round " << round;
    }
    EXPECT_TRUE(first.Exit());
    EXPECT_TRUE(second.Exit());
}

TEST_F(FileMappingPeerTest, HoldingPassesBetweenProcessesWithoutLosingTheObject) {
    // Whenever one of the two holds the object, the other must join it, never
    // start afresh; once both let go, the next creator starts afresh.
    Peer peer;
    ASSERT_TRUE(peer.Ready());
    for (int round = 0; round < 30; ++round) {
        ScopedHandle mapping(Create("Global\\QVJ"));
        ASSERT_NE(mapping.Get(), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "round " << round;
        ScopedView view(MapViewOfFile(mapping.Get(), FILE_MAP_WRITE, 0, 0, 0));
        ASSERT_NE(view.Get(), nullptr);
        EXPECT_EQ(view.Get()[0], 0) << "round " << round;
        view.Get()[0] = static_cast<unsigned char>(round + 1);
        EXPECT_EQ(peer.Ask("create Global\\QVJ 1048576"), "existing") << "round " << round;
        EXPECT_EQ(peer.Ask("read 0"), "value " + std::to_string(round + 1)) << "round " << round;
        view.Reset();
        mapping.Reset();
        // Now only the peer holds it; our next create must join it.
        ScopedHandle rejoined(Create("Global\\QVJ"));
        EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS) << "round " << round;
        rejoined.Reset();
        ASSERT_EQ(peer.Ask("close"), "closed");
    }
    EXPECT_TRUE(peer.Exit());
}

}  // namespace
}  // namespace qv::test
