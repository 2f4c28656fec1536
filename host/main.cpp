// snmp: the Linux SNMP service for the QVSNMP extension agent. The file name
// matters: a process whose executable is named `snmp` is the one the module
// treats as the agent.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "host/extension_module.h"
#include "host/module_worker.h"
#include "host/namespace_claim.h"
#include "host/options.h"
#include "host/snmp_agent.h"

namespace {

constexpr int kUsageError = 2;
int g_stopPipe[2] = {-1, -1};

void OnStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_stopPipe[1], &byte, 1);
}

int Fail(const std::string& message, int status) {
    std::fprintf(stderr, "snmp: %s\n", message.c_str());
    return status;
}

std::string DefaultModulePath() {
    std::error_code error;
    const auto directory = std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
    // Beside the executable, the installed layout, then the build tree.
    for (const auto& candidate : {directory / "libqvsnmp.so", directory / "../lib/qvsnmp/libqvsnmp.so",
                                  directory / "../lib/libqvsnmp.so", directory / "../libqvsnmp.so"}) {
        if (std::filesystem::exists(candidate, error)) return candidate.lexically_normal().string();
    }
    return "/usr/local/lib/qvsnmp/libqvsnmp.so";
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = qv::host::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) return Fail(error + " (see --help)", kUsageError);
    if (options->help) {
        std::fputs(qv::host::Usage().c_str(), stdout);
        return 0;
    }
    if (options->version) {
        std::printf("snmp (QVSNMP host) %s\n", QV_HOST_VERSION);
        return 0;
    }

    // A manager or master that goes away must not take the host with it.
    ::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return Fail("cannot create a pipe", 1);
    struct sigaction stop{};
    stop.sa_handler = OnStopSignal;
    ::sigemptyset(&stop.sa_mask);
    ::sigaction(SIGTERM, &stop, nullptr);
    ::sigaction(SIGINT, &stop, nullptr);

    // Before the module is loaded: loading it already opens the base region.
    const auto claim = qv::host::NamespaceClaim::Take(error);
    if (!claim) return Fail(error, 1);

    const std::string modulePath = options->modulePath.empty() ? DefaultModulePath() : options->modulePath;
    auto module = qv::host::ExtensionModule::Load(modulePath, error);
    if (!module) return Fail(error, 1);
    if (!module->Start(error)) return Fail(error, 1);

    {
        qv::host::ModuleWorker worker(*module);
        qv::host::SnmpAgent agent(*options, worker, module->Views());
        if (!agent.Start(error)) {
            worker.Stop();
            return Fail(error, kUsageError);
        }
        std::fprintf(stderr, "snmp: serving %zu views from %s\n", module->Views().size(), modulePath.c_str());
        agent.Run(g_stopPipe[0]);
        // Stop calling into the module before it is unloaded.
        worker.Stop();
    }
    // Unloading runs the module's detach: service-up flag 0, session table
    // cleared, its shared memory released.
    module.reset();
    std::fprintf(stderr, "snmp: stopped\n");
    return 0;
}
