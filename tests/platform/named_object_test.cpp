// Named mappings and mutexes between two real processes; the peer is this
// executable again, running the disabled test NamedObjectPeer.DISABLED_Run.
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <thread>

#include "qv_windows.h"
#include "support/child_process.h"
#include "support/test_environment.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;

// Security attributes with a present NULL DACL, as the module builds them.
SECURITY_ATTRIBUTES* NullDacl() {
    static SECURITY_DESCRIPTOR descriptor;
    static SECURITY_ATTRIBUTES attributes = [] {
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
        return SECURITY_ATTRIBUTES{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};
    }();
    return &attributes;
}

HANDLE CreateRegion(const char* name) {
    SetLastError(ERROR_GEN_FAILURE);
    return CreateFileMappingA(INVALID_HANDLE_VALUE, NullDacl(), PAGE_READWRITE, 0, 0x100000, name);
}

unsigned char* MapWhole(HANDLE mapping) { return static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0)); }

// A command a line, an answer a line: "map" creates and maps Global\QVX, sets its
// byte 100 to 171; "unmap" closes view and handle; "lock" creates Global\QVMUTEX
// and waits for it; "unlock" releases it. End of input ends it holding all.
TEST(NamedObjectPeer, DISABLED_Run) {
    HANDLE mapping = nullptr, mutex = nullptr;
    unsigned char* view = nullptr;
    std::cout << "ready" << std::endl;
    for (std::string command; std::cin >> command;) {
        if (command == "map") {
            const bool existed = (mapping = CreateRegion("Global\\QVX")) && GetLastError() == ERROR_ALREADY_EXISTS;
            (view = MapWhole(mapping))[100] = 171;
            std::cout << (existed ? "existing" : "created") << std::endl;
        } else if (command == "unmap") {
            std::cout << (UnmapViewOfFile(view) && CloseHandle(mapping)) << std::endl;
        } else if (command == "lock") {
            std::cout << WaitForSingleObject(mutex = CreateMutexA(NullDacl(), FALSE, "Global\\QVMUTEX"), INFINITE) << std::endl;
        } else {
            std::cout << ReleaseMutex(mutex) << std::endl;
        }
    }
}

struct Peer : ChildProcess {
    Peer() : ChildProcess("/proc/self/exe", {"--gtest_also_run_disabled_tests", "--gtest_filter=NamedObjectPeer.*"}) {
        EXPECT_TRUE(WaitForLine("ready", 30s));
    }
    std::string Ask(const std::string& command) { return Write(command + "\n") ? ReadLine(30s).value_or("") : ""; }
};

class NamedObjectTest : public ::testing::Test {
protected:
    std::string ShmPath(const char* bareName) const { return "/dev/shm/" + environment_.Namespace() + "." + bareName; }
    bool NameExists(const char* bareName) const { return std::filesystem::exists(ShmPath(bareName)); }

    IsolatedEnvironment environment_;
};

// Rounds by how the peer lets go while we keep only a view: it closes its
// handle; it exits holding two; it is killed and we open; it is killed and we
// create. Views keep the memory, not the name (an agent that closed its
// handles too early was caught by this difference).
TEST_F(NamedObjectTest, MappingNameGoesWithTheLastHandleOfAnyProcessAndADeadHoldersNameIsAbsent) {
    const mode_t previous = ::umask(077);  // the peer's too
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        Peer peer;
        ASSERT_EQ(peer.Ask("map"), "created");
        EXPECT_EQ(std::filesystem::status(ShmPath("QVX")).permissions(), std::filesystem::perms(0666)) << "NULL DACL: open to all";
        HANDLE mapping = CreateRegion("Global\\QVX");
        EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
        unsigned char* view = MapWhole(mapping);
        ASSERT_TRUE(view != nullptr && view[100] == 171 && CloseHandle(mapping));
        ASSERT_TRUE((mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "Global\\QVX")) && CloseHandle(mapping));
        EXPECT_EQ(peer.Ask(round == 0 ? "unmap" : "map"), round == 0 ? "1" : "existing");
        round == 1 ? peer.CloseInput() : peer.Kill(SIGKILL);
        EXPECT_EQ(peer.Wait(30s), round == 1 ? 0 : -SIGKILL);
        EXPECT_EQ(NameExists("QVX"), round > 1) << "SIGKILL gives the peer no chance to clean up";
        if (round == 2) {
            EXPECT_EQ(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "Global\\QVX"), nullptr);
            EXPECT_TRUE(GetLastError() == ERROR_FILE_NOT_FOUND && !NameExists("QVX"));
        }
        mapping = CreateRegion("Global\\QVX");
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
        unsigned char* fresh = MapWhole(mapping);
        // Not in round 3: the stand-in starts a dead object afresh in place,
        // which clears a view still left of it too (Windows would keep it).
        EXPECT_TRUE(fresh != nullptr && fresh[100] == 0 && (round == 3 || view[100] == 171)) << "a new object";
        EXPECT_TRUE(UnmapViewOfFile(fresh) && UnmapViewOfFile(view) && CloseHandle(mapping));
    }
    ::umask(previous);
}

// Two threads open one name as two processes would; while one releases (and may unlink) the other joins.
TEST_F(NamedObjectTest, ChurningHoldersAlwaysHoldTheObjectTheNameLeadsTo) {
    const auto churn = [](int tag) {
        for (int i = 0; i < 1500; ++i) {
            HANDLE mine = CreateRegion("Global\\QVC"), byName = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "Global\\QVC");
            unsigned char *a = MapWhole(mine), *b = MapWhole(byName);
            ASSERT_TRUE(a && b && (a[tag] = static_cast<unsigned char>(i), b[tag] == a[tag])) << i;
            EXPECT_TRUE(UnmapViewOfFile(a) && UnmapViewOfFile(b) && CloseHandle(mine) && CloseHandle(byName));
        }
    };
    std::thread other(churn, 1);
    churn(2);
    other.join();
}

TEST_F(NamedObjectTest, MutexExcludesOtherProcessesAndADeadOwnerAbandonsIt) {
    Peer peer;
    ASSERT_EQ(peer.Ask("lock"), "0");
    HANDLE mutex = CreateMutexA(NullDacl(), FALSE, "Global\\QVMUTEX");
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(WaitForSingleObject(mutex, 50), WAIT_TIMEOUT);
    EXPECT_EQ(peer.Ask("unlock"), "1");
    EXPECT_EQ(WaitForSingleObject(mutex, 10000), WAIT_OBJECT_0);
    std::thread([&] { EXPECT_EQ(WaitForSingleObject(mutex, 20), WAIT_TIMEOUT) << "owned by another thread"; }).join();
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(peer.Ask("lock"), "0") << "released properly: not abandoned";
    peer.Kill(SIGKILL);
    EXPECT_EQ(WaitForSingleObject(mutex, 10000), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0) << "abandonment is reported once";
    EXPECT_TRUE(ReleaseMutex(mutex) && CloseHandle(mutex));
}

}  // namespace
}  // namespace qv::test
