// The agent's readers while a hostile peer rewrites the shared memory under
// them: indices, lengths, terminators, identities and type bytes. Every region
// lies between inaccessible pages, so an access outside one faults at once.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <iostream>
#include <random>
#include <thread>

#include "agent/extension_agent.h"
#include "trap/trap_signal.h"
#include "qv_snmp.h"
#include "shm/wire.h"
#include "shm/snmp_shared_memory.h"
#include "shm/snmp_time.h"
#include "support/test_environment.h"
#include "worker/service_worker.h"

namespace {

class FencedRegion {
public:
    FencedRegion() {
        page_ = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        block_ = static_cast<std::uint8_t*>(
            ::mmap(nullptr, qv::shm::kRegionSize + 2 * page_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        data_ = block_ + page_;
        ::mprotect(data_, qv::shm::kRegionSize, PROT_READ | PROT_WRITE);
    }
    ~FencedRegion() { ::munmap(block_, qv::shm::kRegionSize + 2 * page_); }
    std::uint8_t* Data() const { return data_; }

private:
    std::size_t page_ = 0;
    std::uint8_t* block_ = nullptr;
    std::uint8_t* data_ = nullptr;
};

// Writes bytes where they hurt most: the control slots, the session table and
// the fields of the first records of each ring.
void Scribble(std::uint8_t* region, std::mt19937& random) {
    static const std::size_t kHotOffsets[] = {0, 1, 2, 3, 4, 5, 6, 34, 35, 36, 37, 38, 39, 40};
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> slot(0, 40);
    std::uniform_int_distribution<std::size_t> hot(0, std::size(kHotOffsets) - 1);
    std::uniform_int_distribution<std::size_t> table(16, 127);
    std::uniform_int_distribution<std::size_t> anywhere(0, qv::shm::kSlotSize - 1);
    for (int i = 0; i < 64; ++i) {
        const std::size_t base = static_cast<std::size_t>(slot(random)) * qv::shm::kSlotSize;
        switch (i % 4) {
            case 0: region[hot(random)] = static_cast<std::uint8_t>(byte(random)); break;
            case 1: region[table(random)] = static_cast<std::uint8_t>(byte(random) % 4); break;
            case 2: region[base + hot(random)] = static_cast<std::uint8_t>(byte(random)); break;
            default: region[base + anywhere(random)] = static_cast<std::uint8_t>(byte(random) & 1 ? 0 : byte(random)); break;
        }
    }
}

TEST(HostilePeerTest, ReadersStayInsideTheirRegionsAndReturn) {
    qv::test::IsolatedEnvironment environment;
    FencedRegion base;
    FencedRegion in;
    FencedRegion out;
    auto* header = reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(base.Data());
    header->readIndex = header->writeIndex = header->trapReadIndex = 1;
    SnmpSharedMemory::SetSharedMemoryBasePointer(header);
    for (unsigned int i = 0; i < 16; ++i) {
        SnmpSharedMemory::SetSharedMemoryInputPointer(i, in.Data());
        SnmpSharedMemory::SetSharedMemoryOutputPointer(i, out.Data());
    }
    SnmpTime::Init();
    ::InitializeCriticalSection(&g_TrapCriticalSection);

    std::atomic<bool> running{true};
    std::thread peer([&] {
        std::mt19937 random(12345);
        while (running) {
            Scribble(base.Data(), random);
            Scribble(in.Data(), random);
            Scribble(out.Data(), random);
        }
    });

    int drains = 0, traps = 0, queries = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    while (std::chrono::steady_clock::now() < deadline) {
        qv::worker::DrainBaseRing(header);
        ++drains;
        AsnObjectIdentifier enterprise{0, nullptr};
        AsnInteger32 generic = 0, specific = 0;
        AsnTimeticks stamp = 0;
        SnmpVarBindList bindings{nullptr, 0};
        SnmpExtensionTrap(&enterprise, &generic, &specific, &stamp, &bindings);
        SnmpUtilVarBindListFree(&bindings);
        ++traps;
        // GETNEXT polls before it sleeps, and the peer keeps the IN ring busy.
        UINT ids[] = {1, 3, 6, 1, 4, 1, 39917, 1, 1, 1};
        AsnObjectIdentifier oid{10, ids};
        SnmpVarBindList list{static_cast<SnmpVarBind*>(SnmpUtilMemAlloc(sizeof(SnmpVarBind))), 1};
        SnmpUtilOidCpy(&list.list[0].name, &oid);
        list.list[0].value.asnType = ASN_NULL;
        AsnInteger32 status = 0, index = 0;
        SnmpExtensionQuery(SNMP_PDU_GETNEXT, &list, &status, &index);
        SnmpUtilVarBindListFree(&list);
        ++queries;
    }
    running = false;
    peer.join();
    std::cout << "rounds under attack: " << drains << std::endl;
    // Nothing faulted; each reader came back every time it was called.
    EXPECT_GT(drains, 0);
    EXPECT_EQ(drains, traps);
    EXPECT_EQ(traps, queries);
    for (unsigned int i = 0; i < 16; ++i) {
        SnmpSharedMemory::SetSharedMemoryInputPointer(i, nullptr);
        SnmpSharedMemory::SetSharedMemoryOutputPointer(i, nullptr);
    }
    SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr);
    ::DeleteCriticalSection(&g_TrapCriticalSection);
}

}  // namespace
