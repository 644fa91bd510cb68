// Makes an operator's journal of some days with 1 000 000 reply lines each (50 000 commands of
// 20 lines, a quarter of them from four web addresses, and groups of alarm lines between them)
// through the journal's own writer, and prints how fast it wrote them and how much of the file
// the text index takes; then opens the journal window (offscreen) on it and times the opening
// and a series of searches over today and over the whole journal, each from the request to
// the table filled and the newest record's reply shown, and the window thread's longest pause
// meanwhile (the searches run on the window's reader thread). Last, it writes 5 000 lines/s
// for a while by the computer's clock and prints how many reports waited at most; then makes
// the file one of version 2 (without the text index) and times the upgrade: the start, the
// index's building by the writer, and a search during and after it.
//   bench_journal [days] [folder]   (1 day; a temporary folder)
#include "journal/JournalQuery.h"
#include "journal/OperatorJournal.h"
#include "journal/Sqlite.h"
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
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <sqlite3.h>
#include <thread>
#include <vector>

namespace {

constexpr int COMMANDS = 50000;
constexpr int LINES_PER_COMMAND = 20;
constexpr int ALARM_EVERY = 25; // commands between two groups of three alarm lines
constexpr int RUNS = 3;
constexpr int SUSTAINED_LINES_PER_S = 5000;
constexpr int SUSTAINED_S = 20;
const char* const WEB_ADDRESSES[] = {"192.168.1.21", "192.168.1.22", "192.168.1.23",
                                     "192.168.1.24"};

// A day's records, one command every 1.5 s from midnight on; the commands are numbered on
// from `first`.
void fillDay(OperatorJournal& journal, std::atomic<std::int64_t>& clock, std::int64_t midnight,
             int first) {
    for (int command = first; command < first + COMMANDS; ++command) {
        clock = midnight + std::int64_t(command - first) * 1500;
        const bool web = command % 4 == 3;
        const QByteArray text = "CMD-" + QByteArray::number(command % 1000).rightJustified(3, '0') +
                                ":" + QByteArray::number(command).rightJustified(7, '0');
        const auto record = journal.commandQueued(web ? CommandSource::Web : CommandSource::Typed,
                                                  web ? WEB_ADDRESSES[command / 4 % 4] : "", text);
        journal.commandSent(record, false);
        for (int line = 0; line < LINES_PER_COMMAND; ++line)
            journal.replyLine(record, "LINE " + QByteArray::number(line).rightJustified(2, '0') +
                                          " OF COMMAND " +
                                          QByteArray::number(command).rightJustified(7, '0') +
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

// Bytes of the file that the text index takes (SQLite's dbstat table), or -1.
double indexBytes(const QString& path) {
    Sqlite::Connection db;
    if (db.open(path, true) != SQLITE_OK)
        return -1;
    return double(db.integer("SELECT sum(pgsize) FROM dbstat WHERE name LIKE 'text_index%' OR "
                             "name LIKE 'unindexed%'"));
}

// SUSTAINED_LINES_PER_S lines by the computer's clock, in commands of 20 lines: the most
// reports that waited for the writer, sampled every 10 ms.
void sustained(OperatorJournal& journal, std::atomic<std::int64_t>& clock) {
    using namespace std::chrono;
    const auto start = steady_clock::now();
    std::size_t most = 0;
    std::vector<std::size_t> mostEachSecond(SUSTAINED_S);
    long long lines = 0;
    for (int tick = 0; tick < SUSTAINED_S * 100; ++tick) {
        std::this_thread::sleep_until(start + milliseconds(10 * tick));
        clock = OperatorJournal::systemClock();
        while (lines < (tick + 1) * SUSTAINED_LINES_PER_S / 100) {
            const auto record = journal.commandQueued(CommandSource::Typed, "", "RTM-RRT");
            journal.commandSent(record, false);
            for (int line = 0; line < LINES_PER_COMMAND; ++line, ++lines)
                journal.replyLine(record, "SUSTAINED LINE " + QByteArray::number(lines) +
                                              " STATUS OK ABCDEF");
            journal.commandEnded(record, CommandEnd::Prompt);
        }
        const std::size_t waiting = journal.waitingReports();
        most = std::max(most, waiting);
        mostEachSecond[std::size_t(tick / 100)] =
            std::max(mostEachSecond[std::size_t(tick / 100)], waiting);
    }
    const auto writing = steady_clock::now();
    journal.flush();
    std::printf("sustained: %lld lines in %d s (%d lines/s); reports waiting at most %zu; each "
                "second:",
                lines, SUSTAINED_S, SUSTAINED_LINES_PER_S, most);
    for (const std::size_t waiting : mostEachSecond)
        std::printf(" %zu", waiting);
    std::printf("; all in the file %.0f ms after the last\n",
                duration<double, std::milli>(steady_clock::now() - writing).count());
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

// The file as version 2 left it: without the text index and the two columns of version 3.
bool makeVersion2(const QString& path) {
    Sqlite::Connection db;
    return db.open(path, false) == SQLITE_OK &&
           db.exec("DROP TABLE text_index; DROP TABLE unindexed;"
                   "ALTER TABLE records DROP COLUMN stopped;"
                   "ALTER TABLE records DROP COLUMN after_silence;"
                   "PRAGMA user_version = 2; VACUUM") == SQLITE_OK;
}

// Milliseconds that a search of the whole journal for one reply's text takes.
double searchMs(const QString& path, const QString& text) {
    QElapsedTimer timer;
    timer.start();
    JournalQuery query(path);
    JournalFilter filter;
    filter.to = std::numeric_limits<std::int64_t>::max();
    filter.text = text;
    const std::size_t found = query.find(filter, TFormJournal::MAX_RECORDS).rows.size();
    const double ms = timer.nsecsElapsed() / 1e6;
    std::printf("  search for \"%s\": %zu records in %.0f ms\n", qPrintable(text), found, ms);
    return ms;
}

// The upgrade of a version-2 file: how long the program takes to start and record, how long
// its writer takes to build the index while the program runs, and a search meanwhile.
void upgrade(const QString& path, const JournalStore::Limits& limits) {
    QElapsedTimer timer;
    timer.start();
    if (!makeVersion2(path)) {
        std::printf("upgrade: the file could not be made one of version 2\n");
        return;
    }
    std::printf("upgrade: the file made one of version 2 in %.1f s, %.0f MB\n",
                timer.nsecsElapsed() / 1e9, QFileInfo(path).size() / 1e6);
    timer.restart();
    OperatorJournal journal({path, OperatorJournal::systemClock, limits});
    journal.commandRefused(Refusal::QueueFull, CommandSource::Typed, {},
                           "RECORDED DURING THE UPGRADE");
    journal.flush();
    std::printf("upgrade: started and recorded a line in %.0f ms; during the build:\n",
                timer.nsecsElapsed() / 1e6);
    searchMs(path, QStringLiteral("COMMAND 0031337"));
    Sqlite::Connection db;
    db.open(path, true);
    while (db.integer("SELECT EXISTS(SELECT 1 FROM unindexed)") != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::printf("upgrade: the index built %.1f s after the start; then:\n",
                timer.nsecsElapsed() / 1e9);
    searchMs(path, QStringLiteral("COMMAND 0031337"));
    searchMs(path, QStringLiteral("recorded during"));
}

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each figure as it comes, also into a file
    QApplication application(argc, argv);
    const int days = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    QTemporaryDir temporary;
    const QDir folder(argc > 2 ? QString::fromLocal8Bit(argv[2]) : temporary.path());
    const QDate today = QDate::currentDate();
    const QDate firstDay = today.addDays(1 - days);
    std::atomic<std::int64_t> clock{firstDay.startOfDay().toMSecsSinceEpoch()};
    const QString path = folder.filePath(QStringLiteral("Journal.db"));
    JournalStore::Limits limits;
    limits.maxBytes = 1LL << 40; // the journal is measured whole, beyond the 1 GB kept
    OperatorJournal journal({path, [&clock] { return clock.load(); }, limits});

    QElapsedTimer writing;
    writing.start();
    for (int day = 0; day < days; ++day)
        fillDay(journal, clock, firstDay.addDays(day).startOfDay().toMSecsSinceEpoch(),
                day * COMMANDS);
    const double seconds = writing.nsecsElapsed() / 1e9;
    const long long lines =
        (COMMANDS * LINES_PER_COMMAND + COMMANDS / ALARM_EVERY * 3) * (long long)(days);
    const double fileBytes =
        double(QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size());
    const double index = indexBytes(path);
    std::printf("written: %lld reply lines, %d commands, %d days in %.1f s: %.0f lines/s by the "
                "journal's thread; file %.0f MB, of it the text index %.1f MB: %.3f times the "
                "file without it\n",
                lines, COMMANDS * days, days, seconds, lines / seconds, fileBytes / 1e6,
                index / 1e6, fileBytes / (fileBytes - index));

    MessageBoxes messages;
    TFormJournal form(journal, messages);
    print("opening the window (today, everything)", timed(form, [&] { form.Journal1Click(); }),
          form);
    const auto search = [&](const char* what, const QString& origin, const QString& text) {
        form.ComboBox1->setCurrentIndex(form.ComboBox1->findText(origin));
        form.Edit1->setText(text);
        print(what, timed(form, [&] { form.BitBtn1Click(); }), form);
    };
    const auto searches = [&](const QString& one, const QString& command) {
        search("text in one command's reply", QStringLiteral("Все"), one);
        search("text found nowhere", QStringLiteral("Все"), QStringLiteral("NO SUCH TEXT"));
        search("text in every reply", QStringLiteral("Все"), QStringLiteral("status ok"));
        search("a command's text", QStringLiteral("Все"), command);
        search("two characters", QStringLiteral("Все"), QStringLiteral("Ok"));
        search("two characters found nowhere", QStringLiteral("Все"), QStringLiteral("#!"));
        search("console", QStringLiteral("Пульт"), {});
        search("one web address", QStringLiteral("Web 192.168.1.22"), {});
        search("one web address and a text", QStringLiteral("Web 192.168.1.22"),
               QStringLiteral("COMMAND 00313"));
        search("lines without command", QStringLiteral("Строки без команды"), {});
    };
    const int todayFirst = (days - 1) * COMMANDS;
    std::printf("today:\n");
    searches(QStringLiteral("COMMAND %1").arg(todayFirst + 31337, 7, 10, QLatin1Char('0')),
             QStringLiteral("CMD-337:%1").arg(todayFirst / 1000 + 31, 4, 10, QLatin1Char('0')));
    std::printf("the whole journal, %d days:\n", days);
    form.DateTimePicker1->setDateTime(firstDay.startOfDay());
    searches(QStringLiteral("COMMAND 0031337"), QStringLiteral("CMD-337:0031"));
    form.DateTimePicker1->setDateTime(firstDay.addDays(-7).startOfDay());
    form.DateTimePicker2->setDateTime(firstDay.addDays(-1).startOfDay());
    search("the week before (nothing)", QStringLiteral("Все"), QStringLiteral("COMMAND"));
    form.close();
    sustained(journal, clock);
    journal.finish();
    upgrade(path, limits);
    return 0;
}
