// qvsnmp-soak [--seconds S] [--rss-tolerance-kb KB]: the host under a steady
// load, then checks. In a shared-memory namespace of its own it starts the host
// `snmp` and snmptrapd on free loopback ports and serves 16 SDK applications
// in this process. Managers GET and SET through net-snmp's library while
// every application raises 5 traps a second. It checks every answered value,
// that no SET was applied twice and every answered SET was applied, that every
// trap reached snmptrapd once (at this rate the trap reader is never lapped),
// that the host's memory and descriptors stay flat after the warm-up and that
// nothing is left in /dev/shm. Exit status 0 only when every check held.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <regex>
#include <thread>

#include "qvsnmp/application.h"
#include "support/free_port.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr int kPen = 39917, kApps = 16, kValues = 6;  // .1.k INTEGER appId * 1000 + k

struct Served {
    std::unique_ptr<qvsnmp::Application> app;
    std::mutex lock;
    std::map<long, int> sets;  // value -> times applied; every SET value is unique
    int traps = 0;             // appended
};
struct {
    std::atomic<long> checked{0}, wrong{0}, setsSent{0}, setsAnswered{0}, failed{0};
} tally;

pid_t Spawn(std::vector<std::string> command) {
    std::vector<char*> argv;
    for (auto& word : command) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    return ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

int Stop(pid_t pid) {
    int status = 0;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 300 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) std::this_thread::sleep_for(100ms);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

using qv::test::FreeUdpPort;

// GETs (values checked) and unique SETs in turn on a session of its own,
// SNMPv1 or v2c, until `until`.
void Manage(int number, int port, Clock::time_point until) {
    netsnmp_session settings;
    snmp_sess_init(&settings);
    settings.version = number % 2 ? SNMP_VERSION_1 : SNMP_VERSION_2c;
    std::string peer = "udp:127.0.0.1:" + std::to_string(port), community = "private";
    settings.peername = peer.data();
    settings.community = reinterpret_cast<u_char*>(community.data());
    settings.community_len = community.size();
    settings.timeout = 10 * 1000 * 1000;  // behind the other managers' bindings
    void* session = snmp_sess_open(&settings);
    std::minstd_rand random(number);
    for (long turn = 0; session != nullptr && Clock::now() < until; ++turn) {
        const bool set = turn % 2;
        const long appId = 1 + random() % kApps, k = 1 + random() % kValues, value = number * 1000000L + turn;
        const oid name[] = {1, 3, 6, 1, 4, 1, kPen, oid(appId), 1, oid(set ? 3 : 1), oid(k)};
        netsnmp_pdu* request = snmp_pdu_create(set ? SNMP_MSG_SET : SNMP_MSG_GET);
        if (set) snmp_pdu_add_variable(request, name, 10, ASN_INTEGER, &value, sizeof value), ++tally.setsSent;
        if (!set) snmp_add_null_var(request, name, 11);
        netsnmp_pdu* response = nullptr;
        if (snmp_sess_synch_response(session, request, &response) != STAT_SUCCESS || response->errstat != 0) {
            ++tally.failed;
        } else if (set) {
            ++tally.setsAnswered;
        } else {
            const netsnmp_variable_list* v = response->variables;
            ++tally.checked;
            tally.wrong += !(v->type == ASN_INTEGER && *v->val.integer == appId * 1000 + k);
        }
        if (response != nullptr) snmp_free_pdu(response);
    }
    if (session != nullptr) snmp_sess_close(session);
}

// The host's resident memory in kB, or with `descriptors` its open descriptors:
// the fewest of five readings a millisecond apart, since net-snmp's access
// check opens /etc/hosts.allow and hosts.deny for a moment on each request.
long HostFigure(pid_t pid, bool descriptors) {
    const std::string proc = "/proc/" + std::to_string(pid);
    long fewest = 1L << 20;
    for (int i = 0; descriptors && i < 5; ++i, std::this_thread::sleep_for(1ms)) {
        fewest = std::min<long>(fewest, std::distance(std::filesystem::directory_iterator(proc + "/fd"), {}));
    }
    if (descriptors) return fewest;
    std::ifstream status(proc + "/status");
    std::string line;
    while (std::getline(status, line) && !line.starts_with("VmRSS:")) {}
    return line.empty() ? 0 : std::atol(&line[6]);
}

}  // namespace

