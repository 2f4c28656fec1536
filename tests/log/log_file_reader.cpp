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

bool IsDigit(char16_t unit) {
    return unit >= u'0' && unit <= u'9';
}

void CheckTimeStamp(const std::u16string& stamp, std::time_t earliest, std::time_t latest) {
    ASSERT_EQ(stamp.size(), 19u);
    const std::u16string shape = u"dddd-dd-dd dd:dd:dd";
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == u'd') {
            ASSERT_TRUE(IsDigit(stamp[i])) << "position " << i;
        } else {
            ASSERT_EQ(stamp[i], shape[i]) << "position " << i;
        }
    }
    auto number = [&](std::size_t from, std::size_t count) {
        int value = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            value = value * 10 + (stamp[i] - u'0');
        }
        return value;
    };
    std::tm local{};
    local.tm_year = number(0, 4) - 1900;
    local.tm_mon = number(5, 2) - 1;
    local.tm_mday = number(8, 2);
    local.tm_hour = number(11, 2);
    local.tm_min = number(14, 2);
    local.tm_sec = number(17, 2);
    local.tm_isdst = -1;
    const std::time_t stamped = std::mktime(&local);
    EXPECT_GE(stamped, earliest - 1);
    EXPECT_LE(stamped, latest + 1);
}

}  // namespace

std::vector<std::u16string> RecordsWithoutTimes(const std::u16string& text, std::time_t earliest,
                                                std::time_t latest) {
    std::vector<std::u16string> records;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(u"\r\n", start);
        const bool terminated = end != std::u16string::npos;
        if (!terminated) {
            end = text.size();
        }
        std::u16string record = text.substr(start, end - start);
        EXPECT_GE(record.size(), 19u) << "record without a time stamp";
        if (record.size() >= 19) {
            CheckTimeStamp(record.substr(0, 19), earliest, latest);
            record = u"T" + record.substr(19);
        }
        if (!terminated) {
            record += u"<no CR LF>";
        }
        records.push_back(record);
        start = terminated ? end + 2 : end;
    }
    return records;
}

std::u16string U16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

}  // namespace qv::test
