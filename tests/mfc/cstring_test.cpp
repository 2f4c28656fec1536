#include <gtest/gtest.h>

#include <cwchar>

#include "qv_afx.h"

namespace {

TEST(CStringTest, NarrowTextIsWidenedAndNullTextIsEmpty) {
    const CString text("Grüße_WindowsSnmp.txt");
    EXPECT_EQ(text.GetLength(), 21);  // characters, not bytes
    EXPECT_STREQ(static_cast<LPCWSTR>(text), L"Grüße_WindowsSnmp.txt");
    EXPECT_TRUE(text == L"Grüße_WindowsSnmp.txt");
    for (const CString& empty : {CString(), CString(static_cast<const char*>(nullptr)),
                                 CString(static_cast<const wchar_t*>(nullptr)), CString("")}) {
        EXPECT_TRUE(empty.IsEmpty());
        EXPECT_STREQ(static_cast<LPCWSTR>(empty), L"");
    }
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
