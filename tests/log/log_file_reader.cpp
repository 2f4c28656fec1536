#include "log_file_reader.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

#include "support/test_environment.h"

namespace qv::test {

std::u16string ReadUtf16File(const std::filesystem::path& path) {
    const std::string bytes = ReadFileBytes(path);
    EXPECT_EQ(bytes.size() % 2, 0u) << "a UTF-16 file has an even number of bytes";
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) | static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    }
    return units;
}

std::vector<std::u16string> RecordsWithoutTimes(const std::u16string& text, std::time_t earliest, std::time_t latest) {
    std::vector<std::u16string> records;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find(u"\r\n", start), text.size());
        const std::u16string record = text.substr(start, end - start);
        const std::size_t stampLength = std::min<std::size_t>(19, record.size());
        std::string stamp;
        for (std::size_t i = 0; i < stampLength; ++i) stamp.push_back(static_cast<char>(record[i]));
        std::tm local{};
        local.tm_isdst = -1;
        std::istringstream(stamp) >> std::get_time(&local, "%Y-%m-%d %H:%M:%S");
        const std::time_t stamped = std::mktime(&local);
        EXPECT_TRUE(stamped >= earliest - 1 && stamped <= latest + 1) << "time stamp " << stamp;
        records.push_back(u"T" + record.substr(stampLength) + (end == text.size() ? u"<no CR LF>" : u""));
        start = end + 2;
    }
    return records;
}

}  // namespace qv::test
