// Module loading for the Windows host stand-in: LoadLibrary, GetProcAddress,
// FreeLibrary, as the SNMP service loads its extension agents.
#include "module_loader.h"
#include "qv_windows.h"

namespace qv::test {

ModuleHandle LoadModule(const std::string& path, std::string& error) {
    HMODULE module = ::LoadLibraryA(path.c_str());
    if (module == nullptr) error = "LoadLibrary error " + std::to_string(::GetLastError());
    return reinterpret_cast<ModuleHandle>(module);
}

void* FindEntryPoint(ModuleHandle module, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

void UnloadModule(ModuleHandle module) { ::FreeLibrary(static_cast<HMODULE>(module)); }

}  // namespace qv::test
