// Role detection from the host executable's path.
#include <gtest/gtest.h>

#include "agent/path_splitter.h"
#include "agent/role.h"

namespace {

using qv::agent::DetectRoleFromPath;
using qv::agent::PathSplitter;

TEST(RoleDetectionTest, OnlySnmpIsTheAgentNamedWindowsSnmpAndApplicationsKeepTheirName) {
    struct Case {
        const wchar_t* path;
        bool agent;
        const wchar_t* name;
    };
    for (const Case& c : {Case{L"C:\\Windows\\System32\\snmp.exe", true, L"WindowsSnmp"},
                          Case{L"Z:\\usr\\sbin\\snmp", true, L"WindowsSnmp"},
                          Case{L"C:\\Windows\\System32\\SNMP.EXE", false, L"SNMP"},
                          Case{L"C:\\tools\\snmp2.exe", false, L"snmp2"}, Case{L"C:\\snmp\\app.exe", false, L"app"}}) {
        std::wstring name;
        EXPECT_EQ(DetectRoleFromPath(c.path, name), c.agent);
        EXPECT_EQ(name, c.name);
    }
}

TEST(PathSplitterTest, DotAndDotDotSegmentsAreResolved) {
    const PathSplitter parts(L"C:\\a\\.\\b\\..\\c\\snmp.exe");
    EXPECT_EQ(parts.FullPath(), L"C:\\a\\c\\snmp.exe");
    EXPECT_EQ(parts.Drive(), L"C:");
    EXPECT_EQ(parts.Directory(), L"\\a\\c\\");
    EXPECT_EQ(parts.FileName(), L"snmp");
    EXPECT_EQ(parts.Extension(), L".exe");
    EXPECT_EQ(parts.SegmentCount(), 4);
}

TEST(PathSplitterTest, DotDotWithoutANameBeforeItStays) {
    EXPECT_EQ(PathSplitter(L"..\\..\\x\\..\\tool.exe").FullPath(), L"..\\..\\tool.exe");
    EXPECT_EQ(PathSplitter(L"C:\\a\\b\\..\\..\\..\\t.exe").FullPath(), L"C:\\..\\t.exe");
}

TEST(PathSplitterTest, EmptyPiecesAreSkippedAndATrailingBackslashStays) {
    const PathSplitter parts(L"C:\\\\dir\\\\sub\\");
    EXPECT_EQ(parts.FullPath(), L"C:\\dir\\sub\\");
    EXPECT_EQ(parts.FileName(), L"");
}

TEST(PathSplitterTest, ShortPathsGiveOneEmptySegment) {
    const PathSplitter parts(L"a.ex");
    EXPECT_EQ(parts.SegmentCount(), 1);
    EXPECT_EQ(parts.Segment(0), L"");
    EXPECT_EQ(parts.FileName(), L"");
}

TEST(PathSplitterTest, PathsWithMoreThanFiftySegmentsAreLeftUnchanged) {
    std::wstring path = L"C:";
    for (int i = 0; i < 55; ++i) path += L"\\d";
    path += L"\\..\\snmp.exe";
    const PathSplitter parts(path);
    EXPECT_EQ(parts.FullPath(), path.substr(0, 259));
}

}  // namespace
