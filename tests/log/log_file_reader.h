// Reading the UTF-16 log file back in tests.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace qv::test {

// The file's bytes as UTF-16LE units; fails the test on an odd byte count.
std::u16string ReadUtf16File(const std::filesystem::path& path);

// Splits the log text into records at each CR LF and replaces the time stamp
// that opens every record by "T". Each stamp must have the shape
// "YYYY-MM-DD HH:MM:SS" and lie between `earliest` and `latest` (with a second
// of slack either side); a record without one fails the test.
std::vector<std::u16string> RecordsWithoutTimes(const std::u16string& text, std::time_t earliest,
                                                std::time_t latest);

}  // namespace qv::test
