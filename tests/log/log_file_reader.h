// Reading the UTF-16 log file back in tests.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace qv::test {

// The file's bytes as UTF-16LE units; fails the test on an odd byte count.
std::u16string ReadUtf16File(const std::filesystem::path& path);
// The records between CR LFs, each opening time stamp ("%Y-%m-%d %H:%M:%S",
// local, from `earliest` to `latest` give or take a second) replaced by "T".
std::vector<std::u16string> RecordsWithoutTimes(const std::u16string& text, std::time_t earliest, std::time_t latest);

}  // namespace qv::test
