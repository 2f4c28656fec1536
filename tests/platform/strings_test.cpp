// wsprintf and the UTF-8 code-page conversions.
#include <gtest/gtest.h>

#include <string>

#include "qv_windows.h"

namespace {

TEST(StringsTest, WsprintfFormatsTheWindowsSubsetUpTo1023Characters) {
    char buffer[1100];
    const std::string expected = "-42|42|ff|FF|    7|7    |-0007|text|Z|4000000000|0x1f|abc|%|-3|[Grüße]";
    EXPECT_EQ(wsprintfA(buffer, "%d|%u|%x|%X|%5d|%-5d|%05d|%s|%c|%lu|%#x|%.3s|%%|%hd|[%S]", -42, 42u, 255u, 255u, 7, 7,
                        -7, "text", 'Z', 4000000000ul, 0x1Fu, "abcdef", static_cast<short>(-3), L"Grüße"),
              static_cast<int>(expected.size()));
    EXPECT_EQ(buffer, expected);
    wchar_t wide[64];
    EXPECT_EQ(wsprintfW(wide, L"%s/%S/%d/%c", L"wide", "Grüße", -5, L'€'), 15);
    EXPECT_STREQ(wide, L"wide/Grüße/-5/€");
    buffer[1024] = '#';
    EXPECT_EQ(wsprintfA(buffer, "%s%d", std::string(1021, 'b').c_str(), 12345), 1023);
    EXPECT_EQ(std::string(buffer + 1021) + buffer[1024], "12#");
}

TEST(StringsTest, Utf8RoundTripsThroughWideCharactersAndInvalidBytesBecomeReplacements) {
    const char text[] = "Grüße € 𝄞";
    wchar_t wide[16] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0), 10);  // nine characters and the terminator
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 16), 10);
    EXPECT_STREQ(wide, L"Grüße € \U0001D11E");
    char back[32] = {};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide, -1, back, 32, nullptr, nullptr), static_cast<int>(sizeof text));
    EXPECT_STREQ(back, text);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, wide, 16), 3);  // no terminator without one in the input
    EXPECT_EQ(wide[3], L'ß');
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xC3" "b", -1, wide, 16), 4);
    EXPECT_STREQ(wide, L"a\uFFFDb");
}

}  // namespace
