// Path translation for Windows: there is none to do.
//
// This file must contain only Win32 specific code.
#include "qv_platform.h"

namespace qv::platform {

std::string NativePath(std::string_view windowsPath) { return std::string(windowsPath); }

}  // namespace qv::platform
