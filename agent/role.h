// Which role the module plays in this process.
#pragma once

#include <string>

namespace qv::agent {

// The host executable's base name that makes this process the agent.
inline constexpr wchar_t kAgentHostName[] = L"snmp";
// The host process name the agent uses for itself (log file name).
inline constexpr wchar_t kAgentProcessName[] = L"WindowsSnmp";

// Role decided from a host executable path: true for the agent role. Fills
// `processName` with the executable's file name without extension, replaced by
// "WindowsSnmp" in the agent role.
bool DetectRoleFromPath(const std::wstring& executablePath, std::wstring& processName);

// Role of the running process (GetModuleFileNameW of the executable).
bool DetectRole(std::wstring& processName);

}  // namespace qv::agent
