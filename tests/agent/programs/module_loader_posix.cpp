// Module loading for the Linux host stand-in: dlopen, dlsym, dlclose.
#include <dlfcn.h>

#include "module_loader.h"

namespace qv::test {

ModuleHandle LoadModule(const std::string& path, std::string& error) {
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) error = ::dlerror();
    return module;
}

void* FindEntryPoint(ModuleHandle module, const char* name) { return ::dlsym(module, name); }

void UnloadModule(ModuleHandle module) { ::dlclose(module); }

}  // namespace qv::test
