// Process-wide state of the module that the entry points share.
#pragma once

#include <string>

#include "qv_afx.h"
#include "qv_windows.h"

// The agent's handle of the base region's mapping object, kept from attach to
// detach (owner: the module attach; released by the module detach).
extern HANDLE hMapObject;

namespace qv::agent {

// File name of the host executable without directory and extension, or
// "WindowsSnmp" in the agent role.
extern std::wstring g_hostProcessName;
extern bool g_isAgentRole;
extern AFX_EXTENSION_MODULE g_extensionModule;

}  // namespace qv::agent
