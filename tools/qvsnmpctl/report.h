// qvsnmpctl's two ways of showing a snapshot: for people and for programs.
#pragma once

#include <string>

#include "snapshot.h"

namespace qvsnmpctl {

// "HH:MM:SS" from the heartbeat digits; "??:??:??" for a digit outside 0..9.
std::string HeartbeatTime(const Snapshot& snapshot);
// Seconds since the last heartbeat; negative when the agent never wrote one.
double HeartbeatAge(const Snapshot& snapshot);

std::string TextReport(const Snapshot& snapshot);
std::string JsonReport(const Snapshot& snapshot);

std::string JsonString(const std::string& text);

}  // namespace qvsnmpctl
