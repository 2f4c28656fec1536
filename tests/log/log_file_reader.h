// Reading the UTF-16 log file back in tests.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace qv::test {

// The file's bytes as UTF-16LE units; fails the test on an odd byte count.
std::u16string ReadUtf16File(const std::filesystem::path& path);
// The log text split at each CR LF, the time stamp that opens every record
// replaced by "T". Each stamp must be local time, "%Y-%m-%d %H:%M:%S", from
// `earliest` to `latest` (a second of slack either side).
std::vector<std::u16string> RecordsWithoutTimes(const std::u16string& text, std::time_t earliest, std::time_t latest);

}  // namespace qv::test
