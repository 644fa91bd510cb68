// Makes an operator's journal of a day with 1 000 000 reply lines (50 000 commands of 20 lines,
// a quarter of them from four web addresses, and groups of alarm lines between them) through
// the journal's own writer, and prints how fast it wrote them; then opens the journal window
// (offscreen) on it and times the opening and a series of searches, each from the request to
// the table filled and the newest record's reply shown, and the window thread's longest pause
// meanwhile (the searches run on the window's reader thread). bench_journal [folder] keeps
// the journal in the folder given instead of a temporary one.
#include "journal/OperatorJournal.h"
#include "journal/TFormJournal.h"
#include "shared/MessageBoxes.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int COMMANDS = 50000;
constexpr int LINES_PER_COMMAND = 20;
constexpr int ALARM_EVERY = 25; // commands between two groups of three alarm lines
constexpr int RUNS = 3;
const char* const WEB_ADDRESSES[] = {"192.168.1.21", "192.168.1.22", "192.168.1.23",
                                     "192.168.1.24"};

// The day's records, one command every 1.5 s from midnight on.
void fill(OperatorJournal& journal, std::atomic<std::int64_t>& clock, std::int64_t midnight) {
    for (int command = 0; command < COMMANDS; ++command) {
        clock = midnight + std::int64_t(command) * 1500;
        const bool web = command % 4 == 3;
        const QByteArray text = "CMD-" + QByteArray::number(command % 1000).rightJustified(3, '0') +
                                ":" + QByteArray::number(command).rightJustified(6, '0');
        const auto record = journal.commandQueued(web ? CommandSource::Web : CommandSource::Typed,
                                                  web ? WEB_ADDRESSES[command / 4 % 4] : "", text);
        journal.commandSent(record, false);
        for (int line = 0; line < LINES_PER_COMMAND; ++line)
            journal.replyLine(record, "LINE " + QByteArray::number(line).rightJustified(2, '0') +
                                          " OF COMMAND " +
                                          QByteArray::number(command).rightJustified(6, '0') +
                                          " STATUS OK ABCDEF");
        clock += 300;
        journal.commandEnded(record, CommandEnd::Prompt);
        if (command % ALARM_EVERY == 0) {
            clock += 500;
            for (int alarm = 0; alarm < 3; ++alarm)
                journal.replyLine(0, "ALARM " + QByteArray::number(command) + " MODULE " +
                                         QByteArray::number(alarm));
        }
        if (command % 1000 == 999)
            journal.flush(); // the queue holds 65 536 reports; a bulk fill waits for the disk
    }
    journal.flush();
}

struct Timed {
    std::vector<double> ms; // from the request to the table filled, each run, sorted
    double pauseMs = 0;     // the window thread's longest pause in all runs
};

// Runs `search` and the event loop until its answer is shown and painted. A 1 ms timer ticks
// on the window thread meanwhile: the longest time between two ticks (the request itself
// included) is the longest the window thread could not paint or take a key.
Timed timed(const TFormJournal& form, const std::function<void()>& search) {
    Timed timed;
    for (int run = 0; run < RUNS; ++run) {
        QElapsedTimer clock;
        qint64 lastTick = 0;
        qint64 longest = 0;
        const auto tick = [&] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - lastTick);
            lastTick = now;
        };
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        ticker.setInterval(1);
        QObject::connect(&ticker, &QTimer::timeout, tick);
        ticker.start();
        clock.start();
        search();
        while (form.searching())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QApplication::processEvents(); // the table's first paint of the new rows
        timed.ms.push_back(clock.nsecsElapsed() / 1e6);
        tick();
        timed.pauseMs = std::max(timed.pauseMs, longest / 1e6);
    }
    std::sort(timed.ms.begin(), timed.ms.end());
    return timed;
}

void print(const char* what, const Timed& timed, const TFormJournal& form) {
    const std::vector<double>& ms = timed.ms;
    std::printf("%-40s %6.1f ms (%.1f - %.1f), longest pause %4.1f ms  %zu records; %s\n", what,
                ms[ms.size() / 2], ms.front(), ms.back(), timed.pauseMs, form.rows().size(),
                qPrintable(form.Label5->text()));
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir temporary;
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path());
    const QDate today = QDate::currentDate();
    const std::int64_t midnight = today.startOfDay().toMSecsSinceEpoch();
    std::atomic<std::int64_t> clock{midnight};
    const QString path = folder.filePath(QStringLiteral("Journal.db"));
    OperatorJournal journal({path, [&clock] { return clock.load(); }, {}});

    QElapsedTimer writing;
    writing.start();
    fill(journal, clock, midnight);
    const double seconds = writing.nsecsElapsed() / 1e9;
    const long long lines = COMMANDS * LINES_PER_COMMAND + COMMANDS / ALARM_EVERY * 3;
    std::printf("written: %lld reply lines, %d commands in %.1f s: %.0f lines/s by the journal's "
                "thread; file %.0f MB\n",
                lines, COMMANDS, seconds, lines / seconds,
                (QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size()) / 1e6);

    MessageBoxes messages;
    TFormJournal form(journal, messages);
    print("opening the window (today, everything)", timed(form, [&] { form.Journal1Click(); }),
          form);
    const auto search = [&](const char* what, const QString& origin, const QString& text) {
        form.ComboBox1->setCurrentIndex(form.ComboBox1->findText(origin));
        form.Edit1->setText(text);
        print(what, timed(form, [&] { form.BitBtn1Click(); }), form);
    };
    search("text in one command's reply", QStringLiteral("Все"), QStringLiteral("COMMAND 031337"));
    search("text found nowhere", QStringLiteral("Все"), QStringLiteral("NO SUCH TEXT"));
    search("text in every reply", QStringLiteral("Все"), QStringLiteral("status ok"));
    search("a command's text", QStringLiteral("Все"), QStringLiteral("CMD-337:"));
    search("console", QStringLiteral("Пульт"), {});
    search("one web address", QStringLiteral("Web 192.168.1.22"), {});
    search("one web address and a text", QStringLiteral("Web 192.168.1.22"),
           QStringLiteral("COMMAND 0313"));
    search("lines without command", QStringLiteral("Строки без команды"), {});
    form.DateTimePicker1->setDateTime(today.addDays(-7).startOfDay());
    form.DateTimePicker2->setDateTime(today.addDays(-1).startOfDay());
    search("last week (nothing)", QStringLiteral("Все"), QStringLiteral("COMMAND"));
    return 0;
}
