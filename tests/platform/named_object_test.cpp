// Named mappings and mutexes between two real processes. The peer is this
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
struct NullDacl {
    NullDacl() {
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    }
    SECURITY_DESCRIPTOR descriptor{};
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};
};

HANDLE CreateRegion(const std::string& name, SECURITY_ATTRIBUTES* security) {
    SetLastError(ERROR_GEN_FAILURE);
    return CreateFileMappingA(INVALID_HANDLE_VALUE, security, PAGE_READWRITE, 0, 0x100000, name.c_str());
}

unsigned char* MapWhole(HANDLE mapping) {
    return static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
}

// One command a line, one answer a line: "map NAME" creates and maps a region
// and sets its byte 100 to 171; "unmap" closes that view and handle; "lock
// NAME" creates a mutex and waits for it; "unlock" releases it. End of input
// ends the process with whatever it still holds.
TEST(NamedObjectPeer, DISABLED_Run) {
    NullDacl security;
    HANDLE mapping = nullptr;
    HANDLE mutex = nullptr;
    unsigned char* view = nullptr;
    std::cout << "ready" << std::endl;
    for (std::string command, name; std::cin >> command;) {
        if (command == "map" && std::cin >> name) {
            mapping = CreateRegion(name, &security.attributes);
            const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
            view = MapWhole(mapping);
            view[100] = 171;
            std::cout << (existed ? "existing" : "created") << std::endl;
        } else if (command == "unmap") {
            std::cout << (UnmapViewOfFile(view) && CloseHandle(mapping)) << std::endl;
        } else if (command == "lock" && std::cin >> name) {
            mutex = CreateMutexA(&security.attributes, FALSE, name.c_str());
            std::cout << WaitForSingleObject(mutex, INFINITE) << std::endl;
        } else if (command == "unlock") {
            std::cout << ReleaseMutex(mutex) << std::endl;
        }
    }
}

class Peer {
public:
    Peer() : process_("/proc/self/exe", {"--gtest_also_run_disabled_tests", "--gtest_filter=NamedObjectPeer.DISABLED_Run"}) {
        EXPECT_TRUE(process_.WaitForLine("ready", 30s));
    }
    std::string Ask(const std::string& command) {
        process_.Write(command + "\n");
        return process_.ReadLine(30s).value_or("no answer");
    }
    std::optional<int> End(bool kill) {
        kill ? process_.Kill(SIGKILL) : process_.CloseInput();
        return process_.Wait(30s);
    }

private:
    ChildProcess process_;
};

class NamedObjectTest : public ::testing::Test {
protected:
    std::string ShmPath(const std::string& bareName) const { return "/dev/shm/" + environment_.Namespace() + "." + bareName; }
    bool NameExists(const std::string& bareName) const {
        struct stat status {};
        return ::stat(ShmPath(bareName).c_str(), &status) == 0;
    }

    IsolatedEnvironment environment_;
    NullDacl security_;
};

// Views keep the memory, not the name. (An agent that closed its handles too
// early was caught by this difference.)
TEST_F(NamedObjectTest, MappingNameLivesUntilTheLastHandleOfAnyProcessCloses) {
    Peer peer;
    ASSERT_EQ(peer.Ask("map Global\\QVX"), "created");
    HANDLE mapping = CreateRegion("Global\\QVX", &security_.attributes);
    ASSERT_NE(mapping, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    unsigned char* view = MapWhole(mapping);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view[100], 171);
    ASSERT_TRUE(CloseHandle(mapping));
    HANDLE opened = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "Global\\QVX");
    EXPECT_NE(opened, nullptr) << "the peer's handle keeps the name";
    EXPECT_TRUE(CloseHandle(opened));

    EXPECT_EQ(peer.Ask("unmap"), "1");
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "Global\\QVX"), nullptr) << "our view alone keeps no name";
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(NameExists("QVX"));
    mapping = CreateRegion("Global\\QVX", &security_.attributes);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    unsigned char* fresh = MapWhole(mapping);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh[100], 0);
    EXPECT_EQ(view[100], 171) << "the old view still sees the old object";
    UnmapViewOfFile(fresh);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
}

// Rounds: the peer exits holding two handles; it is killed and we open; it is
// killed and we create.
TEST_F(NamedObjectTest, MappingNameOfAnEndedProcessCountsAsAbsent) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        Peer peer;
        ASSERT_EQ(peer.Ask("map Global\\QVK"), "created");
        ASSERT_EQ(peer.Ask("map Global\\QVK"), "existing");
        ASSERT_EQ(peer.End(round > 0), round > 0 ? -SIGKILL : 0);
        // SIGKILL gives the peer no chance to clean up: its name is still in /dev/shm.
        EXPECT_EQ(NameExists("QVK"), round > 0);
        if (round == 1) {
            SetLastError(ERROR_SUCCESS);
            EXPECT_EQ(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "Global\\QVK"), nullptr);
            EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
            EXPECT_FALSE(NameExists("QVK"));
        }
        HANDLE mapping = CreateRegion("Global\\QVK", &security_.attributes);
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
        unsigned char* view = MapWhole(mapping);
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(view[100], 0);
        UnmapViewOfFile(view);
        CloseHandle(mapping);
    }
}

TEST_F(NamedObjectTest, NullDaclObjectIsOpenToEveryUserWhateverTheUmask) {
    const mode_t previous = ::umask(077);
    HANDLE open = CreateRegion("Global\\QVM", &security_.attributes);
    HANDLE owner = CreateRegion("Global\\QVP", nullptr);
    ::umask(previous);
    struct stat status {};
    ASSERT_EQ(::stat(ShmPath("QVM").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0666u);
    ASSERT_EQ(::stat(ShmPath("QVP").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    CloseHandle(open);
    CloseHandle(owner);
}

TEST_F(NamedObjectTest, MutexExcludesOtherProcessesAndADeadOwnerAbandonsIt) {
    Peer peer;
    ASSERT_EQ(peer.Ask("lock Global\\QVMUTEX"), "0");
    HANDLE mutex = CreateMutexA(&security_.attributes, FALSE, "Global\\QVMUTEX");
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(WaitForSingleObject(mutex, 50), WAIT_TIMEOUT);
    EXPECT_EQ(peer.Ask("unlock"), "1");
    EXPECT_EQ(WaitForSingleObject(mutex, 10000), WAIT_OBJECT_0);
    std::thread([&] { EXPECT_EQ(WaitForSingleObject(mutex, 20), WAIT_TIMEOUT) << "owned by our first thread"; }).join();
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(peer.Ask("lock Global\\QVMUTEX"), "0") << "released properly: not abandoned";
    peer.End(true);
    EXPECT_EQ(WaitForSingleObject(mutex, 10000), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0) << "abandonment is reported once";
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

}  // namespace
}  // namespace qv::test
