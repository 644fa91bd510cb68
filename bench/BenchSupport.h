#pragma once

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

// What the benchmarks share: the processor time they spend, idle time in the event loop,
// and the simulated exchange started as a process of its own.
namespace Bench {

inline double processorSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop untouched for a while (QTest::qWait would sleep between its passes).
inline void sleepInEventLoop(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Starts the exchange simulator (EXCHANGE_SIM_PATH) and points COM1 at its line; it takes
// control lines ("flood N", "silent N", "quit") on the process's input.
inline bool startSimulator(QProcess& simulator) {
    simulator.start(QStringLiteral(EXCHANGE_SIM_PATH), {});
    if (!simulator.waitForReadyRead(5000)) {
        std::fprintf(stderr, "the exchange simulator did not start\n");
        return false;
    }
    qputenv("KORVANT_COM1", simulator.readLine().trimmed());
    return true;
}

} // namespace Bench
