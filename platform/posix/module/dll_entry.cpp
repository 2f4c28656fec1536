// Runs the library entry point on Linux, where the loader has no DllMain.
//
// This file must contain only POSIX specific code. It is compiled into
// libqvsnmp.so alone (not into the static library the unit tests link), so
// that loading the shared library is a process attach and unloading it, or the
// process exiting, is a process detach.
#include <dlfcn.h>

#include <cstdio>

#include "agent/dll_main.h"

namespace {

bool g_attached = false;

HINSTANCE ThisModule() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ThisModule), &info) == 0) return nullptr;
    return info.dli_fbase;
}

__attribute__((constructor)) void AttachModule() {
    if (DllMain(ThisModule(), DLL_PROCESS_ATTACH, nullptr)) {
        g_attached = true;
        return;
    }
    // A Windows loader answers a failed attach with a detach and refuses the
    // library. A constructor cannot refuse a dlopen, so the module detaches at
    // once and stays loaded but inert.
    std::fputs("QVSNMP: module attach failed\n", stderr);
    DllMain(ThisModule(), DLL_PROCESS_DETACH, nullptr);
}

__attribute__((destructor)) void DetachModule() {
    if (g_attached) {
        g_attached = false;
        DllMain(ThisModule(), DLL_PROCESS_DETACH, nullptr);
    }
}

}  // namespace
