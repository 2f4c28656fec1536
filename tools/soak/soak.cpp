// qvsnmp-soak: the host under a steady load for a set time, then checks.
//
// It starts, in a shared-memory namespace of its own, the host `snmp` on a
// free loopback port, snmptrapd on another, and 16 SDK applications in two
// processes (this program again, with --serve-apps). Manager threads walk,
// bulk-walk, GET and SET through net-snmp's library while every application
// raises traps at a steady rate. At the end it checks:
//   - every answered value is the one its application publishes: values are
//     derived from the OID (see Expected below);
//   - no SET was applied twice (applications count SETs per value; every SET
//     value is unique), and every SET a manager saw succeed was applied;
//   - every trap an application appended reached snmptrapd exactly once. At
//     the rate used the trap reader can never be lapped (that needs a whole
//     ring, 1022 records, between two trap events), so a missing trap is a
//     loss, not the protocol dropping a backlog;
//   - the host's resident memory and open descriptors stay flat after the
//     warm-up;
//   - nothing is left in /dev/shm.
// The last lines are the figures; the exit status is 0 only when every check
// held.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "qvsnmp/application.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kPen = 39917;
constexpr int kApplications = 16;
constexpr int kProcesses = 2;
constexpr int kIntegers = 6;  // .1.k
constexpr int kTexts = 3;     // .2.k
constexpr int kTrapSuffix = 5;

// What application `appId` publishes under 1.3.6.1.4.1.39917.<appId>.1:
//   .1.k  INTEGER appId * 1000 + k * 10 + generation
//   .2.k  STRING  "app <appId> text <k> generation <generation>"
//   .3    INTEGER, writable: the last value SET (0 at first)
// The generation is 1: no application restarts during a soak.
constexpr int kGeneration = 1;
std::int32_t ExpectedInteger(int appId, int k) { return appId * 1000 + k * 10 + kGeneration; }
std::string ExpectedText(int appId, int k) {
    return "app " + std::to_string(appId) + " text " + std::to_string(k) + " generation " +
           std::to_string(kGeneration);
}

// ---------------------------------------------------------------------------
// Application processes.

int ServeApps(int first, int count, double trapsPerSecond) {
    struct Served {
        std::unique_ptr<qvsnmp::Application> app;
        std::mutex setsLock;
        std::map<std::int32_t, int> sets;  // value -> times applied
        std::atomic<int> appended{0};
        std::atomic<int> refused{0};
    };
    std::vector<std::unique_ptr<Served>> served;
    for (int id = first; id < first + count; ++id) {
        auto entry = std::make_unique<Served>();
        auto app = std::make_unique<qvsnmp::Application>(
            qvsnmp::Identity{static_cast<std::uint16_t>(kPen), static_cast<std::int8_t>(id), 1});
        for (int k = 1; k <= kIntegers; ++k) {
            app->PublishConstant({1, static_cast<std::uint8_t>(k)}, qvsnmp::Value::Integer(ExpectedInteger(id, k)));
        }
        for (int k = 1; k <= kTexts; ++k) {
            app->PublishConstant({2, static_cast<std::uint8_t>(k)}, qvsnmp::Value::Text(ExpectedText(id, k)));
        }
        auto last = std::make_shared<std::atomic<std::int32_t>>(0);
        Served* raw = entry.get();
        app->Publish({3}, [last] { return qvsnmp::Value::Integer(last->load()); },
                     qvsnmp::IntegerSetter([last, raw](std::int32_t value) {
                         std::lock_guard lock(raw->setsLock);
                         ++raw->sets[value];
                         *last = value;
                         return true;
                     }));
        app->Start();
        entry->app = std::move(app);
        served.push_back(std::move(entry));
    }
    // Ready once every session is up.
    const auto deadline = Clock::now() + 60s;
    for (auto& entry : served) {
        while (!entry->app->GetStatus().connected && Clock::now() < deadline) std::this_thread::sleep_for(20ms);
    }
    std::cout << "ready" << std::endl;

    std::atomic<bool> stop{false};
    std::vector<std::thread> trappers;
    for (auto& entry : served) {
        trappers.emplace_back([&stop, &entry, trapsPerSecond] {
            const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / trapsPerSecond));
            auto next = Clock::now();
            const int id = entry->app->identity().appId;
            while (!stop) {
                const int sequence = entry->appended.load();
                const auto result = entry->app->RaiseTrap(
                    {kTrapSuffix}, qvsnmp::Value::Text("soak " + std::to_string(id) + " " + std::to_string(sequence)));
                if (result) {
                    ++entry->appended;  // the next trap carries the next number
                } else {
                    ++entry->refused;
                }
                next += period;
                std::this_thread::sleep_until(next);
            }
        });
    }

    std::string line;
    while (std::getline(std::cin, line)) {
        if (line == "stop traps") {
            stop = true;
            for (auto& thread : trappers) thread.join();
            trappers.clear();
            for (auto& entry : served) {
                std::cout << "traps " << int(entry->app->identity().appId) << " " << entry->appended << " "
                          << entry->refused << "\n";
            }
            std::cout << "end" << std::endl;
        } else if (line == "report") {
            for (auto& entry : served) {
                std::lock_guard lock(entry->setsLock);
                int applied = 0, twice = 0;
                for (const auto& [value, times] : entry->sets) {
                    applied += times;
                    if (times > 1) ++twice;
                }
                const auto status = entry->app->GetStatus();
                std::cout << "sets " << int(entry->app->identity().appId) << " " << applied << " " << twice
                          << " connects " << status.connects << "\n";
            }
            std::cout << "end" << std::endl;
        } else if (line == "quit") {
            break;
        }
    }
    stop = true;
    for (auto& thread : trappers) thread.join();
    for (auto& entry : served) entry->app->Stop();
    return 0;
}

