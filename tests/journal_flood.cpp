// The terminal with its journal in the file named by the first argument, on a simulated
// exchange that floods FLOOD_LINES numbered lines at FLOOD_PACE a second. Every few
// milliseconds it prints how many lines have reached the console (and so the journal);
// tst_journal kills it with SIGKILL in the middle and reads the file back.

#include "Fakes.h"
#include "SimulatedExchange.h"
#include "dispatch/Console.h"
#include "dispatch/Terminal.h"
#include "journal/OperatorJournal.h"
#include "link/PosixSerialDevice.h"
#include "shared/Vars.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace {
constexpr int FLOOD_LINES = 100000;
constexpr int FLOOD_PACE = 40000; // lines per second: the flood lasts 2.5 s
constexpr int PRINT_MS = 5;
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    if (argc < 2)
        return 2;
    sim::SimulatedExchange exchange;
    if (!exchange.start())
        return 3;
    qputenv("KORVANT_COM1", QByteArray::fromStdString(exchange.linePath()));
    OperatorJournal journal(
        {QString::fromLocal8Bit(argv[1]), OperatorJournal::systemClock, JournalStore::Limits{}});
    Vars vars;
    FakeTimer replyWait;
    FakeTimer consoleTrim{Console::TRIM_INTERVAL_MS};
    FakeTimer lineRetry;
    FakeTimer lineWait;
    RecordingConsole console;
    RecordingMessages messages;
    Terminal terminal(vars, PosixSerialDevice::create(),
                      {replyWait, consoleTrim, lineRetry, lineWait}, messages, journal);
    terminal.setConsole(&console);
    if (!terminal.OpenComPort(QStringLiteral("Com1"), 1))
        return 4;
    exchange.flood(FLOOD_LINES, FLOOD_PACE);
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, [&] {
        std::printf("%lld\n", static_cast<long long>(console.lines.size()));
        std::fflush(stdout);
    });
    progress.start(PRINT_MS);
    return application.exec();
}
