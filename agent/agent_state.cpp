#include "agent/agent_state.h"

HANDLE hMapObject = nullptr;

namespace qv::agent {

std::wstring g_hostProcessName;
bool g_isAgentRole = false;
AFX_EXTENSION_MODULE g_extensionModule = {};

}  // namespace qv::agent
