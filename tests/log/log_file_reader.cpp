#include "log_file_reader.h"

#include <gtest/gtest.h>

#include "support/test_environment.h"

namespace qv::test {

std::u16string ReadUtf16File(const std::filesystem::path& path) {
    const std::string bytes = ReadFileBytes(path);
    EXPECT_EQ(bytes.size() % 2, 0u) << "a UTF-16 file has an even number of bytes";
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return units;
}

namespace {

void CheckTimeStamp(const std::u16string& stamp, std::time_t earliest, std::time_t latest) {
    const std::u16string shape = u"dddd-dd-dd dd:dd:dd";
    int fields[6] = {};
    int field = 0;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] != u'd') {
            ASSERT_EQ(stamp[i], shape[i]) << "position " << i;
            ++field;
        } else {
            ASSERT_TRUE(stamp[i] >= u'0' && stamp[i] <= u'9') << "position " << i;
            fields[field] = fields[field] * 10 + (stamp[i] - u'0');
        }
    }
    std::tm local{};
    local.tm_year = fields[0] - 1900;
    local.tm_mon = fields[1] - 1;
    local.tm_mday = fields[2];
    local.tm_hour = fields[3];
    local.tm_min = fields[4];
    local.tm_sec = fields[5];
    local.tm_isdst = -1;
    const std::time_t stamped = std::mktime(&local);
    EXPECT_GE(stamped, earliest - 1);
    EXPECT_LE(stamped, latest + 1);
}

}  // namespace

std::vector<std::u16string> RecordsWithoutTimes(const std::u16string& text, std::time_t earliest,
                                                std::time_t latest) {
    std::vector<std::u16string> records;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find(u"\r\n", start);
        const bool terminated = end != std::u16string::npos;
        if (!terminated) end = text.size();
        std::u16string record = text.substr(start, end - start);
        EXPECT_GE(record.size(), 19u) << "record without a time stamp";
        if (record.size() >= 19) {
            CheckTimeStamp(record.substr(0, 19), earliest, latest);
            record = u"T" + record.substr(19);
        }
        records.push_back(terminated ? record : record + u"<no CR LF>");
        start = terminated ? end + 2 : end;
    }
    return records;
}

}  // namespace qv::test
