// Floods the console from the simulated exchange (a separate process on a pseudo-terminal)
// and prints how fast the lines reach the console until the last one is painted, how soon
// after the last byte arrived, how fast the reader alone took them off the line, which line
// the console showed when the last byte arrived, how many were lost, how long the window
// thread paused, what processor time and memory KORVANT spent; then measures idle with the
// port open, and then a flood paced as a fast adapter brings it, with its processor share.
// Before the flood it times the start-up of the main window in fresh processes. With
// --journal the terminal keeps the operator's journal (in a temporary folder) during the
// flood, and how soon the journal's file holds every line is printed too.
#include "BenchSupport.h"
#ifdef KORVANT_BENCH_SER2NET
#include "TerminalServers.h"
#endif
#include "app/ProgramWindows.h"
#include "app/Station.h"
#include "app/TForm1.h"
#include "dispatch/Console.h"
#include "dispatch/Terminal.h"
#include "journal/OperatorJournal.h"
#include "journal/Sqlite.h"
#include "link/ForwardingDevice.h"
#include "link/PortDevice.h"
#include "link/PosixSerialDevice.h"
#include "shared/MessageBoxes.h"
#include "shared/Vars.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int START_UP_RUNS = 5;
constexpr int HEARTBEAT_MS = 1;          // the window thread's beat while it is free
constexpr int FLOOD_TIMEOUT_MS = 600000; // a flood that takes longer counts as lost lines
constexpr int IDLE_SETTLE_MS = 1500;     // lets the trim timer fire before idle is measured
constexpr int KEPT_LINES = 600;          // the newest lines checked after a flood
const char* const START_UP_ARGUMENT = "--start-up";
const char* const JOURNAL_ARGUMENT = "--journal";

QString journalFile(const QTemporaryDir& folder) {
    return folder.filePath(QStringLiteral("Journal.db"));
}

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

// Nanoseconds on the monotonic clock, the same on every thread.
qint64 nowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The port as the program opens it, noting when the reader last took bytes off the line.
class TimedDevice final : public ForwardingDevice {
public:
    explicit TimedDevice(std::unique_ptr<SerialDevice> device) : m_device(std::move(device)) {}
    ssize_t readSome(char* buffer, std::size_t size) override {
        const ssize_t n = m_device->readSome(buffer, size);
        if (n > 0)
            lastRead = nowNanoseconds();
        return n;
    }
    std::atomic<qint64> lastRead{0};

private:
    SerialDevice& target() override { return *m_device; }
    const SerialDevice& target() const override { return *m_device; }

    std::unique_ptr<SerialDevice> m_device;
};

