// Costs that are ours to make small, measured on this machine: ring append and
// take, base-record reads, session lookup, the status text and reply
// evaluation. The protocol's own waits (50 ms polls) are not part of these.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "qv_snmp.h"
#include "query/current_variable.h"
#include "query/query_handlers.h"
#include "query/query_message.h"
#include "query/reply_value.h"
#include "shm/wire.h"
#include "shm/ring.h"
#include "shm/shared_access.h"
#include "shm/snmp_session.h"
#include "shm/snmp_shared_memory.h"
#include "worker/base_ring_reader.h"

namespace {

struct Region {
    Region() : bytes(qv::shm::kRegionSize, 0) {
        auto* control = reinterpret_cast<qv::shm::RingControl*>(bytes.data());
        control->readIndex = 1;
        control->writeIndex = 1;
    }
    QVSNMP_COMBufferHeaderLine* Header() { return reinterpret_cast<QVSNMP_COMBufferHeaderLine*>(bytes.data()); }
    // All 16 rows up, PEN 39917, AppId 1..16, AppInst 1.
    void FillSessionTable() {
        for (int i = 0; i < 16; ++i) {
            Header()->sessionState[i] = 2;
            Header()->pen[i] = 39917;
            Header()->appId[i] = static_cast<std::int8_t>(i + 1);
            Header()->appInst[i] = 1;
        }
    }
    std::vector<std::uint8_t> bytes;
};

void BM_RingAppendAndTake(benchmark::State& state) {
    Region region;
    std::uint8_t record[qv::shm::kSlotSize] = {1, 2, 3};
    std::uint8_t out[qv::shm::kSlotSize];
    for (auto _ : state) {
        qv::shm::RingAppend(region.bytes.data(), record);
        qv::shm::RingTake(region.bytes.data(), out);
        benchmark::DoNotOptimize(out[0]);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 2 * qv::shm::kSlotSize);
}
BENCHMARK(BM_RingAppendAndTake);

void BM_ReadBaseRecord(benchmark::State& state) {
    Region region;
    SnmpSharedMemory::SetSharedMemoryBasePointer(region.Header());
    std::uint8_t record[qv::shm::kSlotSize] = {};
    record[qv::shm::record::kAppId] = 1;
    record[qv::shm::record::kAppInst] = 1;
    record[qv::shm::record::kKind] = qv::shm::record::kTrap;
    std::uint8_t buffer[qv::shm::kSlotSize];
    for (auto _ : state) {
        qv::shm::RingAppend(region.bytes.data(), record);
        benchmark::DoNotOptimize(ReadBaseRecord(buffer));
    }
    SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr);
}
BENCHMARK(BM_ReadBaseRecord);

// The lookup walks the table in order: the last row is its worst case.
void BM_SessionLookupLastRow(benchmark::State& state) {
    Region region;
    region.FillSessionTable();
    SnmpSharedMemory::SetSharedMemoryBasePointer(region.Header());
    for (auto _ : state) benchmark::DoNotOptimize(SnmpSession::GetCurrentSnmpSessionId(39917, 16, 1));
    SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr);
}
BENCHMARK(BM_SessionLookupLastRow);

void BM_StatusTextSixteenSessions(benchmark::State& state) {
    Region region;
    region.FillSessionTable();
    SnmpSharedMemory::SetSharedMemoryBasePointer(region.Header());
    UINT ids[] = {1, 3, 6, 1, 4, 1, 44821};
    AsnObjectIdentifier root{7, ids};
    qv::query::LoadCurrentVariable(root);
    for (auto _ : state) {
        SnmpVarBind binding;
        std::memset(&binding, 0, sizeof binding);
        SnmpUtilOidCpy(&binding.name, &root);
        benchmark::DoNotOptimize(GetSessionStatus(&binding));
        SnmpUtilVarBindFree(&binding);
    }
    SnmpSharedMemory::SetSharedMemoryBasePointer(nullptr);
}
BENCHMARK(BM_StatusTextSixteenSessions);

void BM_ReplyEvaluationString(benchmark::State& state) {
    qv::query::Message reply{};
    reply[qv::query::message::kStatus] = 2;
    reply[qv::query::message::kValueType] = ASN_OCTETSTRING;
    std::memset(reply.data() + qv::query::message::kValue, 'x', static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        AsnAny value;
        std::memset(&value, 0, sizeof value);
        value.asnType = ASN_NULL;
        qv::query::PreparedValue prepared;
        qv::query::PrepareReplyValue(reply, value, prepared);
        qv::query::CommitValue(value, prepared);
        SnmpUtilAsnAnyFree(&value);
    }
}
BENCHMARK(BM_ReplyEvaluationString)->Arg(8)->Arg(900);

void BM_ReplyEvaluationInteger(benchmark::State& state) {
    qv::query::Message reply{};
    reply[qv::query::message::kStatus] = 2;
    reply[qv::query::message::kValueType] = ASN_INTEGER;
    for (auto _ : state) {
        AsnAny value;
        std::memset(&value, 0, sizeof value);
        value.asnType = ASN_NULL;
        qv::query::PreparedValue prepared;
        qv::query::PrepareReplyValue(reply, value, prepared);
        qv::query::CommitValue(value, prepared);
        benchmark::DoNotOptimize(value.asnValue.number);
    }
}
BENCHMARK(BM_ReplyEvaluationInteger);

}  // namespace

BENCHMARK_MAIN();
