// Loading the module the way the SNMP service does: load the library by path,
// find its entry points by name, unload it. The one part of the host stand-in
// that differs between the loaders (dlopen on Linux, LoadLibrary on Windows).
#pragma once

#include <string>

namespace qv::test {

using ModuleHandle = void*;

// Null on failure, with the loader's reason in `error`.
ModuleHandle LoadModule(const std::string& path, std::string& error);
// Null when the module does not export `name`.
void* FindEntryPoint(ModuleHandle module, const char* name);
// Unloads the module; on Windows this runs the detach under the loader lock.
void UnloadModule(ModuleHandle module);

}  // namespace qv::test
