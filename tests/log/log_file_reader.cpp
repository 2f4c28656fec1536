#include "log_file_reader.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

#include "support/test_environment.h"

namespace qv::test {

std::u16string ReadUtf16File(const std::filesystem::path& path) {
    const std::string bytes = ReadFileBytes(path);
    EXPECT_EQ(bytes.size() % 2, 0u) << "a UTF-16 file has an even number of bytes";
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    return units;
}

std::vector<std::u16string> RecordsWithoutTimes(const std::u16string& text, std::time_t earliest, std::time_t latest) {
    std::vector<std::u16string> records;
    for (std::size_t start = 0, end = 0; start < text.size(); start = end + 2) {
        end = std::min(text.find(u"\r\n", start), text.size());
        const std::u16string record = text.substr(start, end - start);
        std::string stamp(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(19, record.size())));
        std::tm local{};
        local.tm_isdst = -1;
        std::istringstream(stamp) >> std::get_time(&local, "%Y-%m-%d %H:%M:%S");
        const std::time_t stamped = std::mktime(&local);
        EXPECT_TRUE(stamped >= earliest - 1 && stamped <= latest + 1) << "time stamp " << stamp;
        records.push_back(u"T" + record.substr(stamp.size()) + (end == text.size() ? u"<no CR LF>" : u""));
    }
    return records;
}

}  // namespace qv::test
