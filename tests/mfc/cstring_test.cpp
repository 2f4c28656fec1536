#include <gtest/gtest.h>

#include <cwchar>

#include "qv_afx.h"

namespace {

TEST(CStringTest, NarrowTextIsWidened) {
    const CString text("QVSNMP_WindowsSnmp.txt");
    EXPECT_EQ(text.GetLength(), 22);
    EXPECT_STREQ(static_cast<LPCWSTR>(text), L"QVSNMP_WindowsSnmp.txt");
    EXPECT_TRUE(text == L"QVSNMP_WindowsSnmp.txt");
}

TEST(CStringTest, EmptyAndNullTextGiveEmptyStrings) {
    EXPECT_TRUE(CString().IsEmpty());
    EXPECT_TRUE(CString(static_cast<const char*>(nullptr)).IsEmpty());
    EXPECT_TRUE(CString(static_cast<const wchar_t*>(nullptr)).IsEmpty());
    EXPECT_TRUE(CString("").IsEmpty());
    EXPECT_STREQ(static_cast<LPCWSTR>(CString()), L"");
    EXPECT_FALSE(CString(L"x").IsEmpty());
}

TEST(CStringTest, ConcatenationKeepsEmbeddedLineEnds) {
    CString line = CString(L"2024-03-05 14:07:09") + L" " + CString(L"WARN : ");
    line += CString("hello\n");
    line += L'\n';
    EXPECT_STREQ(static_cast<LPCWSTR>(line), L"2024-03-05 14:07:09 WARN : hello\n\n");
    EXPECT_EQ(line.GetLength(), static_cast<int>(std::wcslen(line)));
    EXPECT_TRUE(L"a" + CString(L"b") == CString(L"ab"));
}

}  // namespace
