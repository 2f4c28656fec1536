// The time base: seconds from the performance counter.
#pragma once

#include <cstdint>

#include "shm/qvsnmp_export.h"

namespace SnmpTime {

// Takes the counter frequency as the time base. Applications call it before
// GetTime; the agent's attach calls it for the agent.
QVSNMP_API void Init();
// Seconds on the performance counter since the counter's origin.
QVSNMP_API double GetTime();

}  // namespace SnmpTime

namespace qv::shm {

// The conversion GetTime applies: the counter's high 32 bits as a signed
// number times 2^32, plus its low 32 bits unsigned, divided by the time base.
double CounterToSeconds(std::int64_t counter, double timeBase);
// The time base Init derives from a frequency: its low 32 bits, unsigned.
double FrequencyToTimeBase(std::int64_t frequency);

}  // namespace qv::shm