int main(int argc, char** argv) {
    std::map<std::string, double> flags{{"--seconds", 20}, {"--rss-tolerance-kb", 4096}};
    for (int i = 1; i < argc; i += 2) {
        if (!flags.contains(argv[i]) || i + 1 == argc || std::atof(argv[i + 1]) <= 0) {
            std::cerr << "usage: qvsnmp-soak [--seconds S] [--rss-tolerance-kb KB]\n";
            return 2;
        }
        flags[argv[i]] = std::atof(argv[i + 1]);
    }
    const double seconds = flags["--seconds"];
    const std::string space = "qvsoak" + std::to_string(::getpid());
    char driveTemplate[] = "/tmp/qvsoak-XXXXXX";
    const std::filesystem::path drive = ::mkdtemp(driveTemplate);
    ::setenv("QVSNMP_NAMESPACE", space.c_str(), 1);
    ::setenv("QVSNMP_DRIVE_C", drive.c_str(), 1);
    std::string failures;
    auto check = [&](bool held, const std::string& failure) { failures += held ? "" : "; " + failure; };

    const std::string trapSink = "127.0.0.1:" + std::to_string(FreeUdpPort()), port = std::to_string(FreeUdpPort());
    const pid_t trapd = Spawn({QV_SOAK_SNMPTRAPD, "-C", "--disableAuthorization=yes", "-f", "-On", "-m", "", "-M",
                               "/dev/null", "-Lf", drive / "traps.log", "udp:" + trapSink});
    const pid_t host = Spawn({QV_SOAK_HOST, "--module", QV_SOAK_MODULE, "--listen", "udp:127.0.0.1:" + port,
                              "--rw-community", "private", "--trap2-sink", trapSink});
    ::setenv("MIBS", "", 1);
    init_snmp("qvsnmp-soak");

    std::vector<std::unique_ptr<Served>> apps;
    for (int id = 1; id <= kApps; ++id) {
        auto& served = *apps.emplace_back(std::make_unique<Served>());
        served.app = std::make_unique<qvsnmp::Application>(qvsnmp::Identity{kPen, static_cast<std::int8_t>(id), 1});
        for (std::uint8_t k = 1; k <= kValues; ++k) served.app->PublishConstant({1, k}, qvsnmp::Value::Integer(id * 1000 + k));
        auto last = std::make_shared<std::atomic<std::int32_t>>(0);
        served.app->Publish({3}, [last] { return qvsnmp::Value::Integer(*last); },
                            qvsnmp::IntegerSetter([last, &served](std::int32_t value) {
                                std::lock_guard guard(served.lock);
                                ++served.sets[value];
                                return *last = value, true;
                            }));
        served.app->Start();
    }
    for (const auto deadline = Clock::now() + 60s; Clock::now() < deadline; std::this_thread::sleep_for(20ms)) {
        if (std::all_of(apps.begin(), apps.end(), [](auto& served) { return served->app->GetStatus().connected; })) break;
    }

    const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<std::thread> threads;
    for (int m = 1; m <= 4; ++m) threads.emplace_back(Manage, m, std::stoi(port), until);
    for (auto& served : apps) {
        threads.emplace_back([&served, until] {
            for (auto next = Clock::now(); next < until; std::this_thread::sleep_until(next += 200ms)) {
                const auto text = "soak " + std::to_string(served->app->identity().appId) + " " + std::to_string(served->traps);
                served->traps += bool(served->app->RaiseTrap({5}, qvsnmp::Value::Text(text)));
            }
        });
    }
    // The host's figures after the warm-up: 30 % of the run, at least 5 s.
    std::this_thread::sleep_for(std::chrono::duration<double>(std::max(5.0, seconds * 0.3)));
    long rssSettled = HostFigure(host, false), rssMax = rssSettled, fdMin = HostFigure(host, true), fdMax = fdMin;
    for (; Clock::now() < until; std::this_thread::sleep_for(250ms)) {
        rssMax = std::max(rssMax, HostFigure(host, false));
        fdMin = std::min(fdMin, HostFigure(host, true)), fdMax = std::max(fdMax, HostFigure(host, true));
    }
    for (auto& thread : threads) thread.join();

    // Every trap appended arrives once: "soak <app> <number>" in snmptrapd's log.
    long appended = 0, received = 0, missing = 0, setsApplied = 0, appliedTwice = 0;
    std::map<std::pair<int, int>, int> seen;
    for (auto& served : apps) appended += served->traps;
    const std::regex trap("\"soak ([0-9]+) ([0-9]+)\"");
    for (const auto deadline = Clock::now() + 15s; long(seen.size()) < appended && Clock::now() < deadline;) {
        std::this_thread::sleep_for(200ms);
        seen.clear();
        std::ifstream in(drive / "traps.log");
        const std::string text(std::istreambuf_iterator<char>(in), {});
        for (std::sregex_iterator it(text.begin(), text.end(), trap), end; it != end; ++it) {
            ++seen[{std::stoi((*it)[1]), std::stoi((*it)[2])}];
        }
    }
    for (const auto& [key, times] : seen) received += times;
    for (auto& served : apps) {
        for (int n = 0; n < served->traps; ++n) missing += !seen.contains({served->app->identity().appId, n});
        for (const auto& [value, times] : served->sets) setsApplied += times, appliedTwice += times > 1;
        check(served->app->GetStatus().connects == 1, "a session was lost or never made");
    }
    apps.clear();
    check(Stop(host) == 0, "the host did not stop cleanly");
    Stop(trapd);
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) {
        check(!entry.path().filename().string().starts_with(space + "."), "left in /dev/shm: " + entry.path().string());
    }
    std::filesystem::remove_all(drive);

    check(tally.checked > 0 && tally.wrong == 0 && tally.failed == 0, "wrong, failed or no answers");
    check(appliedTwice == 0 && setsApplied >= tally.setsAnswered && setsApplied <= tally.setsSent, "SETs lost or doubled");
    check(appended > 0 && missing == 0 && received == appended, "traps lost, doubled or unknown");
    check(rssMax - rssSettled <= flags["--rss-tolerance-kb"] && fdMin == fdMax, "host memory or descriptors grew");
    std::cout << "soak: " << seconds << " s, " << kApps << " applications, 4 managers\nvalues: checked=" << tally.checked
              << " wrong=" << tally.wrong << " failed=" << tally.failed << "\nsets: sent=" << tally.setsSent
              << " answered=" << tally.setsAnswered << " applied=" << setsApplied << " applied-twice=" << appliedTwice
              << "\ntraps: appended=" << appended << " received=" << received << " missing=" << missing
              << "\nhost after warm-up: VmRSS " << rssSettled << " -> max " << rssMax << " kB, descriptors " << fdMin
              << ".." << fdMax << "\nresult: " << (failures.empty() ? "PASS" : "FAIL" + failures) << std::endl;
    return failures.empty() ? 0 : 1;
}
