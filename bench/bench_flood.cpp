// Floods the console from the simulated exchange (a separate process on a pseudo-terminal)
// and prints how fast the lines reach the console, how many were lost and what processor
// time KORVANT spent; then measures 10 s of idle with the port open.
#include "Console.h"
#include "MessageBoxes.h"
#include "PosixSerialDevice.h"
#include "TForm1.h"
#include "Terminal.h"
#include "Vars.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {

double processorSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop untouched for a while (QTest::qWait would poll it every 10 ms).
void sleepInEventLoop(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;

    QProcess simulator;
    simulator.start(QStringLiteral(EXCHANGE_SIM_PATH), {});
    if (!simulator.waitForReadyRead(5000)) {
        std::fprintf(stderr, "the exchange simulator did not start\n");
        return 1;
    }
    const QByteArray path = simulator.readLine().trimmed();
    qputenv("KORVANT_COM1", path);

    Vars vars;
    MessageBoxes messages;
    TForm1 form(vars, messages, PosixSerialDevice::create());
    form.show();
    if (!form.terminal().OpenComPort(QStringLiteral("Com1"), 1))
        return 1;

    // A 5 ms heartbeat on the window thread: its longest gap is the longest freeze.
    QElapsedTimer heartbeatClock;
    qint64 lastBeat = 0;
    qint64 longestPause = 0;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = heartbeatClock.elapsed();
        longestPause = std::max(longestPause, now - lastBeat);
        lastBeat = now;
    });
    heartbeatClock.start();
    heartbeat.start(5);

    const double cpuBefore = processorSeconds();
    QElapsedTimer clock;
    clock.start();
    simulator.write(QByteArray("flood ") + QByteArray::number(lines) + "\n");
    const bool complete =
        QTest::qWaitFor([&] { return form.console().linesReceived() >= lines; }, 600000);
    form.console().flush();
    heartbeat.stop();
    const double seconds = clock.nsecsElapsed() / 1e9;
    const double cpu = processorSeconds() - cpuBefore;
    const long long received = form.console().linesReceived();
    const QString last = form.Memo1->document()->lastBlock().text();
    const long long bytes = received * (last.size() + 2);

    std::printf("flood: %d lines sent, %lld reached the console, %lld lost%s\n", lines, received,
                lines - received, complete ? "" : " (timed out)");
    std::printf("flood: %.2f s, %.0f lines/s, %.0f bytes/s, %.2f processor-seconds\n", seconds,
                received / seconds, bytes / seconds, cpu);
    std::printf("flood: the window thread paused at most %lld ms\n", longestPause);
    std::printf("flood: last line \"%s\"\n", qPrintable(last));

    QElapsedTimer trimClock;
    trimClock.start();
    form.console().trim(); // what TimerStr does one second after the flood
    std::printf("trim: %d lines left after %.1f ms on the window thread\n",
                form.Memo1->document()->blockCount(), trimClock.nsecsElapsed() / 1e6);
    sleepInEventLoop(1500);
    const double idleBefore = processorSeconds();
    sleepInEventLoop(idleSeconds * 1000);
    std::printf("idle: %.4f processor-seconds in %d s with the port open\n",
                processorSeconds() - idleBefore, idleSeconds);

    form.terminal().closePort();
    simulator.write("quit\n");
    simulator.waitForFinished(3000);
    return received == lines ? 0 : 1;
}
