// The service worker over a hostile base region: the drain of the base ring,
// connection handling and session supervision, with any header and records.
#include "fuzz/fuzz_support.h"
#include "worker/service_worker.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qv::fuzz::GuardedRegion& base = qv::fuzz::Base();
    base.Fill(data, size);
    qv::worker::DrainBaseRing(base.Header());
    qv::worker::SuperviseSessions(base.Header());
    return 0;
}
