// Role detection from the host executable's path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/path_splitter.h"
#include "agent/role.h"

namespace {

using qv::agent::PathSplitter;

TEST(RoleDetectionTest, OnlySnmpIsTheAgentNamedWindowsSnmpAndApplicationsKeepTheirName) {
    struct Case {
        const wchar_t* path;
        bool agent;
        const wchar_t* name;
    };
    for (const Case& c : {Case{L"C:\\Windows\\System32\\snmp.exe", true, L"WindowsSnmp"}, Case{L"Z:\\usr\\sbin\\snmp", true, L"WindowsSnmp"},
                          Case{L"C:\\Windows\\System32\\SNMP.EXE", false, L"SNMP"}, Case{L"C:\\tools\\snmp2.exe", false, L"snmp2"},
                          Case{L"C:\\snmp\\app.exe", false, L"app"}}) {
        std::wstring name;
        EXPECT_EQ(qv::agent::DetectRoleFromPath(c.path, name), c.agent);
        EXPECT_EQ(name, c.name);
    }
}

TEST(PathSplitterTest, SplitsIntoDriveDirectoryNameAndExtensionWithDotSegmentsResolved) {
    const PathSplitter parts(L"C:\\a\\.\\b\\..\\c\\snmp.exe");
    EXPECT_EQ(parts.FullPath(), L"C:\\a\\c\\snmp.exe");
    EXPECT_EQ(parts.Drive(), L"C:");
    EXPECT_EQ(parts.Directory(), L"\\a\\c\\");
    EXPECT_EQ(parts.FileName(), L"snmp");
    EXPECT_EQ(parts.Extension(), L".exe");
    EXPECT_EQ(parts.SegmentCount(), 4);
}

TEST(PathSplitterTest, OddPathsKeepWhatCannotBeResolved) {
    std::wstring deep = L"C:";
    for (int i = 0; i < 55; ++i) deep += L"\\d";
    deep += L"\\..\\snmp.exe";
    for (const auto& [path, full] : std::vector<std::pair<std::wstring, std::wstring>>{
             {L"..\\..\\x\\..\\tool.exe", L"..\\..\\tool.exe"},     // dot-dot without a name before it stays
             {L"C:\\a\\b\\..\\..\\..\\t.exe", L"C:\\..\\t.exe"},
             {L"C:\\\\dir\\\\sub\\", L"C:\\dir\\sub\\"},            // empty pieces go, a trailing backslash stays
             {deep, deep.substr(0, 259)}}) {                        // more than fifty segments: unchanged
        EXPECT_EQ(PathSplitter(path).FullPath(), full);
    }
    EXPECT_EQ(PathSplitter(L"C:\\dir\\sub\\").FileName(), L"");
    const PathSplitter shortPath(L"a.ex");  // one empty segment
    EXPECT_EQ(shortPath.SegmentCount(), 1);
    EXPECT_EQ(shortPath.Segment(0) + shortPath.FileName(), L"");
}

}  // namespace
