// A session timed out by the service worker while a query waits on its rings:
// the query must end as timed out without touching the released views.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "query/query_fixture.h"
#include "shm/ring.h"
#include "shm/session_views.h"
#include "shm/snmp_shared_memory.h"
#include "shm/unique_handle.h"
#include "worker/service_worker.h"

namespace {

using namespace qv::test;

qv::shm::UniqueView MapRegion(qv::shm::UniqueMappingHandle& handle, const char* name) {
    handle = qv::shm::UniqueMappingHandle(
        ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0x100000, name));
    EXPECT_TRUE(handle);
    qv::shm::UniqueView view(::MapViewOfFile(handle.Get(), FILE_MAP_WRITE, 0, 0, 0));
    EXPECT_TRUE(view);
    qv::shm::RingResetReadIndex(view.Get());
    qv::shm::RingResetWriteIndex(view.Get());
    return view;
}

class SessionReleaseTest : public QueryTest, public ::testing::WithParamInterface<BYTE> {};

TEST_P(SessionReleaseTest, QueryWaitingOnATimedOutSessionEndsAsTimedOut) {
    const int session = 5;
    qv::shm::UniqueMappingHandle inHandle;
    qv::shm::UniqueMappingHandle outHandle;
    {
        qv::shm::SessionLock lock(session);
        qv::shm::session_views::Install(session, MapRegion(inHandle, "Global\\QV_IN1.3.6.1.4.1.39917.5"),
                                        MapRegion(outHandle, "Global\\QV_OUT1.3.6.1.4.1.39917.5"));
    }
    QVSNMP_COMBufferHeaderLine* base = memory_.Base();
    base->pen[session] = 39917;
    base->appId[session] = 3;
    base->appInst[session] = 3;
    base->sessionState[session] = qv::shm::kSessionUp;

    BindingList bindings({Under(39917, {3, 3, 1})});
    if (GetParam() == SNMP_PDU_SET) bindings[0].value.asnType = ASN_INTEGER;
    const auto start = std::chrono::steady_clock::now();
    auto query = std::async(std::launch::async, [&] { return Query(GetParam(), bindings); });
    // Let the request go out and the wait begin, then time the session out
    // the way the worker does: state 0, notice, views released under the lock.
    void* out = SnmpSharedMemory::GetSharedMemoryOutputPointer(session);
    while (qv::shm::RingIsEmpty(out)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    qv::worker::TimeOutSession(session);
    EXPECT_FALSE(qv::shm::session_views::Held(session));

    const auto result = query.get();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(result.status, SNMP_ERRORSTATUS_RESOURCEUNAVAILABLE);
    EXPECT_LT(seconds, 1.0) << "a released session ends the wait at the next look";
    EXPECT_EQ(bindings[0].value.asnType, GetParam() == SNMP_PDU_SET ? ASN_INTEGER : ASN_NULL);
}

INSTANTIATE_TEST_SUITE_P(AllHandlers, SessionReleaseTest,
                         ::testing::Values(BYTE{SNMP_PDU_GET}, BYTE{SNMP_PDU_GETNEXT}, BYTE{SNMP_PDU_SET}),
                         [](const auto& testInfo) {
                             return testInfo.param == SNMP_PDU_GET ? "Get" : testInfo.param == SNMP_PDU_GETNEXT ? "GetNext" : "Set";
                         });

}  // namespace
