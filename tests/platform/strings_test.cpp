// wsprintf and the UTF-8 code-page conversions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qv_windows.h"

namespace qv::test {
namespace {

TEST(WsprintfTest, FormatsTheSubsetWindowsSupports) {
    char buffer[1024];
    const int written = wsprintfA(buffer, "%d|%u|%x|%X|%5d|%-5d|%05d|%s|%c|%lu|%#x|%.3s|%%|%hd",
                                  -42, 42u, 255u, 255u, 7, 7, -7, "text", 'Z', 4000000000ul,
                                  0x1Fu, "abcdef", static_cast<short>(-3));
    const std::string expected = "-42|42|ff|FF|    7|7    |-0007|text|Z|4000000000|0x1f|abc|%|-3";
    EXPECT_EQ(std::string(buffer), expected);
    EXPECT_EQ(written, static_cast<int>(expected.size()));
}

TEST(WsprintfTest, OutputStopsAt1024CharactersWithTheTerminator) {
    const std::string longText(2000, 'a');
    std::vector<char> buffer(1100, '#');
    EXPECT_EQ(wsprintfA(buffer.data(), "%s", longText.c_str()), 1023);
    EXPECT_EQ(buffer[1022], 'a');
    EXPECT_EQ(buffer[1023], '\0');
    EXPECT_EQ(buffer[1024], '#');
    EXPECT_EQ(wsprintfA(buffer.data(), "%s%d", std::string(1021, 'b').c_str(), 12345), 1023);
    EXPECT_EQ(std::string(buffer.data() + 1021), "12");
}

TEST(WsprintfTest, WideArgumentsBecomeUtf8AndNarrowOnesWide) {
    char narrow[64];
    EXPECT_EQ(wsprintfA(narrow, "[%S]", L"Grüße"), 9);
    EXPECT_STREQ(narrow, "[Grüße]");

    wchar_t wide[64];
    EXPECT_EQ(wsprintfW(wide, L"%s/%S/%d/%c", L"wide", "Grüße", -5, L'€'), 15);
    EXPECT_STREQ(wide, L"wide/Grüße/-5/€");
    EXPECT_EQ(wsprintfW(wide, L"%hs %ls", "narrow", L"wide"), 11);
    EXPECT_STREQ(wide, L"narrow wide");
}

// ---- code pages --------------------------------------------------------------------------

TEST(CodePageTest, Utf8RoundTripsThroughWideCharacters) {
    const char* text = "Grüße € 𝄞";
    const int needed = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    ASSERT_EQ(needed, 10);  // nine characters and the terminator
    std::vector<wchar_t> wide(static_cast<std::size_t>(needed));
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), needed), needed);
    EXPECT_STREQ(wide.data(), L"Grüße € \U0001D11E");

    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    ASSERT_EQ(bytes, static_cast<int>(std::strlen(text)) + 1);
    std::vector<char> back(static_cast<std::size_t>(bytes));
    ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, back.data(), bytes, nullptr, nullptr),
              bytes);
    EXPECT_STREQ(back.data(), text);
}

TEST(CodePageTest, ExplicitLengthsTooSmallOutputsAndOtherCodePages) {
    wchar_t wide[8] = {L'#', L'#', L'#', L'#', L'#', L'#', L'#', L'#'};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, wide, 8), 3);  // no terminator
    EXPECT_EQ(wide[3], L'#');
    char text[8];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"é", 1, text, 8, nullptr, nullptr), 2);

    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"€", -1, text, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    // CP_ACP is UTF-8 here; a real ANSI code page is not available.
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "a", -1, wide, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(CodePageTest, InvalidInputIsReplacedOrRefusedOnRequest) {
    const char invalid[] = {'a', static_cast<char>(0xC3), 'b', static_cast<char>(0xFF), 0};
    wchar_t wide[8];
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, invalid, -1, wide, 8), 5);
    EXPECT_STREQ(wide, L"a\uFFFDb\uFFFD");
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, invalid, -1, wide, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);

    const wchar_t lone[] = {L'x', static_cast<wchar_t>(0xD800), 0};
    char text[8];
    ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, lone, -1, text, 8, nullptr, nullptr), 5);
    EXPECT_STREQ(text, "x\xEF\xBF\xBD");
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, -1, text, 8, nullptr,
                                  nullptr),
              0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

}  // namespace
}  // namespace qv::test
