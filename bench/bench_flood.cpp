// Floods the console from the simulated exchange (a separate process on a pseudo-terminal)
// and prints how fast the lines reach the console until the last one is painted, how many
// were lost, how long the window thread paused, what processor time and memory KORVANT
// spent; then measures idle with the port open. Before the flood it times the start-up of
// the main window in fresh processes.
#include "BenchSupport.h"
#include "Console.h"
#include "MessageBoxes.h"
#include "PosixSerialDevice.h"
#include "ProgramWindows.h"
#include "TForm1.h"
#include "Terminal.h"
#include "Vars.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int START_UP_RUNS = 5;
constexpr int HEARTBEAT_MS = 1;          // the window thread's beat while it is free
constexpr int FLOOD_TIMEOUT_MS = 600000; // a flood that takes longer counts as lost lines
constexpr int IDLE_SETTLE_MS = 1500;     // lets the trim timer fire before idle is measured
const char* const START_UP_ARGUMENT = "--start-up";

double residentMegabytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return 0;
}

// Calls `done` once the watched widget has finished a paint that `ready` allows.
class PaintWatch final : public QObject {
public:
    PaintWatch(QWidget* widget, std::function<bool()> ready, std::function<void()> done)
        : m_ready(std::move(ready)), m_done(std::move(done)) {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_seen && m_ready()) {
            m_seen = true;
            QTimer::singleShot(0, this, [this] { m_done(); }); // after the paint itself
        }
        return false;
    }

private:
    std::function<bool()> m_ready;
    std::function<void()> m_done;
    bool m_seen = false;
};

// The window thread's own processor time, in nanoseconds.
qint64 threadProcessorNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Sorted durations in nanoseconds, read in milliseconds.
class Durations {
public:
    void add(qint64 nanoseconds) { m_values.push_back(nanoseconds); }
    void clear() { m_values.clear(); }
    void sort() { std::sort(m_values.begin(), m_values.end()); }
    double longestMs() const { return m_values.empty() ? 0 : m_values.back() / 1e6; }
    double percentileMs(double fraction) const {
        if (m_values.empty())
            return 0;
        return m_values[std::size_t(fraction * double(m_values.size() - 1))] / 1e6;
    }

private:
    std::vector<qint64> m_values;
};

// A beat on the window thread every millisecond while it is free: the gaps between beats
// are the pauses that an operator typing or scrolling would feel. On a shared machine a
// gap also holds the time other processes had the processor, so the window thread's own
// processor time in each gap is kept as well: that part is the program's doing.
class Heartbeat {
public:
    Heartbeat() {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { beat(); });
    }
    void start() {
        m_pauses.clear();
        m_busy.clear();
        m_clock.start();
        m_lastBeat = 0;
        m_lastProcessor = threadProcessorNanoseconds();
        m_timer.start(HEARTBEAT_MS);
    }
    void stop() {
        beat();
        m_timer.stop();
        m_pauses.sort();
        m_busy.sort();
    }
    const Durations& pauses() const { return m_pauses; }
    const Durations& busy() const { return m_busy; }

private:
    void beat() {
        const qint64 now = m_clock.nsecsElapsed();
        const qint64 processor = threadProcessorNanoseconds();
        m_pauses.add(now - m_lastBeat);
        m_busy.add(processor - m_lastProcessor);
        m_lastBeat = now;
        m_lastProcessor = processor;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastBeat = 0;
    qint64 m_lastProcessor = 0;
    Durations m_pauses; // wall clock
    Durations m_busy;   // the window thread's processor time in each pause
};

// The child's part of the start-up measure: the windows as the program makes them, and
// "shown" on standard output once the main window has been painted.
int showMainWindowOnce(QApplication& application) {
    Vars vars;
    MessageBoxes messages;
    // As the program starts, its web server too (on any free port here).
    ProgramWindows windows(vars, messages, PosixSerialDevice::create(), QDir::currentPath(), {});
    PaintWatch watch(
        &windows.form1, [] { return true; },
        [&] {
            std::printf("shown\n");
            std::fflush(stdout);
            application.quit();
        });
    windows.form1.show();
    return application.exec();
}