// ---------------------------------------------------------------------------
// Child processes of the soak.

class Child {
public:
    Child(const std::vector<std::string>& command, bool withInput) {
        int out[2], in[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            if (!withInput) ::close(0);
            std::vector<char*> argv;
            for (const auto& word : command) argv.push_back(const_cast<char*>(word.c_str()));
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(in[0]);
        out_ = ::fdopen(out[0], "r");
        in_ = in[1];
    }
    ~Child() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            Wait(10s);
        }
        if (out_ != nullptr) std::fclose(out_);
        if (in_ >= 0) ::close(in_);
    }
    pid_t Pid() const { return pid_; }
    // Blocks until a line comes; nullopt at the end of the output.
    std::optional<std::string> ReadLine() {
        char* text = nullptr;
        size_t capacity = 0;
        const ssize_t length = ::getline(&text, &capacity, out_);
        std::optional<std::string> line;
        if (length >= 0) line = std::string(text, static_cast<size_t>(length) - (text[length - 1] == '\n' ? 1 : 0));
        std::free(text);
        return line;
    }
    void Write(const std::string& text) {
        if (::write(in_, text.data(), text.size()) < 0) std::perror("write");
    }
    std::optional<int> Wait(std::chrono::milliseconds bound) {
        const auto deadline = Clock::now() + bound;
        while (!status_) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            } else if (Clock::now() >= deadline) {
                return std::nullopt;
            } else {
                std::this_thread::sleep_for(10ms);
            }
        }
        return status_;
    }
    std::optional<int> Stop(int signal) {
        ::kill(pid_, signal);
        auto status = Wait(30s);
        if (!status) {
            ::kill(pid_, SIGKILL);
            status = Wait(10s);
        }
        return status;
    }

private:
    pid_t pid_ = -1;
    FILE* out_ = nullptr;
    int in_ = -1;
    std::optional<int> status_;
};

int FreeUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// ---------------------------------------------------------------------------
// Managers.

struct Tally {
    std::mutex lock;
    std::map<std::string, long> requests;  // by outcome
    long valuesChecked = 0;
    long wrong = 0;
    std::vector<std::string> wrongExamples;
    long setsSent = 0;
    long setsOk = 0;

    void Count(const std::string& outcome) {
        std::lock_guard guard(lock);
        ++requests[outcome];
    }
    void Wrong(const std::string& what) {
        std::lock_guard guard(lock);
        ++wrong;
        if (wrongExamples.size() < 5) wrongExamples.push_back(what);
    }
};