// The number of a flood line ("FLOOD 0013800 ..."), 0 for any other line.
long floodNumber(const QString& line) {
    return line.startsWith(QLatin1String("FLOOD ")) ? line.mid(6, 7).toLong() : 0;
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

// What the console showed at each of its paints: the number of the lowest line in view.
class ShownLines final : public QObject {
public:
    explicit ShownLines(QPlainTextEdit& memo) : m_memo(memo) {
        memo.viewport()->installEventFilter(this);
    }
    // The lowest line in view at the last paint up to `when`; 0 if none was painted.
    long at(qint64 when) const {
        long line = 0;
        for (const Paint& paint : m_paints)
            if (paint.at <= when)
                line = paint.line;
        return line;
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            const QPoint bottom(0, m_memo.viewport()->height() - 1);
            m_paints.push_back(
                {nowNanoseconds(), floodNumber(m_memo.cursorForPosition(bottom).block().text())});
        }
        return false;
    }

private:
    struct Paint {
        qint64 at;
        long line;
    };
    QPlainTextEdit& m_memo;
    std::vector<Paint> m_paints;
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
    // As the program starts, its web server (on any free port here) and its journal too.
    QTemporaryDir folder;
    Station station(
        vars, messages,
        {PortDevice::create(),
         QDir::currentPath(),
         {},
         OperatorJournal::Settings{journalFile(folder), OperatorJournal::systemClock, {}}});
    ProgramWindows windows(station, messages, QDir::currentPath());
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

// How long after the last painted line the journal's file holds every line of the flood,
// and what the file holds.
void printJournal(OperatorJournal& journal, int lines) {
    QElapsedTimer clock;
    clock.start();
    const std::size_t waiting = journal.waitingReports();
    journal.flush();
    const double catchUp = clock.nsecsElapsed() / 1e9;
    Sqlite::Connection file;
    file.open(journal.path(), true);
    const auto kept = file.integer("SELECT count(*) FROM lines WHERE text LIKE 'FLOOD %'", 0);
    const auto lost = file.integer("SELECT sum(text) FROM records WHERE kind = 6", 0);
    std::printf("journal: %zu reports still waiting when the last line was painted, all in the "
                "file %.3f s later\n",
                waiting, catchUp);
    const qint64 bytes = QFileInfo(journal.path()).size() +
                         QFileInfo(journal.path() + QStringLiteral("-wal")).size();
    std::printf("journal: %lld of %d lines in the file, %lld reports lost; file and WAL %.1f MB\n",
                static_cast<long long>(kept), lines, static_cast<long long>(lost), bytes / 1e6);
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

// What each thread has spent since `before` was taken.
std::map<QByteArray, double> threadSecondsSince(const std::map<QByteArray, double>& before) {
    std::map<QByteArray, double> spent = Bench::threadProcessorSeconds();
    for (auto& [name, seconds] : spent)
        seconds -= before.count(name) ? before.at(name) : 0;
    return spent;
}

// What one flood cost, from the control line to the simulator to its last line painted.
struct FloodFigures {
    int lines = 0;
    long long received = 0;     // lines handed to the console
    double seconds = 0;         // to the last line painted
    double lastByteSeconds = 0; // to the last byte taken off the line by the reader
    double processorSeconds = 0;
    std::map<QByteArray, double> threadSeconds; // processor-seconds by thread name
    long shownAtLastByte = 0; // the lowest line in view when the last byte arrived
    int notInserted = 0;      // more than 600 waited for one frame: counted as shown and trimmed
    bool newestInOrder = false;
    Durations pauses; // wall clock
    Durations busy;   // the window thread's own processor time in each pause
};

// The console's newest lines are the flood's last ones, in order, ending with its last.
bool newestAreFloodsLast(const QTextDocument& document, int lines) {
    long expected = lines;
    QTextBlock block = document.lastBlock();
    for (int i = 0; i < std::min(lines, KEPT_LINES); ++i, --expected, block = block.previous())
        if (!block.isValid() || floodNumber(block.text()) != expected)
            return false;
    return true;
}

// Floods the console with `lines` lines, as fast as the line takes them or paced, and
// waits until a paint of the console shows every one of them. A paced flood is measured
// without the heartbeat, whose thousand wake-ups a second would be most of its cost.
FloodFigures flood(TForm1& form, const TimedDevice& device, QProcess& simulator, int lines,
                   int linesPerSecond = 0) {
    Console& console = form.console();
    const long long before = console.linesReceived();
    const int shownBefore = console.lineCount();
    QEventLoop flooding;
    QTimer::singleShot(FLOOD_TIMEOUT_MS, &flooding, &QEventLoop::quit);
    PaintWatch lastLinePainted(
        form.Memo1->viewport(),
        [&] { return console.linesReceived() >= before + lines && console.pendingLines() == 0; },
        [&] { flooding.quit(); });
    ShownLines shown(*form.Memo1);

    Heartbeat heartbeat;
    if (linesPerSecond == 0)
        heartbeat.start();
    const double cpuBefore = Bench::processorSeconds();
    const std::map<QByteArray, double> threadsBefore = Bench::threadProcessorSeconds();
    const qint64 start = nowNanoseconds();
    QByteArray control = "flood " + QByteArray::number(lines);
    if (linesPerSecond > 0)
        control += ' ' + QByteArray::number(linesPerSecond);
    simulator.write(control + '\n');
    flooding.exec();
    FloodFigures figures;
    figures.seconds = (nowNanoseconds() - start) / 1e9;
    if (linesPerSecond == 0)
        heartbeat.stop();
    figures.processorSeconds = Bench::processorSeconds() - cpuBefore;
    figures.threadSeconds = threadSecondsSince(threadsBefore);
    figures.lines = lines;
    figures.received = console.linesReceived() - before;
    figures.lastByteSeconds = (device.lastRead - start) / 1e9;
    figures.shownAtLastByte = shown.at(device.lastRead);
    figures.notInserted = int(shownBefore + figures.received - console.lineCount());
    figures.newestInOrder = newestAreFloodsLast(*form.Memo1->document(), lines);
    figures.pauses = heartbeat.pauses();
    figures.busy = heartbeat.busy();
    return figures;
}

void printThreads(const char* what, const std::map<QByteArray, double>& threadSeconds) {
    std::printf("%s: processor-seconds by thread:", what);
    for (const auto& [name, seconds] : threadSeconds)
        if (seconds >= 0.0001)
            std::printf(" %s %.4f", name.constData(), seconds);
    std::printf("\n");
}

void printPauses(const char* what, const FloodFigures& figures) {
    std::printf("%s: window thread pauses: longest %.1f ms, 99th percentile %.1f ms\n", what,
                figures.pauses.longestMs(), figures.pauses.percentileMs(0.99));
    std::printf("%s: its own work in a pause: longest %.1f ms, 99th percentile %.1f ms\n", what,
                figures.busy.longestMs(), figures.busy.percentileMs(0.99));
}

void printLost(const char* what, const FloodFigures& figures) {
    std::printf("%s: %d lines sent, %lld reached the console, %lld lost; %d of them counted as "
                "shown and trimmed without being inserted; the newest %d in order: %s\n",
                what, figures.lines, figures.received, figures.lines - figures.received,
                figures.notInserted, std::min(figures.lines, KEPT_LINES),
                figures.newestInOrder ? "yes" : "NO");
}

void printFlood(const FloodFigures& figures, const QPlainTextEdit& memo) {
    const double afterLastByteMs = (figures.seconds - figures.lastByteSeconds) * 1e3;
    const QString last = memo.document()->lastBlock().text();
    const long long bytes = figures.received * (last.size() + 2);
    printLost("flood", figures);
    std::printf("flood: reader took the last byte off the line after %.3f s: %.0f lines/s\n",
                figures.lastByteSeconds, figures.lines / figures.lastByteSeconds);
    std::printf("flood: last line painted after %.3f s, %.1f ms after the last byte: %.0f lines/s, "
                "%.0f bytes/s, %.3f processor-seconds\n",
                figures.seconds, afterLastByteMs, figures.received / figures.seconds,
                bytes / figures.seconds, figures.processorSeconds);
    printThreads("flood", figures.threadSeconds);
    std::printf("flood: when the last byte arrived, the console showed line %ld of %d\n",
                figures.shownAtLastByte, figures.lines);
    printPauses("flood", figures);
    std::printf("flood: last line \"%s\"\n", qPrintable(last));
}

void printSustained(const FloodFigures& figures, int linesPerSecond) {
    printLost("sustained", figures);
    std::printf("sustained: %d lines/s for %.1f s: %.3f processor-seconds, %.1f %% of one core\n",
                linesPerSecond, figures.seconds, figures.processorSeconds,
                100 * figures.processorSeconds / figures.seconds);
    printThreads("sustained", figures.threadSeconds);
}

#ifdef KORVANT_BENCH_SER2NET
// Waits in the event loop until `done` holds, at most `milliseconds`.
bool waitFor(const std::function<bool()>& done, int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < milliseconds)
        Bench::sleepInEventLoop(10);
    return done();
}

// The same flood through ser2net on loopback in front of the simulator's line, raw and over
// RFC 2217; then the server goes away and the port waits for its line, which is idle time.
bool floodThroughSer2net(TForm1& form, const TimedDevice& device, QProcess& simulator, int lines,
                         int idleSeconds) {
    Terminal& terminal = form.terminal();
    auto server = std::make_unique<Ser2net>(QString::fromLocal8Bit(qgetenv("KORVANT_COM1")));
    if (!server->isRunning()) {
        std::printf("ser2net: %s\n", qPrintable(server->errorText()));
        return false;
    }
    bool whole = true;
    for (const auto& [name, url] :
         {std::pair{"raw", server->rawUrl()}, std::pair{"RFC 2217", server->rfc2217Url()}}) {
        terminal.closePort();
        Bench::sleepInEventLoop(500); // ser2net lets the device go after the connection
        qputenv("KORVANT_COM1", url.toUtf8());
        if (!terminal.OpenComPort(QStringLiteral("Com1"), 1))
            return false;
        Bench::sleepInEventLoop(1000); // the connection is made and settles
        const FloodFigures figures = flood(form, device, simulator, lines);
        std::printf("through ser2net, %s: %lld of %d lines, %lld lost; last line painted after "
                    "%.3f s: %.0f lines/s; window thread's longest pause %.1f ms (its own work "
                    "%.1f ms); %.3f processor-seconds\n",
                    name, figures.received, figures.lines, figures.lines - figures.received,
                    figures.seconds, figures.received / figures.seconds, figures.pauses.longestMs(),
                    figures.busy.longestMs(), figures.processorSeconds);
        whole = whole && figures.received == lines;
    }
    server.reset(); // the terminal server goes away: the port waits for its line
    if (!waitFor([&] { return terminal.lineWaiting(); }, 10000))
        return false;
    const double before = Bench::processorSeconds();
    Bench::sleepInEventLoop(idleSeconds * 1000);
    std::printf("waiting: %.4f processor-seconds in %d s while the RFC 2217 port waits for its "
                "line (tries with a pause growing to 30 s)\n",
                Bench::processorSeconds() - before, idleSeconds);
    terminal.closePort();
    return whole;
}
#endif

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], START_UP_ARGUMENT) == 0)
        return showMainWindowOnce(application);
    QStringList arguments = application.arguments().mid(1);
    const bool withJournal = arguments.removeAll(QString::fromLatin1(JOURNAL_ARGUMENT)) > 0;
    const int lines = arguments.size() > 0 ? arguments[0].toInt() : 100000;
    const int idleSeconds = arguments.size() > 1 ? arguments[1].toInt() : 10;
    const int sustainedRate = arguments.size() > 2 ? arguments[2].toInt() : 5000; // lines a second
    const int sustainedSeconds = arguments.size() > 3 ? arguments[3].toInt() : 60;

    printStartUps(measureStartUps());

    QProcess simulator;
    if (!Bench::startSimulator(simulator))
        return 1;

    Vars vars;
    MessageBoxes messages;
    QTemporaryDir folder;
    std::optional<OperatorJournal::Settings> journalSettings;
    if (withJournal)
        journalSettings =
            OperatorJournal::Settings{journalFile(folder), OperatorJournal::systemClock, {}};
    std::printf("journal: %s\n", withJournal ? "on" : "off");
    auto* device = new TimedDevice(PortDevice::create());
    Station station(vars, messages,
                    {std::unique_ptr<SerialDevice>(device), {}, {}, std::move(journalSettings)});
    OperatorJournal* journal = station.journal();
    TForm1 form(station, messages);
    form.show();
    if (!form.terminal().OpenComPort(QStringLiteral("Com1"), 1))
        return 1;
    Bench::sleepInEventLoop(100); // the first paints of the window are not the flood's
    if (journal)
        journal->flush(); // the writer has started up, as it has long before any flood
    Console& console = form.console();

    const FloodFigures burst = flood(form, *device, simulator, lines);
    printFlood(burst, *form.Memo1);
    std::printf("memory: %.1f MB resident after the flood (%d lines in the console)\n",
                residentMegabytes(), form.Memo1->document()->blockCount());
    if (journal)
        printJournal(*journal, lines);

    QElapsedTimer trimClock;
    trimClock.start();
    console.trim(); // what TimerStr does one second after the flood
    std::printf("trim: %d lines left after %.1f ms on the window thread\n",
                form.Memo1->document()->blockCount(), trimClock.nsecsElapsed() / 1e6);
    Bench::sleepInEventLoop(IDLE_SETTLE_MS);
    std::printf("memory: %.1f MB resident after the trimming\n", residentMegabytes());
    const double idleBefore = Bench::processorSeconds();
    const std::map<QByteArray, double> idleThreadsBefore = Bench::threadProcessorSeconds();
    Bench::sleepInEventLoop(idleSeconds * 1000);
    std::printf("idle: %.4f processor-seconds in %d s with the port open\n",
                Bench::processorSeconds() - idleBefore, idleSeconds);
    printThreads("idle", threadSecondsSince(idleThreadsBefore));

    bool whole = burst.received == lines;
    if (sustainedRate > 0 && sustainedSeconds > 0) {
        const FloodFigures sustained =
            flood(form, *device, simulator, sustainedRate * sustainedSeconds, sustainedRate);
        printSustained(sustained, sustainedRate);
        std::printf("memory: %.1f MB resident after the sustained flood (%d lines in the "
                    "console)\n",
                    residentMegabytes(), form.Memo1->document()->blockCount());
        whole = whole && sustained.received == sustained.lines;
    }

#ifdef KORVANT_BENCH_SER2NET
    whole = floodThroughSer2net(form, *device, simulator, lines, idleSeconds) && whole;
#endif
    form.terminal().closePort();
    simulator.write("quit\n");
    simulator.waitForFinished(3000);
    return whole ? 0 : 1;
}