// Seconds from starting a fresh process to its main window being painted, sorted.
std::vector<double> measureStartUps() {
    std::vector<double> seconds;
    for (int run = 0; run < START_UP_RUNS; ++run) {
        QProcess child;
        QElapsedTimer clock;
        clock.start();
        child.start(QCoreApplication::applicationFilePath(),
                    {QString::fromLatin1(START_UP_ARGUMENT)});
        if (child.waitForReadyRead(10000) && child.readLine().trimmed() == "shown")
            seconds.push_back(clock.nsecsElapsed() / 1e9);
        child.waitForFinished(10000);
    }
    std::sort(seconds.begin(), seconds.end());
    return seconds;
}

void printStartUps(const std::vector<double>& seconds) {
    if (seconds.empty()) {
        std::printf("start-up: the main window was never shown\n");
        return;
    }
    std::printf("start-up: main window shown %.3f s after the process started (median of %zu, "
                "%.3f - %.3f)\n",
                seconds[seconds.size() / 2], seconds.size(), seconds.front(), seconds.back());
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], START_UP_ARGUMENT) == 0)
        return showMainWindowOnce(application);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;

    printStartUps(measureStartUps());

    QProcess simulator;
    if (!Bench::startSimulator(simulator))
        return 1;

    Vars vars;
    MessageBoxes messages;
    TForm1 form(vars, messages, PosixSerialDevice::create());
    form.show();
    if (!form.terminal().OpenComPort(QStringLiteral("Com1"), 1))
        return 1;
    Bench::sleepInEventLoop(100); // the first paints of the window are not the flood's
    Console& console = form.console();

    // The flood is over when a paint of the console shows every line.
    QEventLoop flooding;
    QTimer::singleShot(FLOOD_TIMEOUT_MS, &flooding, &QEventLoop::quit);
    PaintWatch lastLinePainted(
        form.Memo1->viewport(),
        [&] { return console.linesReceived() >= lines && console.pendingLines() == 0; },
        [&] { flooding.quit(); });

    Heartbeat heartbeat;
    heartbeat.start();
    const double cpuBefore = Bench::processorSeconds();
    QElapsedTimer clock;
    clock.start();
    simulator.write(QByteArray("flood ") + QByteArray::number(lines) + "\n");
    flooding.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;
    heartbeat.stop();
    const double cpu = Bench::processorSeconds() - cpuBefore;
    const long long received = console.linesReceived();
    const QString last = form.Memo1->document()->lastBlock().text();
    const long long bytes = received * (last.size() + 2);

    std::printf("flood: %d lines sent, %lld reached the console, %lld lost\n", lines, received,
                lines - received);
    std::printf("flood: last line painted after %.2f s: %.0f lines/s, %.0f bytes/s, "
                "%.2f processor-seconds\n",
                seconds, received / seconds, bytes / seconds, cpu);
    std::printf("flood: window thread pauses: longest %.1f ms, 99th percentile %.1f ms\n",
                heartbeat.pauses().longestMs(), heartbeat.pauses().percentileMs(0.99));
    std::printf("flood: its own work in a pause: longest %.1f ms, 99th percentile %.1f ms\n",
                heartbeat.busy().longestMs(), heartbeat.busy().percentileMs(0.99));
    std::printf("flood: last line \"%s\"\n", qPrintable(last));
    std::printf("memory: %.1f MB resident after the flood (%d lines in the console)\n",
                residentMegabytes(), form.Memo1->document()->blockCount());

    QElapsedTimer trimClock;
    trimClock.start();
    console.trim(); // what TimerStr does one second after the flood
    std::printf("trim: %d lines left after %.1f ms on the window thread\n",
                form.Memo1->document()->blockCount(), trimClock.nsecsElapsed() / 1e6);
    Bench::sleepInEventLoop(IDLE_SETTLE_MS);
    std::printf("memory: %.1f MB resident after the trimming\n", residentMegabytes());
    const double idleBefore = Bench::processorSeconds();
    Bench::sleepInEventLoop(idleSeconds * 1000);
    std::printf("idle: %.4f processor-seconds in %d s with the port open\n",
                Bench::processorSeconds() - idleBefore, idleSeconds);

    form.terminal().closePort();
    simulator.write("quit\n");
    simulator.waitForFinished(3000);
    return received == lines ? 0 : 1;
}
