// Views of shared-memory objects that another process shrinks.
//
// On Windows nobody can shrink a section while it is mapped. A POSIX
// shared-memory object can be truncated by any process that may open it, and
// every later access to a view past the new end raises SIGBUS, which would
// kill the agent and every application with it. The guard makes such an
// access harmless: the SIGBUS handler gives the object its size back (the
// truncated part reads as zeros, as if the peer had written zeros there,
// which it may anyway) and the access is retried. If the size cannot be
// restored, the view is replaced by private zero pages, so this process goes
// on alone with what it can no longer share.
//
// The handler may run at any moment on any thread, so the table it reads is a
// fixed array of atomics, filled and emptied without locks.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "posix_internal.h"

namespace qv::posix {
namespace {

// The agent maps the base region and 32 session regions; an application a few.
constexpr int kGuardedViews = 256;
constexpr std::size_t kNameSize = 64;

struct GuardedView {
    std::atomic<std::uintptr_t> base{0};  // 0: free; kClaimed: being filled
    std::size_t length = 0;
    int fd = -1;
    off_t end = 0;  // the object size this view needs
    char name[kNameSize] = {};
};

constexpr std::uintptr_t kClaimed = 1;
GuardedView g_views[kGuardedViews];
struct sigaction g_previous {};

void Say(const char* first, const char* name, const char* last) {
    // write(2) is async-signal-safe; stdio is not.
    const auto put = [](const char* text) {
        ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
        (void)ignored;
    };
    put(first);
    put(name);
    put(last);
}

void PassOn(int signal, siginfo_t* info, void* context) {
    if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
        g_previous.sa_sigaction(signal, info, context);
    } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(signal);
    } else {
        // Not a view of ours: the retried access faults again and the default
        // action ends the process, as it would have without the guard.
        ::signal(signal, SIG_DFL);
    }
}

void OnBusError(int signal, siginfo_t* info, void* context) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (GuardedView& view : g_views) {
        const std::uintptr_t base = view.base.load(std::memory_order_acquire);
        if (base <= kClaimed || address < base || address - base >= view.length) continue;
        struct stat status {};
        if (::fstat(view.fd, &status) == 0 && status.st_size < view.end &&
            ::ftruncate(view.fd, view.end) == 0) {
            Say("qvsnmp: shared memory ", view.name, " was shrunk by another process; size restored\n");
            return;
        }
        // The object is not short (so this is no truncation we can undo, a full
        // /dev/shm say) or cannot be grown: keep this process going on private
        // zero pages.
        void* replaced = ::mmap(reinterpret_cast<void*>(base), view.length, PROT_READ | PROT_WRITE,
                                MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (replaced == MAP_FAILED) break;
        Say("qvsnmp: shared memory ", view.name, " cannot be read; this process no longer shares it\n");
        return;
    }
    PassOn(signal, info, context);
}

void InstallHandler() {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &g_previous);
}

}  // namespace

void GuardView(void* base, std::size_t length, int fd, std::uint64_t end, const std::string& name) {
    static std::once_flag installed;
    std::call_once(installed, InstallHandler);
    for (GuardedView& view : g_views) {
        std::uintptr_t expected = 0;
        if (!view.base.compare_exchange_strong(expected, kClaimed, std::memory_order_acquire)) continue;
        view.length = length;
        view.fd = fd;
        view.end = static_cast<off_t>(end);
        std::strncpy(view.name, name.empty() ? "(unnamed)" : name.c_str(), kNameSize - 1);
        view.name[kNameSize - 1] = '\0';
        view.base.store(reinterpret_cast<std::uintptr_t>(base), std::memory_order_release);
        return;
    }
    // A full table leaves the view unguarded: as on any POSIX system, a
    // shrink then ends this process.
}

void UnguardView(const void* base) {
    for (GuardedView& view : g_views) {
        std::uintptr_t expected = reinterpret_cast<std::uintptr_t>(base);
        if (view.base.compare_exchange_strong(expected, 0, std::memory_order_release)) return;
    }
}

}  // namespace qv::posix