const oid kEnterprise[] = {1, 3, 6, 1, 4, 1, kPen};

// Checks one answered binding of our applications' subtree; false when the
// binding lies outside it (a walk has ended).
bool CheckBinding(const netsnmp_variable_list* variable, Tally& tally) {
    const size_t n = variable->name_length;
    if (n < 8 || std::memcmp(variable->name, kEnterprise, sizeof kEnterprise) != 0) return false;
    char text[256];
    snprint_objid(text, sizeof text, variable->name, variable->name_length);
    const int appId = static_cast<int>(variable->name[7]);
    bool good = false;
    if (variable->type == SNMP_NOSUCHOBJECT || variable->type == SNMP_NOSUCHINSTANCE ||
        variable->type == SNMP_ENDOFMIBVIEW) {
        good = false;
    } else if (n == 11 && variable->name[8] == 1 && variable->name[9] == 1) {
        good = variable->type == ASN_INTEGER &&
               *variable->val.integer == ExpectedInteger(appId, static_cast<int>(variable->name[10]));
    } else if (n == 11 && variable->name[8] == 1 && variable->name[9] == 2) {
        good = variable->type == ASN_OCTET_STR &&
               std::string(reinterpret_cast<const char*>(variable->val.string), variable->val_len) ==
                   ExpectedText(appId, static_cast<int>(variable->name[10]));
    } else if (n == 10 && variable->name[8] == 1 && variable->name[9] == 3) {
        good = variable->type == ASN_INTEGER;  // whatever was SET last
    }
    {
        std::lock_guard guard(tally.lock);
        ++tally.valuesChecked;
    }
    if (!good) {
        char value[256];
        snprint_variable(value, sizeof value, variable->name, variable->name_length, variable);
        tally.Wrong(value);
    }
    return true;
}

class Manager {
public:
    Manager(int number, int port, long version, Tally& tally) : number_(number), tally_(tally), random_(number) {
        netsnmp_session settings;
        snmp_sess_init(&settings);
        settings.version = version;
        peer_ = "udp:127.0.0.1:" + std::to_string(port);
        settings.peername = peer_.data();
        community_ = "private";  // the read-write community reads as well
        settings.community = reinterpret_cast<u_char*>(community_.data());
        settings.community_len = community_.size();
        // Answers wait on the module, one binding at a time, behind the other
        // managers' bindings: be patient, and retransmit like the tools do.
        settings.timeout = 10 * 1000 * 1000;
        settings.retries = 2;
        session_ = snmp_sess_open(&settings);
        if (session_ == nullptr) throw std::runtime_error("cannot open a manager session");
        v1_ = version == SNMP_VERSION_1;
    }
    ~Manager() { snmp_sess_close(session_); }

    // One request of each kind in turn. The module serves one binding at a
    // time and each waits on an application, so walks advance one request per
    // turn and go round again at the end.
    void Run(Clock::time_point until) {
        for (int turn = 0; Clock::now() < until; ++turn) {
            switch (turn % 4) {
                case 0: WalkStep(nextWalk_, 0); break;
                case 1: WalkStep(bulkWalk_, v1_ ? 0 : 4); break;
                case 2: Get(); break;
                case 3: Set(); break;
            }
        }
    }

private:
    // Sends a request; the response or nullptr, its outcome counted.
    netsnmp_pdu* Exchange(netsnmp_pdu* request) {
        netsnmp_pdu* response = nullptr;
        const int status = snmp_sess_synch_response(session_, request, &response);
        if (status == STAT_TIMEOUT) {
            tally_.Count("timeout");
        } else if (status != STAT_SUCCESS || response == nullptr) {
            tally_.Count("send-failure");
        } else if (response->errstat != SNMP_ERR_NOERROR) {
            tally_.Count(std::string("error ") + snmp_errstring(static_cast<int>(response->errstat)));
        } else {
            tally_.Count("ok");
        }
        if (response != nullptr && response->errstat != SNMP_ERR_NOERROR) {
            snmp_free_pdu(response);
            return nullptr;
        }
        return response;
    }

