// wsprintf and the UTF-8 code-page conversions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qv_windows.h"

namespace {

TEST(WsprintfTest, FormatsTheWindowsSubsetAndStopsAt1024Characters) {
    char buffer[1100];
    const std::string expected = "-42|42|ff|FF|    7|7    |-0007|text|Z|4000000000|0x1f|abc|%|-3|[Grüße]";
    EXPECT_EQ(wsprintfA(buffer, "%d|%u|%x|%X|%5d|%-5d|%05d|%s|%c|%lu|%#x|%.3s|%%|%hd|[%S]", -42, 42u, 255u, 255u, 7, 7,
                        -7, "text", 'Z', 4000000000ul, 0x1Fu, "abcdef", static_cast<short>(-3), L"Grüße"),
              static_cast<int>(expected.size()));
    EXPECT_EQ(std::string(buffer), expected);
    wchar_t wide[64];
    EXPECT_EQ(wsprintfW(wide, L"%s/%S/%d/%c", L"wide", "Grüße", -5, L'€'), 15);
    EXPECT_STREQ(wide, L"wide/Grüße/-5/€");

    buffer[1024] = '#';
    EXPECT_EQ(wsprintfA(buffer, "%s%d", std::string(1021, 'b').c_str(), 12345), 1023);
    EXPECT_EQ(std::string(buffer + 1021), "12");
    EXPECT_EQ(buffer[1024], '#');
}

TEST(CodePageTest, Utf8RoundTripsThroughWideCharacters) {
    const char* text = "Grüße € 𝄞";
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0), 10);  // nine characters and the terminator
    std::vector<wchar_t> wide(10);
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), 10), 10);
    EXPECT_STREQ(wide.data(), L"Grüße € \U0001D11E");
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    ASSERT_EQ(bytes, static_cast<int>(std::string(text).size()) + 1);
    std::vector<char> back(static_cast<std::size_t>(bytes));
    ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, back.data(), bytes, nullptr, nullptr), bytes);
    EXPECT_STREQ(back.data(), text);

    wchar_t out[8] = {L'#', L'#', L'#', L'#'};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, out, 8), 3);  // no terminator without one in the input
    EXPECT_EQ(out[3], L'#');
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, out, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    const char invalid[] = {'a', static_cast<char>(0xC3), 'b', 0};
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, invalid, -1, out, 8), 4);
    EXPECT_STREQ(out, L"a\uFFFDb");
}

}  // namespace
