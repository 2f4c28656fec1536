#include "agent/role.h"

#include "agent/path_splitter.h"
#include "qv_windows.h"

namespace qv::agent {

bool DetectRoleFromPath(const std::wstring& executablePath, std::wstring& processName) {
    const PathSplitter parts(executablePath);
    processName = parts.FileName();
    // Case-sensitive and whole: "SNMP" or "snmp2" are applications.
    if (processName == kAgentHostName) {
        processName = kAgentProcessName;
        return true;
    }
    return false;
}

bool DetectRole(std::wstring& processName) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return DetectRoleFromPath(std::wstring(path, length < MAX_PATH ? length : MAX_PATH - 1),
                              processName);
}

}  // namespace qv::agent
