// Role detection from the host executable's path.
#include <gtest/gtest.h>

#include "agent/path_splitter.h"
#include "agent/role.h"

namespace {

using qv::agent::DetectRoleFromPath;
using qv::agent::PathSplitter;

TEST(RoleDetectionTest, SnmpExecutableIsTheAgentNamedWindowsSnmp) {
    std::wstring name;
    EXPECT_TRUE(DetectRoleFromPath(L"C:\\Windows\\System32\\snmp.exe", name));
    EXPECT_EQ(name, L"WindowsSnmp");
    EXPECT_TRUE(DetectRoleFromPath(L"Z:\\usr\\sbin\\snmp", name));
    EXPECT_EQ(name, L"WindowsSnmp");
}

TEST(RoleDetectionTest, OtherNamesAreApplicationsKeepingTheirName) {
    std::wstring name;
    EXPECT_FALSE(DetectRoleFromPath(L"C:\\Windows\\System32\\SNMP.EXE", name));
    EXPECT_EQ(name, L"SNMP");
    EXPECT_FALSE(DetectRoleFromPath(L"C:\\tools\\snmp2.exe", name));
    EXPECT_EQ(name, L"snmp2");
    EXPECT_FALSE(DetectRoleFromPath(L"C:\\snmp\\app.exe", name));
    EXPECT_EQ(name, L"app");
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