    // The next request of a GETNEXT (repetitions 0) or GETBULK walk of all
    // our applications; `at` starts again at the enterprise after the end.
    void WalkStep(std::vector<oid>& at, long repetitions) {
        if (at.empty()) at.assign(std::begin(kEnterprise), std::end(kEnterprise));
        netsnmp_pdu* request = snmp_pdu_create(repetitions > 0 ? SNMP_MSG_GETBULK : SNMP_MSG_GETNEXT);
        if (repetitions > 0) {
            request->non_repeaters = 0;
            request->max_repetitions = repetitions;
        }
        snmp_add_null_var(request, at.data(), at.size());
        netsnmp_pdu* response = Exchange(request);
        if (response == nullptr) {
            at.clear();
            return;
        }
        bool more = response->variables != nullptr;
        for (auto* variable = response->variables; variable != nullptr; variable = variable->next_variable) {
            if (!CheckBinding(variable, tally_)) {
                more = false;
                break;
            }
            const std::vector<oid> next(variable->name, variable->name + variable->name_length);
            if (next <= at) {
                tally_.Wrong("walk not increasing after " + std::to_string(at.size()) + " sub-identifiers");
                more = false;
                break;
            }
            at = next;
        }
        snmp_free_pdu(response);
        if (!more) at.clear();
    }

    void Get() {
        netsnmp_pdu* request = snmp_pdu_create(SNMP_MSG_GET);
        for (int i = 0; i < 4; ++i) {
            const int appId = 1 + static_cast<int>(random_() % kApplications);
            const bool text = random_() % 3 == 0;
            const oid k = 1 + random_() % (text ? kTexts : kIntegers);
            const oid name[] = {1, 3, 6, 1, 4, 1, kPen, static_cast<oid>(appId), 1, text ? 2u : 1u, k};
            snmp_add_null_var(request, name, std::size(name));
        }
        if (netsnmp_pdu* response = Exchange(request)) {
            for (auto* variable = response->variables; variable != nullptr; variable = variable->next_variable) {
                CheckBinding(variable, tally_);
            }
            snmp_free_pdu(response);
        }
    }

    void Set() {
        const int appId = 1 + static_cast<int>(random_() % kApplications);
        const oid name[] = {1, 3, 6, 1, 4, 1, kPen, static_cast<oid>(appId), 1, 3};
        // Unique across the soak, so that an application can tell a SET
        // applied twice from two SETs of the same value.
        const long value = number_ * 1000000L + ++sets_;
        netsnmp_pdu* request = snmp_pdu_create(SNMP_MSG_SET);
        snmp_pdu_add_variable(request, name, std::size(name), ASN_INTEGER, &value, sizeof value);
        {
            std::lock_guard guard(tally_.lock);
            ++tally_.setsSent;
        }
        if (netsnmp_pdu* response = Exchange(request)) {
            std::lock_guard guard(tally_.lock);
            ++tally_.setsOk;
            snmp_free_pdu(response);
        }
    }

    int number_;
    Tally& tally_;
    std::minstd_rand random_;
    std::string peer_;
    std::string community_;
    void* session_ = nullptr;
    bool v1_ = false;
    long sets_ = 0;
    std::vector<oid> nextWalk_;
    std::vector<oid> bulkWalk_;
};

// ---------------------------------------------------------------------------
// The host's resources.

struct Sample {
    double at = 0;  // seconds since the start
    long rssKb = 0;
    long descriptors = 0;
};

Sample Measure(pid_t pid, double at) {
    Sample sample;
    sample.at = at;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) sample.rssKb = std::atol(line.c_str() + 6);
    }
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        ++sample.descriptors;
    }
    return sample;
}

struct Flags {
    double seconds = 20;
    int managers = 4;
    double trapsPerSecond = 5;  // per application
    long rssToleranceKb = 4096;
    std::string host = QV_SOAK_HOST;
    std::string module = QV_SOAK_MODULE;
    std::string snmptrapd = QV_SOAK_SNMPTRAPD;
};

int Usage() {
    std::cerr << "usage: qvsnmp-soak [--seconds S] [--managers N] [--trap-rate PER_APP_PER_S]\n"
                 "                    [--rss-tolerance-kb KB] [--host PATH] [--module PATH] [--snmptrapd PATH]\n";
    return 2;
}

