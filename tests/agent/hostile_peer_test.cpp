// The agent's readers while a hostile peer rewrites the shared memory under
// them: indices, lengths, terminators, identities and type bytes. Every region
// lies between inaccessible pages, so an access outside one faults at once.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "agent/extension_agent.h"
#include "shm/snmp_shared_memory.h"
#include "shm/snmp_time.h"
#include "support/test_environment.h"
#include "trap/trap_signal.h"
#include "worker/service_worker.h"

namespace {

class FencedRegion {
public:
    FencedRegion() : page_(static_cast<std::size_t>(::sysconf(_SC_PAGESIZE))) {
        block_ = static_cast<std::uint8_t*>(::mmap(nullptr, 0x100000 + 2 * page_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        ::mprotect(block_ + page_, 0x100000, PROT_READ | PROT_WRITE);
    }
    ~FencedRegion() { ::munmap(block_, 0x100000 + 2 * page_); }
    std::uint8_t* Data() const { return block_ + page_; }

    // Writes bytes where they hurt most: the control slot, the session table
    // and the fields of the first records.
    void Scribble(std::mt19937& random) const {
        static const std::size_t kHot[] = {0, 1, 2, 3, 4, 5, 6, 34, 35, 36, 37, 38, 39, 40};
        std::uniform_int_distribution<std::size_t> byte(0, 255), slot(0, 40), hot(0, std::size(kHot) - 1), table(16, 127), any(0, 1023);
        for (int i = 0; i < 64; ++i) {
            const std::size_t base = slot(random) * 1024;
            const auto value = static_cast<std::uint8_t>(byte(random));
            switch (i % 4) {
                case 0: Data()[kHot[hot(random)]] = value; break;
                case 1: Data()[table(random)] = value % 4; break;
                case 2: Data()[base + kHot[hot(random)]] = value; break;
                default: Data()[base + any(random)] = value & 1 ? 0 : value; break;
            }
        }
    }

private:
    std::size_t page_;
    std::uint8_t* block_;
};

TEST(HostilePeerTest, ReadersStayInsideTheirRegionsAndReturn) {
    qv::test::IsolatedEnvironment environment;
    FencedRegion base, in, out;
    base.Data()[0] = base.Data()[2] = base.Data()[4] = 1;
    SnmpSharedMemory::SetSharedMemoryBasePointer(reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(base.Data()));
    for (unsigned int i = 0; i < 16; ++i) {
        SnmpSharedMemory::SetSharedMemoryInputPointer(i, in.Data());
        SnmpSharedMemory::SetSharedMemoryOutputPointer(i, out.Data());
    }
    SnmpTime::Init();
    ::InitializeCriticalSection(&g_TrapCriticalSection);
    std::atomic<bool> running{true};
    std::thread peer([&] {
        for (std::mt19937 random(12345); running;) base.Scribble(random), in.Scribble(random), out.Scribble(random);
    });
    int rounds = 0;
    for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(4); std::chrono::steady_clock::now() < deadline; ++rounds) {
        qv::worker::DrainBaseRing(reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(base.Data()));
        AsnObjectIdentifier enterprise{0, nullptr};
        AsnInteger32 generic = 0, specific = 0, status = 0, index = 0;
        AsnTimeticks stamp = 0;
        SnmpVarBindList bindings{nullptr, 0};
        SnmpExtensionTrap(&enterprise, &generic, &specific, &stamp, &bindings);
        SnmpUtilVarBindListFree(&bindings);
        // GETNEXT polls before it sleeps, and the peer keeps the IN ring busy.
        UINT ids[] = {1, 3, 6, 1, 4, 1, 39917, 1, 1, 1};
        AsnObjectIdentifier oid{10, ids};
        SnmpVarBindList list{static_cast<SnmpVarBind*>(SnmpUtilMemAlloc(sizeof(SnmpVarBind))), 1};
        SnmpUtilOidCpy(&list.list[0].name, &oid);
        list.list[0].value.asnType = ASN_NULL;
        SnmpExtensionQuery(SNMP_PDU_GETNEXT, &list, &status, &index);
        SnmpUtilVarBindListFree(&list);
    }
    running = false;
    peer.join();
    EXPECT_GT(rounds, 0) << "nothing faulted and every reader came back";
    for (unsigned int i = 0; i < 16; ++i) {
        SnmpSharedMemory::SetSharedMemoryInputPointer(i, nullptr);
        SnmpSharedMemory::SetSharedMemoryOutputPointer(i, nullptr);
    }
    SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr);
    ::DeleteCriticalSection(&g_TrapCriticalSection);
}

}  // namespace
