// qvsnmp-demo: publishes a few variables through the QVSNMP agent.
//
// Under 1.3.6.1.4.1.<pen>.<app-id>.<app-inst> (default 39917.1.1):
//   .1          INTEGER   seconds since the demo started
//   .2          STRING    a description
//   .3          INTEGER   a threshold, writable, 0..1000
//   .4          STRING    a label, writable, at most 64 characters
//   .10.1.C.R   a table of three rows R = 1..3 with the columns
//               C = 1 index (INTEGER), 2 name (STRING), 3 packets (INTEGER)
// Traps, on SIGUSR1 and every --trap-every seconds, each as two bindings:
//   .1.1 INTEGER the number of the trap, .1.2 STRING "demo trap N".
// Runs until SIGINT or SIGTERM; session events are printed on standard output.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>

#include "qvsnmp/application.h"

namespace {

using qvsnmp::Value;

void Usage() {
    std::cerr << "usage: qvsnmp-demo [--pen N] [--app-id N] [--app-inst N] [--trap-every SECONDS]\n"
                 "  Publishes demo variables through the QVSNMP agent; SIGUSR1 raises a trap.\n";
}

bool ParseNumber(const char* text, long low, long high, long* value) {
    char* end = nullptr;
    const long number = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || number < low || number > high) return false;
    *value = number;
    return true;
}

void Say(const std::string& line) {
    static std::mutex mutex;  // events come from the service thread, traps from main
    std::lock_guard lock(mutex);
    std::cout << line << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    long pen = 39917, appId = 1, appInst = 1, trapEvery = 0;
    for (int i = 1; i < argc; i += 2) {  // flag, value
        const std::string flag = argv[i];
        long* target = flag == "--pen" ? &pen
                       : flag == "--app-id" ? &appId
                       : flag == "--app-inst" ? &appInst
                       : flag == "--trap-every" ? &trapEvery
                                                : nullptr;
        const long high = flag == "--pen" ? 65535 : flag == "--trap-every" ? 86400 : 127;
        const long low = flag == "--trap-every" ? 0 : 1;
        if (target == nullptr || i + 1 >= argc || !ParseNumber(argv[i + 1], low, high, target)) {
            Usage();
            return 2;
        }
    }

    // Signals are taken synchronously by the main loop; blocked before any
    // thread starts, so that every thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    const auto started = std::chrono::steady_clock::now();
    std::atomic<std::int32_t> threshold{100};
    std::mutex labelMutex;  // guards label
    std::string label = "demo";

    qvsnmp::Options options;
    options.onEvent = [](qvsnmp::SessionEvent event, int session) {
        Say(std::string(qvsnmp::ToString(event)) + " session " + std::to_string(session));
    };
    const qvsnmp::Identity identity{static_cast<std::uint16_t>(pen), static_cast<std::int8_t>(appId),
                                    static_cast<std::int8_t>(appInst)};
    qvsnmp::Application app(identity, options);

    app.Publish({1}, [started] {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
        return Value::Integer(static_cast<std::int32_t>(seconds.count()));
    });
    app.PublishConstant({2}, Value::Text("QVSNMP demo application"));
    app.Publish({3}, [&threshold] { return Value::Integer(threshold.load()); },
                qvsnmp::IntegerSetter([&threshold](std::int32_t value) {
                    if (value < 0 || value > 1000) return false;
                    threshold = value;
                    return true;
                }));
    app.Publish({4},
                [&] {
                    std::lock_guard lock(labelMutex);
                    return Value::Text(label);
                },
                qvsnmp::TextSetter([&](const std::string& value) {
                    if (value.size() > 64) return false;
                    std::lock_guard lock(labelMutex);
                    label = value;
                    return true;
                }));
    static const char* const kNames[] = {"alpha", "beta", "gamma"};
    for (std::uint8_t row = 1; row <= 3; ++row) {
        app.PublishConstant({10, 1, 1, row}, Value::Integer(row));
        app.PublishConstant({10, 1, 2, row}, Value::Text(kNames[row - 1]));
        app.Publish({10, 1, 3, row}, [started, row] {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
            return Value::Integer(static_cast<std::int32_t>(ms.count() / 100 * row));
        });
    }

    app.Start();
    Say("qvsnmp-demo " + std::to_string(pen) + "." + std::to_string(appId) + "." + std::to_string(appInst) +
        " started");

    std::int32_t traps = 0;
    auto raiseTrap = [&] {
        ++traps;
        const auto number = app.RaiseTrap({1}, Value::Integer(traps));
        const auto text = app.RaiseTrap({2}, Value::Text("demo trap " + std::to_string(traps)));
        Say("trap " + std::to_string(traps) + ": " + qvsnmp::ToString(number.status) + ", " +
            qvsnmp::ToString(text.status));
    };
    auto nextTrap = std::chrono::steady_clock::now() + std::chrono::seconds(trapEvery);
    for (;;) {
        timespec wait{0, 200 * 1000 * 1000};
        const int signal = sigtimedwait(&signals, nullptr, &wait);
        if (signal == SIGINT || signal == SIGTERM) break;
        if (signal == SIGUSR1) raiseTrap();
        if (trapEvery > 0 && std::chrono::steady_clock::now() >= nextTrap) {
            raiseTrap();
            nextTrap += std::chrono::seconds(trapEvery);
        }
    }
    app.Stop();
    Say("stopped");
    return 0;
}
