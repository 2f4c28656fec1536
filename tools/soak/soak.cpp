// qvsnmp-soak: the host under a steady load for a set time, then checks.
//
// In a shared-memory namespace of its own it starts the host `snmp` on a free
// loopback port and snmptrapd on another, and serves 16 SDK applications in
// this process. Manager threads walk, GET and SET through net-snmp's library
// while every application raises traps at a steady rate. It checks that every
// answered value is the one its application publishes, that no SET was
// applied twice and every SET a manager saw succeed was applied, that every
// trap reached snmptrapd exactly once (at this rate the trap reader is never
// lapped, so a missing trap is a loss), that the host's resident memory and
// descriptors stay flat after the warm-up and that nothing is left in
// /dev/shm. It prints its figures; the exit status is 0 only when all held.
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

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr int kPen = 39917;
constexpr int kApps = 16;
constexpr int kValues = 6;  // .1.k INTEGER appId * 1000 + k

struct Served {
    std::unique_ptr<qvsnmp::Application> app;
    std::mutex lock;
    std::map<long, int> sets;  // value -> times applied; every SET value is unique
    int traps = 0;             // appended
};

struct Tally {
    std::atomic<long> checked{0}, wrong{0}, setsSent{0}, setsAnswered{0}, failed{0};
};

pid_t Spawn(const std::vector<std::string>& command) {
    std::vector<char*> argv;
    for (const auto& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    return ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

int Stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 300 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) std::this_thread::sleep_for(100ms);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int FreeUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// A manager: GETNEXT steps of a walk over every application, GETs and SETs in
// turn, on its own session (SNMPv1 or v2c), until `until`.
void Manage(int number, int port, Clock::time_point until, Tally& tally) {
    netsnmp_session settings;
    snmp_sess_init(&settings);
    settings.version = number % 2 ? SNMP_VERSION_1 : SNMP_VERSION_2c;
    std::string peer = "udp:127.0.0.1:" + std::to_string(port), community = "private";
    settings.peername = peer.data();
    settings.community = reinterpret_cast<u_char*>(community.data());
    settings.community_len = community.size();
    settings.timeout = 10 * 1000 * 1000;  // behind the other managers' bindings
    settings.retries = 2;
    void* session = snmp_sess_open(&settings);
    std::minstd_rand random(number);
    const oid enterprise[] = {1, 3, 6, 1, 4, 1, kPen};
    std::vector<oid> walk(std::begin(enterprise), std::end(enterprise));
    for (long turn = 0; session != nullptr && Clock::now() < until; ++turn) {
        netsnmp_pdu* request = snmp_pdu_create(turn % 3 == 0 ? SNMP_MSG_GETNEXT : turn % 3 == 1 ? SNMP_MSG_GET : SNMP_MSG_SET);
        const long appId = 1 + random() % kApps, k = 1 + random() % kValues, value = number * 1000000L + turn;
        const oid variable[] = {1, 3, 6, 1, 4, 1, kPen, oid(appId), 1, 1, oid(k)};
        if (request->command == SNMP_MSG_GETNEXT) snmp_add_null_var(request, walk.data(), walk.size());
        if (request->command == SNMP_MSG_GET) snmp_add_null_var(request, variable, std::size(variable));
        if (request->command == SNMP_MSG_SET) {
            const oid writable[] = {1, 3, 6, 1, 4, 1, kPen, oid(appId), 1, 3};
            snmp_pdu_add_variable(request, writable, std::size(writable), ASN_INTEGER, &value, sizeof value);
            ++tally.setsSent;
        }
        const bool next = request->command == SNMP_MSG_GETNEXT, set = request->command == SNMP_MSG_SET;
        netsnmp_pdu* response = nullptr;
        if (snmp_sess_synch_response(session, request, &response) != STAT_SUCCESS || response == nullptr ||
            response->errstat != SNMP_ERR_NOERROR || response->variables == nullptr) {
            ++tally.failed;  // also where an SNMPv1 walk ends (noSuchName)
            if (next) walk.resize(7);
        } else if (set) {
            ++tally.setsAnswered;
        } else {
            const netsnmp_variable_list* v = response->variables;
            const std::vector<oid> name(v->name, v->name + v->name_length);
            const bool ours = name.size() > 7 && std::equal(std::begin(enterprise), std::end(enterprise), name.begin());
            if (next && (!ours || v->type == SNMP_ENDOFMIBVIEW)) {
                walk.resize(7);  // the walk is over: again from the start
            } else {
                ++tally.checked;
                const bool constant = name.size() == 11 && name[8] == 1 && name[9] == 1;
                tally.wrong += !(ours && (!next || name > walk) && v->type == ASN_INTEGER &&
                                 (!constant || *v->val.integer == long(name[7]) * 1000 + long(name[10])));
                if (next) walk = name;
            }
        }
        if (response != nullptr) snmp_free_pdu(response);
    }
    if (session != nullptr) snmp_sess_close(session);
}

long HostFigure(pid_t pid, bool descriptors) {
    const std::string proc = "/proc/" + std::to_string(pid);
    long n = 0;
    if (descriptors) {
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(proc + "/fd")) ++n;
        return n;
    }
    std::ifstream status(proc + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) n = std::atol(line.c_str() + 6);
    }
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 20, trapsPerSecond = 5;
    long rssToleranceKb = 4096;
    int managers = 4;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--seconds") seconds = std::atof(argv[i + 1]);
        else if (flag == "--managers") managers = std::atoi(argv[i + 1]);
        else if (flag == "--trap-rate") trapsPerSecond = std::atof(argv[i + 1]);
        else if (flag == "--rss-tolerance-kb") rssToleranceKb = std::atol(argv[i + 1]);
        else argc = 0;
    }
    if (argc % 2 == 0 || seconds <= 0 || managers < 1 || trapsPerSecond <= 0 || trapsPerSecond > 50) {
        std::cerr << "usage: qvsnmp-soak [--seconds S] [--managers N] [--trap-rate PER_APP_PER_S] [--rss-tolerance-kb KB]\n";
        return 2;
    }
    const std::string space = "qvsoak" + std::to_string(::getpid());
    char driveTemplate[] = "/tmp/qvsoak-XXXXXX";
    const std::filesystem::path drive = ::mkdtemp(driveTemplate);
    ::setenv("QVSNMP_NAMESPACE", space.c_str(), 1);
    ::setenv("QVSNMP_DRIVE_C", drive.c_str(), 1);
    std::vector<std::string> failures;
    auto check = [&](bool held, const std::string& failure) {
        if (!held) failures.push_back(failure);
    };

    const int trapPort = FreeUdpPort(), port = FreeUdpPort();
    std::ofstream(drive / "snmptrapd.conf") << "disableAuthorization yes\n";
    const pid_t trapd = Spawn({QV_SOAK_SNMPTRAPD, "-C", "-c", (drive / "snmptrapd.conf").string(), "-f", "-On", "-m",
                               "", "-M", "/dev/null", "-Lf", (drive / "traps.log").string(),
                               "udp:127.0.0.1:" + std::to_string(trapPort)});
    const pid_t host = Spawn({QV_SOAK_HOST, "--module", QV_SOAK_MODULE, "--listen", "udp:127.0.0.1:" + std::to_string(port),
                              "--rw-community", "private", "--trap2-sink", "127.0.0.1:" + std::to_string(trapPort)});
    ::setenv("MIBS", "", 1);
    init_snmp("qvsnmp-soak");

    std::vector<std::unique_ptr<Served>> apps;
    for (int id = 1; id <= kApps; ++id) {
        auto& served = *apps.emplace_back(std::make_unique<Served>());
        served.app = std::make_unique<qvsnmp::Application>(qvsnmp::Identity{kPen, static_cast<std::int8_t>(id), 1});
        for (int k = 1; k <= kValues; ++k) {
            served.app->PublishConstant({1, static_cast<std::uint8_t>(k)}, qvsnmp::Value::Integer(id * 1000 + k));
        }
        auto last = std::make_shared<std::atomic<std::int32_t>>(0);
        served.app->Publish({3}, [last] { return qvsnmp::Value::Integer(*last); },
                            qvsnmp::IntegerSetter([last, &served](std::int32_t value) {
                                std::lock_guard guard(served.lock);
                                ++served.sets[value];
                                *last = value;
                                return true;
                            }));
        served.app->Start();
    }
    const auto start = Clock::now();
    for (auto& served : apps) {
        while (!served->app->GetStatus().connected && Clock::now() < start + 60s) std::this_thread::sleep_for(20ms);
        check(served->app->GetStatus().connected, "an application never connected");
    }

    const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    Tally tally;
    std::vector<std::thread> threads;
    for (int m = 0; m < managers; ++m) threads.emplace_back(Manage, m + 1, port, until, std::ref(tally));
    for (auto& served : apps) {
        threads.emplace_back([&served, until, trapsPerSecond] {
            const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1 / trapsPerSecond));
            for (auto next = Clock::now(); next < until; std::this_thread::sleep_until(next += period)) {
                const std::string text = "soak " + std::to_string(served->app->identity().appId) + " " +
                                         std::to_string(served->traps);
                if (served->app->RaiseTrap({5}, qvsnmp::Value::Text(text))) ++served->traps;
            }
        });
    }
    // The host's figures after the warm-up (30 % of the run, at least 5 s).
    const auto settled = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(std::max(5.0, seconds * 0.3)));
    long rssSettled = 0, rssMax = 0, fdMin = 1L << 30, fdMax = 0;
    for (; Clock::now() < until; std::this_thread::sleep_for(250ms)) {
        if (Clock::now() < settled) continue;
        const long rss = HostFigure(host, false), fds = HostFigure(host, true);
        if (rssSettled == 0) rssSettled = rss;
        rssMax = std::max(rssMax, rss), fdMin = std::min(fdMin, fds), fdMax = std::max(fdMax, fds);
    }
    for (auto& thread : threads) thread.join();

    // Every trap appended, once: "soak <app> <number>" in snmptrapd's log.
    long appended = 0, received = 0, duplicates = 0, missing = 0;
    std::map<std::pair<int, int>, int> seen;
    const std::regex trap("\"soak ([0-9]+) ([0-9]+)\"");
    for (const auto deadline = Clock::now() + 15s;; std::this_thread::sleep_for(200ms)) {
        std::ifstream in(drive / "traps.log");
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        seen.clear();
        for (std::sregex_iterator it(text.begin(), text.end(), trap), end; it != end; ++it) {
            ++seen[{std::stoi((*it)[1]), std::stoi((*it)[2])}];
        }
        appended = 0;
        for (auto& served : apps) appended += served->traps;
        if (static_cast<long>(seen.size()) >= appended || Clock::now() > deadline) break;
    }
    long setsApplied = 0, appliedTwice = 0;
    for (auto& served : apps) {
        for (int n = 0; n < served->traps; ++n) missing += seen.count({served->app->identity().appId, n}) == 0;
        for (const auto& [value, times] : served->sets) setsApplied += times, appliedTwice += times > 1;
        check(served->app->GetStatus().connects == 1, "a session was lost and reconnected");
    }
    for (const auto& [key, times] : seen) received += times, duplicates += times - 1;

    apps.clear();
    check(Stop(host) == 0, "the host did not stop cleanly");
    Stop(trapd);
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) {
        check(!entry.path().filename().string().starts_with(space + "."), "left in /dev/shm: " + entry.path().string());
    }
    std::filesystem::remove_all(drive);

    check(tally.checked > 0 && tally.wrong == 0, "wrong or no answers");
    check(appliedTwice == 0, "SETs applied twice");
    check(setsApplied >= tally.setsAnswered && setsApplied <= tally.setsSent, "answered SETs not applied, or extra");
    check(appended > 0 && missing == 0 && duplicates == 0 && received == appended, "traps lost, doubled or unknown");
    check(rssSettled > 0 && rssMax - rssSettled <= rssToleranceKb, "host memory grew after the warm-up");
    check(fdMin == fdMax, "host descriptors changed after the warm-up");
    std::cout << "soak: " << seconds << " s, " << kApps << " applications, " << managers << " managers, "
              << trapsPerSecond << " traps/s each\nvalues: checked=" << tally.checked << " wrong=" << tally.wrong
              << " failed-requests=" << tally.failed << "\nsets: sent=" << tally.setsSent << " answered="
              << tally.setsAnswered << " applied=" << setsApplied << " applied-twice=" << appliedTwice
              << "\ntraps: appended=" << appended << " received=" << received << " duplicates=" << duplicates
              << " missing=" << missing << "\nhost: VmRSS " << rssSettled << " -> max " << rssMax
              << " kB after warm-up; descriptors " << fdMin << ".." << fdMax << "\nresult: "
              << (failures.empty() ? "PASS" : "FAIL");
    for (const auto& failure : failures) std::cout << "; " << failure;
    std::cout << std::endl;
    return failures.empty() ? 0 : 1;
}
