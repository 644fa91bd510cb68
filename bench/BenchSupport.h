#pragma once

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include <cstdio>
#include <map>
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

// The processor time each of the process's threads has had, in seconds, by thread name
// (threads of one name summed); the kernel's scheduler counts it to the nanosecond.
inline std::map<QByteArray, double> threadProcessorSeconds() {
    std::map<QByteArray, double> seconds;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(tasks.filePath(task + QStringLiteral("/comm")));
        QFile schedule(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (name.open(QIODevice::ReadOnly) && schedule.open(QIODevice::ReadOnly))
            seconds[name.readAll().trimmed()] +=
                schedule.readAll().split(' ').first().toDouble() / 1e9;
    }
    return seconds;
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