int Soak(const Flags& flags, const std::string& self) {
    // A namespace and a C: drive of our own; children inherit both.
    const std::string space = "qvsoak" + std::to_string(::getpid());
    ::setenv("QVSNMP_NAMESPACE", space.c_str(), 1);
    char driveTemplate[] = "/tmp/qvsoak-XXXXXX";
    const std::filesystem::path drive = ::mkdtemp(driveTemplate);
    ::setenv("QVSNMP_DRIVE_C", drive.c_str(), 1);
    std::vector<std::string> failures;

    const int trapPort = FreeUdpPort();
    std::ofstream(drive / "snmptrapd.conf") << "disableAuthorization yes\n";
    auto trapd = std::make_unique<Child>(
        std::vector<std::string>{flags.snmptrapd, "-C", "-c", (drive / "snmptrapd.conf").string(), "-f", "-Lo", "-On",
                                 "-m", "", "-M", "/dev/null", "-p", (drive / "snmptrapd.pid").string(),
                                 "udp:127.0.0.1:" + std::to_string(trapPort)},
        false);
    // snmptrapd prints one line per binding; ours carry "soak <app> <number>".
    std::mutex trapsLock;
    std::map<std::pair<int, int>, int> received;
    std::thread trapReader([&] {
        while (auto line = trapd->ReadLine()) {
            // A notification carries every record of one trap walk; its
            // bindings may share a line.
            for (auto at = line->find("STRING: \"soak "); at != std::string::npos;
                 at = line->find("STRING: \"soak ", at + 1)) {
                int app = 0, number = 0;
                if (std::sscanf(line->c_str() + at, "STRING: \"soak %d %d\"", &app, &number) == 2) {
                    std::lock_guard guard(trapsLock);
                    ++received[{app, number}];
                }
            }
        }
    });

    const int port = FreeUdpPort();
    auto host = std::make_unique<Child>(
        std::vector<std::string>{flags.host, "--module", flags.module, "--listen",
                                 "udp:127.0.0.1:" + std::to_string(port), "--rw-community", "private",
                                 "--trap2-sink", "127.0.0.1:" + std::to_string(trapPort)},
        false);

    ::setenv("MIBS", "", 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    init_snmp("qvsnmp-soak");
    netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_OID_OUTPUT_FORMAT, NETSNMP_OID_OUTPUT_NUMERIC);

    // The host answers once its module serves; then the applications connect.
    {
        Tally probe;
        bool up = false;
        for (int i = 0; i < 100 && !up; ++i) {
            netsnmp_session settings;
            snmp_sess_init(&settings);
            settings.version = SNMP_VERSION_2c;
            std::string peer = "udp:127.0.0.1:" + std::to_string(port), community = "public";
            settings.peername = peer.data();
            settings.community = reinterpret_cast<u_char*>(community.data());
            settings.community_len = community.size();
            settings.timeout = 200 * 1000;
            settings.retries = 0;
            void* session = snmp_sess_open(&settings);
            const oid status[] = {1, 3, 6, 1, 4, 1, 44821};
            netsnmp_pdu* request = snmp_pdu_create(SNMP_MSG_GET);
            snmp_add_null_var(request, status, std::size(status));
            netsnmp_pdu* response = nullptr;
            up = session != nullptr && snmp_sess_synch_response(session, request, &response) == STAT_SUCCESS;
            if (response != nullptr) snmp_free_pdu(response);
            if (session != nullptr) snmp_sess_close(session);
            if (!up) std::this_thread::sleep_for(100ms);
        }
        if (!up) failures.push_back("the host never answered");
    }
    std::vector<std::unique_ptr<Child>> apps;
    const int perProcess = kApplications / kProcesses;
    for (int p = 0; p < kProcesses && failures.empty(); ++p) {
        std::ostringstream rate;
        rate << flags.trapsPerSecond;
        apps.push_back(std::make_unique<Child>(
            std::vector<std::string>{self, "--serve-apps", std::to_string(1 + p * perProcess),
                                     std::to_string(perProcess), rate.str()},
            true));
        if (apps.back()->ReadLine() != "ready") failures.push_back("applications did not connect");
    }

    // The load, with samples of the host's memory and descriptors.
    const auto start = Clock::now();
    const auto until = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(flags.seconds));
    Tally tally;
    std::vector<std::thread> managers;
    for (int m = 0; m < flags.managers && failures.empty(); ++m) {
        managers.emplace_back([&, m] {
            Manager manager(m + 1, port, m % 2 == 0 ? SNMP_VERSION_2c : SNMP_VERSION_1, tally);
            manager.Run(until);
        });
    }
    std::vector<Sample> samples;
    while (Clock::now() < until && failures.empty()) {
        samples.push_back(Measure(host->Pid(), std::chrono::duration<double>(Clock::now() - start).count()));
        std::this_thread::sleep_for(250ms);
    }
    for (auto& thread : managers) thread.join();

    // Traps: what the applications appended, then what arrived.
    std::map<int, int> appended;
    long refused = 0;
    for (auto& app : apps) {
        app->Write("stop traps\n");
        while (auto line = app->ReadLine()) {
            if (*line == "end") break;
            int id = 0, count = 0, notAppended = 0;
            if (std::sscanf(line->c_str(), "traps %d %d %d", &id, &count, &notAppended) == 3) {
                appended[id] = count;
                refused += notAppended;
            }
        }
    }
    long appendedTotal = 0;
    for (const auto& [id, count] : appended) appendedTotal += count;
    auto receivedCount = [&] {
        std::lock_guard guard(trapsLock);
        return static_cast<long>(received.size());
    };
    const auto trapDeadline = Clock::now() + 15s;
    while (receivedCount() < appendedTotal && Clock::now() < trapDeadline) std::this_thread::sleep_for(100ms);

    long setsApplied = 0, appliedTwice = 0, reconnects = 0;
    for (auto& app : apps) {
        app->Write("report\n");
        while (auto line = app->ReadLine()) {
            if (*line == "end") break;
            int id = 0, applied = 0, twice = 0, connects = 0;
            if (std::sscanf(line->c_str(), "sets %d %d %d connects %d", &id, &applied, &twice, &connects) == 4) {
                setsApplied += applied;
                appliedTwice += twice;
                reconnects += connects - 1;
            }
        }
    }

    // Stop everything we started, by PID.
    for (auto& app : apps) {
        app->Write("quit\n");
        if (app->Wait(30s) != 0) failures.push_back("an application process did not end cleanly");
    }
    apps.clear();
    if (host->Stop(SIGTERM) != 0) failures.push_back("the host did not stop cleanly");
    const long hostPeakKb = samples.empty() ? 0 : std::max_element(samples.begin(), samples.end(), [](auto& a, auto& b) {
                                                      return a.rssKb < b.rssKb;
                                                  })->rssKb;
    host.reset();
    trapd->Stop(SIGTERM);
    trapReader.join();
    trapd.reset();

    // Checks.
    long duplicates = 0, missing = 0, unexpected = 0;
    for (const auto& [key, times] : received) {
        if (times > 1) duplicates += times - 1;
        const auto found = appended.find(key.first);
        if (found == appended.end() || key.second >= found->second) ++unexpected;
    }
    for (const auto& [id, count] : appended) {
        for (int n = 0; n < count; ++n) {
            if (received.count({id, n}) == 0) ++missing;
        }
    }
    if (tally.wrong > 0) failures.push_back(std::to_string(tally.wrong) + " wrong answers");
    if (tally.valuesChecked == 0) failures.push_back("no value was answered");
    if (appliedTwice > 0) failures.push_back(std::to_string(appliedTwice) + " SET values applied twice");
    if (setsApplied < tally.setsOk) failures.push_back("answered SETs that no application applied");
    if (setsApplied > tally.setsSent) failures.push_back("more SETs applied than sent");
    if (duplicates > 0) failures.push_back(std::to_string(duplicates) + " traps received twice");
    if (missing > 0) failures.push_back(std::to_string(missing) + " traps lost");
    if (unexpected > 0) failures.push_back(std::to_string(unexpected) + " traps nobody appended");
    if (appendedTotal == 0) failures.push_back("no trap was appended");
    if (reconnects > 0) failures.push_back(std::to_string(reconnects) + " sessions lost and reconnected");

    // Flat after the warm-up: the first 30 % of the run, at least 5 s.
    const double warmUp = std::max(5.0, flags.seconds * 0.3);
    std::optional<Sample> settled;
    long rssMax = 0, fdMin = 0, fdMax = 0;
    for (const Sample& sample : samples) {
        if (sample.at < warmUp) continue;
        if (!settled) {
            settled = sample;
            fdMin = fdMax = sample.descriptors;
        }
        rssMax = std::max(rssMax, sample.rssKb);
        fdMin = std::min(fdMin, sample.descriptors);
        fdMax = std::max(fdMax, sample.descriptors);
    }
    if (!settled) {
        failures.push_back("run too short to measure after the warm-up");
    } else {
        if (rssMax - settled->rssKb > flags.rssToleranceKb) {
            failures.push_back("host memory grew by " + std::to_string(rssMax - settled->rssKb) + " kB after the warm-up");
        }
        if (fdMin != fdMax) failures.push_back("host descriptors changed after the warm-up");
    }

    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) {
        if (entry.path().filename().string().rfind(space + ".", 0) == 0) left.push_back(entry.path().filename());
    }
    if (!left.empty()) failures.push_back(std::to_string(left.size()) + " objects left in /dev/shm");
    std::filesystem::remove_all(drive);

    // Figures, then the verdict.
    std::cout << "soak: " << flags.seconds << " s, " << kApplications << " applications in " << kProcesses
              << " processes, " << flags.managers << " managers, " << flags.trapsPerSecond
              << " traps/s per application\n";
    std::cout << "requests:";
    long total = 0;
    for (const auto& [outcome, count] : tally.requests) {
        std::cout << " " << outcome << "=" << count;
        total += count;
    }
    std::cout << " (total " << total << ")\n";
    std::cout << "values: checked=" << tally.valuesChecked << " wrong=" << tally.wrong << "\n";
    for (const auto& example : tally.wrongExamples) std::cout << "  wrong: " << example << "\n";
    std::cout << "sets: sent=" << tally.setsSent << " answered=" << tally.setsOk << " applied=" << setsApplied
              << " applied-twice=" << appliedTwice << "\n";
    std::cout << "traps: appended=" << appendedTotal << " not-appended=" << refused << " received=" << received.size()
              << " duplicates=" << duplicates << " missing=" << missing << "\n";
    if (settled) {
        std::cout << "host: peak VmRSS=" << hostPeakKb << " kB; after warm-up VmRSS " << settled->rssKb << " -> max "
                  << rssMax << " kB; descriptors " << fdMin << ".." << fdMax << "\n";
    }
    if (failures.empty()) {
        std::cout << "result: PASS" << std::endl;
        return 0;
    }
    std::cout << "result: FAIL";
    for (const auto& failure : failures) std::cout << "; " << failure;
    std::cout << std::endl;
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 4 && arguments[0] == "--serve-apps") {
        return ServeApps(std::stoi(arguments[1]), std::stoi(arguments[2]), std::stod(arguments[3]));
    }
    Flags flags;
    for (std::size_t i = 0; i < arguments.size(); i += 2) {  // flag, value
        if (i + 1 >= arguments.size()) return Usage();
        const std::string& flag = arguments[i];
        const std::string& value = arguments[i + 1];
        if (flag == "--seconds") {
            flags.seconds = std::stod(value);
        } else if (flag == "--managers") {
            flags.managers = std::stoi(value);
        } else if (flag == "--trap-rate") {
            flags.trapsPerSecond = std::stod(value);
        } else if (flag == "--rss-tolerance-kb") {
            flags.rssToleranceKb = std::stol(value);
        } else if (flag == "--host") {
            flags.host = value;
        } else if (flag == "--module") {
            flags.module = value;
        } else if (flag == "--snmptrapd") {
            flags.snmptrapd = value;
        } else {
            return Usage();
        }
    }
    if (flags.seconds <= 0 || flags.managers < 1 || flags.trapsPerSecond <= 0 || flags.trapsPerSecond > 50) return Usage();
    ::signal(SIGPIPE, SIG_IGN);
    return Soak(flags, std::filesystem::read_symlink("/proc/self/exe"));
}
