#include "DispatcherRig.h"
#include "Fakes.h"
#include "HttpProbe.h"
#include "Probes.h"
#include "TerminalRig.h"
#include "app/ProgramWindows.h"
#include "app/Station.h"
#include "dispatch/WebCommand.h"
#include "journal/JournalQuery.h"
#include "journal/JournalTexts.h"
#include "journal/OperatorJournal.h"
#include "journal/Sqlite.h"
#include "shared/Cp1251.h"
#include "web/RequestHandler.h"
#include "web/WebService.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sqlite3.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const std::int64_t START = QDateTime(QDate(2024, 12, 9), QTime(3, 12)).toMSecsSinceEpoch();
constexpr std::int64_t DAY = JournalStore::DAY_MS;

// The journal's clocks, moved by the test; readable from any thread. Time that passes
// moves the computer's clock and the steady one alike; a step of the computer's clock
// (a wrong time set, or corrected) moves it alone.
class WallClock {
public:
    std::int64_t now() const { return m_ms + m_step; }
    void set(std::int64_t ms) {
        m_ms = ms;
        m_step = 0;
    }
    void advance(std::int64_t ms) { m_ms += ms; }
    void step(std::int64_t ms) { m_step += ms; }
    JournalClock function() {
        return [this] { return now(); };
    }
    JournalClock steady() {
        return [this] { return m_ms.load(); };
    }

private:
    std::atomic<std::int64_t> m_ms{START};
    std::atomic<std::int64_t> m_step{0};
};

struct JournalFile {
    QTemporaryDir folder;
    WallClock clock;
    QString path() const { return folder.filePath(QStringLiteral("Journal.db")); }
    OperatorJournal::Settings settings(JournalStore::Limits limits = {}) {
        return {path(), clock.function(), limits, clock.steady()};
    }
};

const char* const END_NAMES[] = {"waiting",    "Prompt",   "Silence", "Reopened",    "SwitchedOff",
                                 "PortClosed", "PortLost", "NotSent", "ProgramEnded"};

// A record in one line: its time after START, origin and subject; how a command
// ended and whether it went to the line, or why it was refused; then each of
// its lines in brackets.
QString described(const JournalRow& row, const JournalQuery& query) {
    QString text = QStringLiteral("+%1 %2: %3")
                       .arg(row.time - START)
                       .arg(JournalTexts::origin(row), JournalTexts::subject(row));
    if (row.kind == RecordKind::Command)
        text +=
            QStringLiteral(" - %1 %2")
                .arg(QLatin1String(END_NAMES[row.what.value_or(0)]), row.sent ? "sent" : "unsent") +
            (row.stopped ? QStringLiteral(" stopped") : QString()) +
            (row.afterGiveUp ? QStringLiteral(" after-give-up") : QString());
    if (row.kind == RecordKind::Refusal)
        text += QStringLiteral(" - ") + JournalTexts::end(row);
    for (const QString& line : query.lines(row.id, 1000))
        text += QLatin1Char('[') + line + QLatin1Char(']');
    return text;
}

// Every record up to `days` after START.
JournalFilter everything(int days) {
    JournalFilter filter;
    filter.to = START + days * DAY;
    return filter;
}

QStringList records(const QString& path, const QString& device = {}) {
    JournalQuery query(path);
    QStringList all;
    for (const JournalRow& row : query.find(everything(1000), 100000).rows) {
        QString text = described(row, query);
        // A line plugged in again may be another pseudo-terminal than the first.
        const bool pty = device.startsWith(QLatin1String("/dev/pts/"));
        all << (device.isEmpty() ? text
                : pty            ? text.replace(QRegularExpression(QStringLiteral("/dev/pts/\\d+")),
                                                QStringLiteral("<device>"))
                                 : text.replace(device, QStringLiteral("<device>")));
    }
    return all;
}

// The simulated exchange's reply to a command, as the journal holds its lines.
QString reply(const QString& command, int number) {
    return QStringLiteral("[%1][КОМАНДА ВЫПОЛНЕНА][END %2][<]")
        .arg(command)
        .arg(number, 4, 10, QLatin1Char('0'));
}

const QString OPENED = QStringLiteral("+0 Порт: порт открыт: Com1 <device>");
const QString CLOSED = QStringLiteral("+0 Порт: порт закрыт: Com1 <device>");

// The terminal on the simulated exchange, reporting to a journal; driven by
// steps.
struct LineRig : JournalFile {
    OperatorJournal journal{settings()};
    TerminalRig line{journal};
    std::vector<std::shared_ptr<WebCommand>> webReplies;

    bool consoleHas(const QString& text) {
        return QTest::qWaitFor([&] { return line.console.lines.contains(text); });
    }
    bool settled() {
        return QTest::qWaitFor([&] {
            return !line.terminal->dispatcher().commandInProgress() &&
                   line.terminal->queue().count() == 0 && line.terminal->windowMessages().isEmpty();
        });
    }
    bool run(const QString& step) {
        const QString word = step.section(QLatin1Char(' '), 0, 0);
        const QString rest = step.section(QLatin1Char(' '), 1);
        Dispatcher& dispatcher = line.terminal->dispatcher();
        if (word == QLatin1String("open"))
            return line.open();
        if (word == QLatin1String("type"))
            dispatcher.appendConsole(rest.toLatin1());
        else if (word == QLatin1String("button"))
            dispatcher.QueueCommand(rest.toLatin1());
        else if (word == QLatin1String("web")) {
            webReplies.push_back(std::make_shared<WebCommand>());
            dispatcher.appendWeb(rest.section(' ', 1).toLatin1(),
                                 rest.section(' ', 0, 0).toLatin1(), webReplies.back());
        } else if (word == QLatin1String("silent"))
            line.exchange.silenceNext(1);
        else if (word == QLatin1String("cut"))
            line.exchange.breakReplyAfter(0);
        else if (word == QLatin1String("received"))
            return QTest::qWaitFor(
                [&] { return line.exchange.commandsReceived() >= rest.toInt(); });
        else if (word == QLatin1String("console"))
            return consoleHas(rest);
        else if (word == QLatin1String("alarm")) {
            line.exchange.sendUnsolicited(rest.toStdString());
            return consoleHas(rest);
        } else if (word == QLatin1String("wait"))
            return line.replyWait.elapse() &&
                   QTest::qWaitFor([&] { return line.terminal->windowMessages().isEmpty(); });
        else if (word == QLatin1String("answered"))
            return settled();
        else if (word == QLatin1String("close"))
            line.terminal->closePort();
        else if (word == QLatin1String("hangup")) {
            line.exchange.hangUp();
            return QTest::qWaitFor([&] { return line.terminal->lineWaiting(); });
        } else if (word == QLatin1String("return")) { // the line is plugged in again
            if (!line.exchange.reconnect())
                return false;
            qputenv("KORVANT_COM1", QByteArray::fromStdString(line.exchange.linePath()));
            line.lineRetry.elapse();
            return QTest::qWaitFor([&] { return !line.terminal->lineWaiting(); });
        } else if (word == QLatin1String("off")) // as the web server's switch does
            line.terminal->dispatcher().discardWaitingWeb();
        else if (word == QLatin1String("stop"))
            line.terminal->sendStop();
        else if (word == QLatin1String("late")) { // a line of a reply whose command has ended
            line.exchange.sendUnsolicited(rest.toStdString());
            return settled();
        } else if (word == QLatin1String("tick"))
            clock.advance(rest.toLongLong());
        else
            return false;
        return true;
    }
    QStringList written() {
        journal.flush();
        return records(path(), QString::fromStdString(line.exchange.linePath()));
    }
};

// The dispatcher on fakes, reporting to a journal.
struct DispatchRig : JournalFile {
    OperatorJournal journal{settings()};
    DispatcherRig on{journal};
};

// What the journal window's table shows in a column, top to bottom.
QStringList column(const TFormJournal& form, int column) {
    QStringList texts;
    const QAbstractItemModel* model = form.DBGrid1->model();
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->data(model->index(row, column)).toString();
    return texts;
}

// The journal window's search has been answered.
bool searched(const TFormJournal& form) {
    return QTest::qWaitFor([&] { return !form.searching(); });
}

// A command reported as the dispatcher reports it, answered after `ms`.
void answered(OperatorJournal& journal, WallClock& clock, CommandSource origin, const char* address,
              const char* text, const QList<QByteArray>& lines, int ms) {
    const auto record = journal.commandQueued(origin, address, text);
    journal.commandSent(record, false);
    for (const QByteArray& line : lines)
        journal.replyLine(record, line);
    clock.advance(ms);
    journal.commandEnded(record, CommandEnd::Prompt);
}

// Yesterday's command, then today's: two commands, one from the web, a group of
// lines without command, a page button's command, a web command from a second
// address, a refused one.
void prepare(OperatorJournal& journal, WallClock& clock) {
    clock.set(START - DAY + 7 * 3600 * 1000);
    answered(journal, clock, CommandSource::Typed, "", "OLD-CMD", {"OLD"}, 100);
    clock.set(START);
    answered(journal, clock, CommandSource::Typed, "", "RTM-RRT", {"RTM-RRT", "END 0001", "<"},
             250);
    clock.advance(1000);
    answered(journal, clock, CommandSource::Web, "127.0.0.2", "SSD-RSP:2345", {"SSD-RSP:2345", "<"},
             120);
    clock.advance(5000);
    journal.replyLine(0, "ALARM-7 TRUNK DOWN");
    clock.advance(200);
    journal.replyLine(0, "alarm-8 100%");
    clock.advance(5000);
    answered(journal, clock, CommandSource::Button, "", "RTM-KEY", {"RTM-KEY", "<"}, 40);
    answered(journal, clock, CommandSource::Web, "127.0.0.3", "RTM-RRT", {"RTM-RRT", "<"}, 80);
    journal.commandRefused(Refusal::NotPermitted, CommandSource::Web, "127.0.0.3", "ZZZ-ZZZ");
    journal.flush();
}

// The file dialog, answered by the test.
struct Chooser final : SaveFileChooser {
    QString file;
    QString suggested;
    QString chooseFile(QWidget*, const QString& offered) override {
        suggested = offered;
        return file;
    }
};

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// The program in a process of its own (web_process), working in `folder` with COM1 on the
// simulated exchange's line and the command RTM-RRT permitted on the web.
struct Program {
    QProcess process;
    int port = 0;
    QByteArray told; // what a refused start printed

    bool start(const QString& folder, const std::string& line,
               const QProcessEnvironment& display = {}) {
        writeFile(QDir(folder).filePath(QStringLiteral("CommandWeb")), "RTM-RRT\r\n");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("KORVANT_COM1"), QString::fromStdString(line));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(display); // or the display it names
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(folder);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(WEB_PROCESS_PATH), {QStringLiteral("open")});
        while (process.waitForReadyRead(30000) && !process.canReadLine()) {
        }
        const QByteArray first = process.readLine().trimmed();
        port = first.startsWith("port ") ? first.mid(5).toInt() : 0;
        if (port == 0)
            told = first + process.readAll();
        return port > 0;
    }
    // A web user logged in (no password is set) from 127.0.0.7.
    HttpProbe user() const {
        const HttpProbe probe(port, "127.0.0.7");
        probe.get("/");
        probe.get("/");
        return probe;
    }
    // Ends the process with `signal`: how long it took to end, -1 if it did not.
    qint64 end(int signal) {
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(process.processId()), signal);
        return process.waitForFinished(10000) ? clock.elapsed() : -1;
    }
};

// The commands and port events that a journal's file holds, in order, without times:
// "RTM-RRT: Prompt, ended[RTM-RRT][...]", "port 2".
QStringList endings(const QString& path) {
    Sqlite::Connection db;
    if (db.open(path, true) != SQLITE_OK)
        return {QStringLiteral("no file")};
    const JournalQuery query(path);
    Sqlite::Statement rows(db, "SELECT id, kind, text, what, ended FROM records "
                               "WHERE kind IN (1, 5) ORDER BY id");
    QStringList found;
    while (rows.step() == SQLITE_ROW) {
        if (rows.integer(1) == int(RecordKind::Port)) {
            found << QStringLiteral("port %1").arg(rows.integer(3));
            continue;
        }
        QString text = rows.text(2) + QStringLiteral(": ") +
                       QLatin1String(END_NAMES[rows.isNull(3) ? 0 : rows.integer(3)]);
        if (!rows.isNull(4))
            text += QStringLiteral(", ended");
        for (const QString& line : query.lines(rows.integer(0), 100))
            text += QLatin1Char('[') + line + QLatin1Char(']');
        found << text;
    }
    return found;
}

// A command on the line that the exchange does not answer: recorded as sent, not ended.
const QString ON_THE_LINE = QStringLiteral("RTM-RRT: waiting");
} // namespace

class TestJournal : public QObject {
    Q_OBJECT
private slots:
    void commandRecords_data();
    void commandRecords();
    void refusalsAndWebEvents_data();
    void refusalsAndWebEvents();
    void typedCommandWithoutPortIsRecorded();
    void reportsFromManyThreads();
    void refusalsAreSummed_data();
    void refusalsAreSummed();
    void refusalSumsAreBounded();
    void refusalFloodIsSummed_data();
    void refusalFloodIsSummed();
    void reportsArePackedWhole_data();
    void reportsArePackedWhole();
    void burstIsStampedOnceAndQueuedWhole();
    void overflowIsCountedAndRecorded();
    void heldFileIsWaitedOut_data();
    void heldFileIsWaitedOut();
    void faults_data();
    void faults();
    void killDuringFlood();
    void oneProgramPerFolder_data();
    void oneProgramPerFolder();
    void everyEndSavesTheJournal_data();
    void everyEndSavesTheJournal();
    void earlierVersionIsTaken_data();
    void earlierVersionIsTaken();
    void earlierVersionIsIndexed_data();
    void earlierVersionIsIndexed();
    void journalEnds_data();
    void journalEnds();
    void pruneByAge_data();
    void pruneByAge();
    void pruneByAWrongClock_data();
    void pruneByAWrongClock();
    void pruneBySize();
    void windowFilters_data();
    void windowFilters();
    void windowShowsTheNewestWhenMoreMatch();
    void windowExport();
    void exportSparesTheJournal_data();
    void exportSparesTheJournal();
    void exportStopsWhenTheProgramEnds();
    void windowFollowsTheDay_data();
    void windowFollowsTheDay();
    void durations_data();
    void durations();
    void newerSearchReplacesOlder_data();
    void newerSearchReplacesOlder();
    void textSearchWithAndWithoutIndex_data();
    void textSearchWithAndWithoutIndex();
};

void TestJournal::commandRecords_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("prompt") << QStringList{"open", "type RTM-RRT", "answered"}
                            << QStringList{OPENED,
                                           "+0 Пульт: RTM-RRT - Prompt sent" + reply("RTM-RRT", 1)};
    QTest::newRow("a page button's command")
        << QStringList{"open", "button RTM-RRT", "answered"}
        << QStringList{OPENED, "+0 Пульт, кнопка: RTM-RRT - Prompt sent" + reply("RTM-RRT", 1)};
    QTest::newRow("silence: the wait's empty line")
        << QStringList{"open", "silent", "type A-B", "received 1", "wait", "answered"}
        << QStringList{OPENED, "+0 Пульт: A-B - Silence sent[]"};
    QTest::newRow("a reply cut off, then silence")
        << QStringList{"open", "cut", "type C-D", "console END 0001", "wait", "answered"}
        << QStringList{OPENED, "+0 Пульт: C-D - Silence sent[C-D][КОМАНДА "
                               "ВЫПОЛНЕНА][END 0001][]"};
    QTest::newRow("port closed while awaited; the wait runs on")
        << QStringList{"open", "silent", "type A-B", "received 1", "close", "wait", "answered"}
        << QStringList{OPENED, "+0 Пульт: A-B - PortClosed sent[]", CLOSED};
    QTest::newRow("line lost while awaited: ended at once, the next waits, then closed")
        << QStringList{"open", "silent", "type A-B", "type C-D", "received 1", "hangup", "close"}
        << QStringList{OPENED, "+0 Пульт: A-B - PortLost sent", "+0 Пульт: C-D - NotSent unsent",
                       "+0 Порт: связь потеряна: Com1 <device>", CLOSED};
    QTest::newRow("line back: the command that waited goes out on it")
        << QStringList{"open",       "silent", "type A-B", "type C-D",
                       "received 1", "hangup", "return",   "answered"}
        << QStringList{OPENED, "+0 Пульт: A-B - PortLost sent",
                       "+0 Пульт: C-D - Prompt sent" + reply("C-D", 2),
                       "+0 Порт: связь потеряна: Com1 <device>",
                       "+0 Порт: связь восстановлена: Com1 <device>"};
    QTest::newRow("reopened: the queued entry thrown away")
        << QStringList{"open", "silent", "type A-B", "type C-D", "received 1", "close", "open"}
        << QStringList{OPENED, "+0 Пульт: A-B - PortClosed sent", "+0 Пульт: C-D - Reopened unsent",
                       CLOSED, OPENED};
    QTest::newRow("its turn came with no port open")
        << QStringList{"open",  "silent", "type A-B", "type C-D", "received 1",
                       "close", "wait",   "wait",     "answered"}
        << QStringList{OPENED, "+0 Пульт: A-B - PortClosed sent[]",
                       "+0 Пульт: C-D - NotSent unsent[]", CLOSED};
    QTest::newRow("web entry released at switch-off; later lines still its own")
        << QStringList{"open", "silent",  "web 127.0.0.2 RTM-RRT", "received 1", "off",
                       "wait", "answered"}
        << QStringList{OPENED, "+0 Web 127.0.0.2: RTM-RRT - SwitchedOff sent[]"};
    QTest::newRow("web command on the line at switch-off: its prompt does not make it answered")
        << QStringList{"open", "silent", "web 127.0.0.2 RTM-RRT", "received 1", "off", "late <"}
        << QStringList{OPENED, "+0 Web 127.0.0.2: RTM-RRT - SwitchedOff sent[<]"};
    QTest::newRow("STOP during a command: in its record and one of its own")
        << QStringList{"open", "silent", "type A-B", "received 1", "stop", "wait", "answered"}
        << QStringList{OPENED, "+0 Пульт: A-B - Silence sent stopped[]",
                       "+0 Порт: послан STOP: Com1 <device>"};
    QTest::newRow("STOP with no command")
        << QStringList{"open", "stop"}
        << QStringList{OPENED, "+0 Порт: послан STOP: Com1 <device>"};
    QTest::newRow("the command written after a give-up is marked")
        << QStringList{"open", "silent", "type A-B", "type C-D", "received 1", "wait", "answered"}
        << QStringList{OPENED, "+0 Пульт: A-B - Silence sent[]",
                       "+0 Пульт: C-D - Prompt sent after-give-up" + reply("C-D", 2)};
    QTest::newRow("a late prompt after a give-up: the next command is not marked")
        << QStringList{"open",     "silent",  "type A-B", "received 1", "wait",
                       "answered", "alarm <", "type C-D", "answered"}
        << QStringList{OPENED, "+0 Пульт: A-B - Silence sent[]", "+0 Без команды: <[<]",
                       "+0 Пульт: C-D - Prompt sent" + reply("C-D", 2)};
    QTest::newRow("web commands from two addresses, each with its own reply")
        << QStringList{"open", "web 127.0.0.2 ONE-ONE", "web 127.0.0.3 TWO-TWO", "answered"}
        << QStringList{OPENED, "+0 Web 127.0.0.2: ONE-ONE - Prompt sent" + reply("ONE-ONE", 1),
                       "+0 Web 127.0.0.3: TWO-TWO - Prompt sent" + reply("TWO-TWO", 2)};
    QTest::newRow("alarms close together are one record")
        << QStringList{"open", "alarm ALARM 1", "tick 900", "alarm ALARM 2"}
        << QStringList{OPENED, "+0 Без команды: ALARM 1[ALARM 1][ALARM 2]"};
    QTest::newRow("a pause between alarms parts them")
        << QStringList{"open", "alarm ALARM 1", "tick 1001", "alarm ALARM 2"}
        << QStringList{OPENED, "+0 Без команды: ALARM 1[ALARM 1]",
                       "+1001 Без команды: ALARM 2[ALARM 2]"};
    QTest::newRow("a minute's end parts alarms: a record's time bounds its lines")
        << QStringList{"open", "tick 59500", "alarm ALARM 1", "tick 900", "alarm ALARM 2"}
        << QStringList{OPENED, "+59500 Без команды: ALARM 1[ALARM 1]",
                       "+60400 Без команды: ALARM 2[ALARM 2]"};
    QTest::newRow("a command between alarms parts them")
        << QStringList{"open", "alarm ALARM 1", "type RTM-RRT", "answered", "alarm ALARM 2"}
        << QStringList{OPENED, "+0 Без команды: ALARM 1[ALARM 1]",
                       "+0 Пульт: RTM-RRT - Prompt sent" + reply("RTM-RRT", 1),
                       "+0 Без команды: ALARM 2[ALARM 2]"};
    QTest::newRow("an alarm during a reply is in the reply, as the console shows it")
        << QStringList{"open",          "silent", "type A-B", "received 1",
                       "alarm ALARM 3", "wait",   "answered"}
        << QStringList{OPENED, "+0 Пульт: A-B - Silence sent[ALARM 3][]"};
}

void TestJournal::commandRecords() {
    QFETCH(QStringList, steps);
    QFETCH(QStringList, expected);
    LineRig rig;
    for (const QString& step : steps)
        QVERIFY2(rig.run(step), qPrintable(step));
    QCOMPARE(rig.written(), expected);
}

void TestJournal::refusalsAndWebEvents_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("expected");
    QTest::newRow("queue full, typed") << "fill console EXTRA"
                                       << "+0 Пульт: EXTRA - отказ: очередь заполнена";
    QTest::newRow("queue full, web") << "fill web EXTRA"
                                     << "+0 Web 127.0.0.9: EXTRA - отказ: очередь заполнена";
    QTest::newRow("queue full, page button")
        << "fill button EXTRA"
        << "+0 Пульт, кнопка: EXTRA - отказ: очередь заполнена";
    QTest::newRow("port not open, page button")
        << "noport button"
        << "+0 Пульт, кнопка: EXTRA - отказ: порт не открыт";
    const QList<std::pair<Refusal, QString>> refusals{
        {Refusal::NotPermitted, "отказ: команда не разрешена"},
        {Refusal::CrossSite, "отказ: запрос с чужого сайта"},
        {Refusal::Host, "отказ: чужое имя сервера"},
        {Refusal::ShareFull, "отказ: доля очереди пользователя заполнена"}};
    for (const auto& [why, text] : refusals)
        QTest::newRow(qPrintable(text))
            << QStringLiteral("refuse %1").arg(int(why)) << "+0 Web 127.0.0.9: EXTRA - " + text;
    const QList<std::pair<WebEvent, QString>> events{
        {WebEvent::Admitted, "подключение"},
        {WebEvent::LoggedIn, "вход"},
        {WebEvent::WrongPassword, "неверный пароль"},
        {WebEvent::SlotExpired, "место освобождено по времени"}};
    for (const auto& [event, text] : events)
        QTest::newRow(qPrintable(text))
            << QStringLiteral("event %1").arg(int(event)) << "+0 Web 127.0.0.9: " + text;
    QTest::newRow("server on") << "server 5"
                               << "+0 Web: сервер Web включён";
    QTest::newRow("server off") << "server 6"
                                << "+0 Web: сервер Web выключен";
}

// A refused command is recorded once, as refused and never as queued; an event
// names its address and nothing more.
void TestJournal::refusalsAndWebEvents() {
    QFETCH(QString, action);
    QFETCH(QString, expected);
    DispatchRig rig;
    rig.on.port.open = 1;
    const QStringList words = action.split(QLatin1Char(' '));
    if (words[0] == QLatin1String("fill")) {
        for (int i = 0; i < CommandQueue::CAPACITY; ++i)
            rig.on.dispatcher.appendConsole("FILL");
        if (words[1] == QLatin1String("console"))
            QCOMPARE(rig.on.dispatcher.appendConsole("EXTRA"), Dispatcher::Append::QueueFull);
        else if (words[1] == QLatin1String("button"))
            rig.on.dispatcher.QueueCommand("EXTRA");
        else
            QCOMPARE(
                rig.on.dispatcher.appendWeb("EXTRA", "127.0.0.9", std::make_shared<WebCommand>()),
                Dispatcher::Append::QueueFull);
    } else if (action == QLatin1String("noport button")) {
        rig.on.port.open = 0;
        rig.on.dispatcher.QueueCommand("EXTRA");
    } else if (words[0] == QLatin1String("refuse")) {
        rig.journal.commandRefused(Refusal(words[1].toInt()), CommandSource::Web, "127.0.0.9",
                                   "EXTRA");
    } else {
        rig.journal.webEvent(WebEvent(words[1].toInt()),
                             words[0] == QLatin1String("event") ? "127.0.0.9" : "");
    }
    rig.journal.flush();
    const QStringList all = records(rig.path()).filter(QRegularExpression("^(?!.*FILL)"));
    QCOMPARE(all, QStringList{expected});
}

// Web requests report from their own threads while the window thread reports
// lines.
void TestJournal::reportsFromManyThreads() {
    JournalFile file;
    OperatorJournal journal(file.settings());
    constexpr int THREADS = 4;
    constexpr int EACH = 500;
    std::vector<std::thread> users;
    for (int t = 0; t < THREADS; ++t)
        users.emplace_back([&, t] {
            const QByteArray address = "127.0.0." + QByteArray::number(t + 2);
            for (int i = 0; i < EACH; ++i) {
                journal.webEvent(WebEvent::Admitted, address);
                journal.commandRefused(Refusal::NotPermitted, CommandSource::Web, address, "X");
            }
        });
    for (int i = 0; i < EACH; ++i)
        journal.replyLine(0, "LINE");
    for (auto& user : users)
        user.join();
    journal.flush();
    Sqlite::Connection db;
    QCOMPARE(db.open(file.path(), true), SQLITE_OK);
    QCOMPARE(int(db.integer("SELECT count(*) FROM records WHERE kind IN (3, 4)")),
             2 * THREADS * EACH);
    QCOMPARE(int(db.integer("SELECT count(*) FROM records WHERE kind = 4 AND "
                            "address = '127.0.0.5'")),
             EACH);
    QCOMPARE(int(db.integer("SELECT count(*) FROM lines")), EACH);
}

void TestJournal::refusalsAreSummed_data() {
    // "R address reason at": a refusal, at once ("now") or summed; "T at": the sums due then,
    // "E at": every sum, as at the program's end: "address reason count first-last".
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("outcomes");
    QTest::newRow("the first at once, the period's others in one sum")
        << QStringList{"R A 5 0", "R A 5 10", "R A 5 59999", "T 59999", "T 60000"}
        << QStringList{"now", "summed", "summed", "", "A 5 2 10-59999"};
    QTest::newRow("a sum for each period with refusals; a quiet one ends them")
        << QStringList{"R A 5 0",  "R A 5 30000", "T 60000",     "R A 5 90000",
                       "T 120000", "T 180000",    "R A 5 190000"}
        << QStringList{"now", "summed", "A 5 1 30000-30000", "summed", "A 5 1 90000-90000",
                       "",    "now"};
    QTest::newRow("each address and reason apart")
        << QStringList{"R A 5 0", "R B 5 0", "R A 4 0", "R A 5 1", "R B 8 2", "T 60000"}
        << QStringList{"now", "now", "now", "summed", "now", "A 5 1 1-1"};
    QTest::newRow("every sum at the end") << QStringList{"R A 5 0", "R A 5 5", "R B 4 7", "E 10"}
                                          << QStringList{"now", "summed", "now", "A 5 1 5-5"};
}

// Refusals summed per address and reason, and per period of the steady clock.
void TestJournal::refusalsAreSummed() {
    QFETCH(QStringList, steps);
    QFETCH(QStringList, outcomes);
    RefusalSums sums;
    QStringList found;
    for (const QString& step : steps) {
        const QStringList words = step.split(QLatin1Char(' '));
        if (words[0] == QLatin1String("R")) {
            const std::int64_t at = words[3].toLongLong();
            const bool now =
                sums.count(Refusal(words[2].toInt()), words[1].toLatin1(), START + at, at);
            found << (now ? "now" : "summed");
            continue;
        }
        QStringList due;
        for (const RefusalSums::Sum& sum :
             sums.takeDue(words[1].toLongLong(), words[0] == QLatin1String("E")))
            due << QStringLiteral("%1 %2 %3 %4-%5")
                       .arg(QString::fromLatin1(sum.address))
                       .arg(int(sum.why))
                       .arg(sum.count)
                       .arg(sum.first - START)
                       .arg(sum.last - START);
        found << due.join(QLatin1Char(';'));
    }
    QCOMPARE(found, outcomes);
}

// More addresses than are summed at once: those beyond are summed under no address, the
// sums do not grow past their bound, and every refusal is counted.
void TestJournal::refusalSumsAreBounded() {
    constexpr int ADDRESSES = 2 * int(RefusalSums::MAX_SOURCES);
    constexpr int EACH = 3;
    RefusalSums sums;
    int atOnce = 0;
    std::size_t most = 0;
    for (int i = 0; i < EACH; ++i)
        for (int a = 0; a < ADDRESSES; ++a) {
            atOnce += sums.count(Refusal::Host, "10.1." + QByteArray::number(a), START, 0) ? 1 : 0;
            most = std::max(most, sums.sources());
        }
    QCOMPARE(most, RefusalSums::MAX_SOURCES + 1);
    QCOMPARE(atOnce, int(RefusalSums::MAX_SOURCES) + 1);
    std::uint64_t summed = 0;
    for (const RefusalSums::Sum& sum : sums.takeDue(0, true))
        summed += sum.count;
    QCOMPARE(int(summed) + atOnce, ADDRESSES * EACH);
}

void TestJournal::refusalFloodIsSummed_data() {
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<int>("why");
    QTest::addColumn<bool>("programEnds"); // or a minute passes
    QTest::newRow("a foreign Host")
        << QByteArray("/") << QByteArray("Host: evil.example\r\n") << int(Refusal::Host) << true;
    QTest::newRow("another site's page")
        << QByteArray("/?Command=RTM-RRT") << QByteArray("Sec-Fetch-Site: cross-site\r\n")
        << int(Refusal::CrossSite) << false;
    QTest::newRow("every place taken")
        << QByteArray("/") << QByteArray() << int(Refusal::PlacesFull) << false;
}

// 2 000 refused requests from one address that holds no place: one record at once, and
// one with the count of the rest once their minute is over or the program ends.
void TestJournal::refusalFloodIsSummed() {
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, headers);
    QFETCH(int, why);
    QFETCH(bool, programEnds);
    constexpr int REQUESTS = 2000;
    JournalFile file;
    Vars vars;
    RecordingMessages messages;
    auto station = std::make_unique<Station>(
        vars, messages,
        Station::Settings{
            std::make_unique<FakeSerialDevice>(), file.folder.path(), {}, file.settings()});
    OperatorJournal* journal = station->journal();
    {
        ProgramWindows windows(*station, messages, file.folder.path());
        const int port = windows.formWeb.service().port();
        if (why == int(Refusal::PlacesFull)) {
            for (int place = 2; place <= 5; ++place)
                HttpProbe(port, "127.0.0." + QByteArray::number(place)).get("/");
            QCOMPARE(windows.formWeb.service().webSlots().ConnectionCount(), 4);
        }
        const HttpProbe attacker(port, "127.0.0.66");
        for (int i = 0; i < REQUESTS; ++i)
            QVERIFY(attacker.request("GET", target, {}, {}, headers).status != 0);
    }
    journal->flush();
    const auto recorded = [&] {
        Sqlite::Connection db;
        db.open(file.path(), true);
        Sqlite::Statement rows(db, "SELECT kind, what, text FROM records "
                                   "WHERE address = '127.0.0.66' ORDER BY id");
        QStringList found;
        while (rows.step() == SQLITE_ROW)
            found << QStringLiteral("%1 %2 %3")
                         .arg(rows.integer(0))
                         .arg(rows.integer(1))
                         .arg(rows.text(2));
        return found;
    };
    const QString first = QStringLiteral("3 %1 ").arg(why) +
                          (why == int(Refusal::Host) ? QStringLiteral("evil.example") : QString());
    QCOMPARE(recorded(), QStringList{first});
    if (programEnds) {
        station.reset();
    } else {
        file.clock.advance(RefusalSums::PERIOD_MS);
        journal->replyLine(0, "WAKE");
        journal->flush();
    }
    QCOMPARE(recorded(),
             (QStringList{first, QStringLiteral("7 %1 %2").arg(why).arg(REQUESTS - 1)}));
}

// The command line's execute with no port open: refused as typed, never queued.
void TestJournal::typedCommandWithoutPortIsRecorded() {
    JournalFile file;
    {
        Vars vars;
        RecordingMessages messages;
        Station station(
            vars, messages,
            {std::make_unique<FakeSerialDevice>(), file.folder.path(), {}, file.settings()});
        TForm1 form1(station, messages);
        form1.ComboBox1->setEditText(QStringLiteral("EXTRA"));
        form1.BitBtn1Click();
    }
    QCOMPARE(records(file.path()), QStringList{"+0 Пульт: EXTRA - отказ: порт не открыт"});
}

void TestJournal::reportsArePackedWhole_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("address");
    QTest::newRow("no texts") << QByteArray() << QByteArray();
    QTest::newRow("a line, cp1251") << QByteArray("\xCA\xCE\xCC\xC0\xCD\xC4\xC0 1") << QByteArray();
    QTest::newRow("a command and its address") << QByteArray("RTM-RRT") << QByteArray("10.0.0.7");
    QTest::newRow("a line cut at 80") << QByteArray(200, 'L') << QByteArray();
    QTest::newRow("an address cut at 45") << QByteArray("A") << QByteArray(60, '7');
}

// Reports of every size come out of their room as they went in, texts cut at the
// terminal's own lengths, in order; a report that does not fit is refused whole.
void TestJournal::reportsArePackedWhole() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, address);
    const JournalReport report{
        JournalReport::Kind::Queued, 7, CommandSource::Web, 1765000000123, 42, text, address};
    constexpr int FITTING = 3;
    JournalReports room(FITTING * JournalReports::bytesOf(report) + 1);
    for (int i = 0; i < FITTING; ++i)
        QVERIFY(room.append(report));
    const std::size_t used = room.bytes();
    QVERIFY(!room.append(report));
    QCOMPARE(room.bytes(), used);
    JournalReports moved(used);
    moved.appendAll(room);
    QCOMPARE(int(moved.size()), FITTING);
    for (const JournalReport out : moved) {
        QCOMPARE(out.kind, report.kind);
        QCOMPARE(out.what, report.what);
        QCOMPARE(out.source, report.source);
        QCOMPARE(out.time, report.time);
        QCOMPARE(out.command, report.command);
        QCOMPARE(out.text.toByteArray(), text.left(int(JournalReports::TEXT_BYTES)));
        QCOMPARE(out.address.toByteArray(), address.left(int(JournalReports::ADDRESS_BYTES)));
    }
}

// A burst's reports carry the time it began and reach the file in order, none lost even
// beyond BURST_BYTES; another thread's report meanwhile goes in with its own time, and a
// burst begun within one under way is none.
void TestJournal::burstIsStampedOnceAndQueuedWhole() {
    JournalFile file;
    OperatorJournal journal(file.settings());
    JournalReport line;
    line.text = "BURST 000000";
    const int lines = int(OperatorJournal::BURST_BYTES / JournalReports::bytesOf(line)) + 10;
    QVERIFY(journal.beginBurst());
    QVERIFY(!journal.beginBurst());
    for (int i = 0; i < lines; ++i) {
        file.clock.advance(1);
        journal.replyLine(0, "BURST " + QByteArray::number(i).rightJustified(6, '0'));
    }
    std::thread([&] { journal.webEvent(WebEvent::LoggedIn, "10.0.0.9"); }).join();
    journal.endBurst();
    journal.flush();
    Sqlite::Connection db;
    QCOMPARE(db.open(file.path(), true), SQLITE_OK);
    QCOMPARE(
        int(db.integer("SELECT count(*) FROM lines WHERE time = " + QByteArray::number(START))),
        lines);
    Sqlite::Statement texts(db, "SELECT text FROM lines ORDER BY record, number");
    for (int i = 0; i < lines; ++i) {
        QCOMPARE(texts.step(), SQLITE_ROW);
        QCOMPARE(texts.text(0), QStringLiteral("BURST %1").arg(i, 6, 10, QLatin1Char('0')));
    }
    QCOMPARE(db.integer("SELECT time FROM records WHERE kind = 4"), START + lines);
}

// While the file is held by another program, the queue holds QUEUE_BYTES of
// reports and no more; the rest are counted, and the count is written once the
// file is free again.
void TestJournal::overflowIsCountedAndRecorded() {
    JournalFile file;
    OperatorJournal journal(file.settings());
    journal.replyLine(0, "OPENED");
    journal.flush();
    Sqlite::Connection blocker;
    QCOMPARE(blocker.open(file.path(), false), SQLITE_OK);
    QCOMPARE(blocker.exec("BEGIN IMMEDIATE"), SQLITE_OK);
    journal.replyLine(0, "TAKEN");
    QTRY_COMPARE(journal.waitingReports(),
                 std::size_t(0)); // the writer waits on the file
    QVERIFY2(journal.isRecording(), qPrintable(journal.problem()));
    JournalReport held;
    held.text = "HELD";
    const std::size_t fitting = OperatorJournal::QUEUE_BYTES / JournalReports::bytesOf(held);
    constexpr std::size_t BEYOND = 100;
    for (std::size_t i = 0; i < fitting + BEYOND; ++i)
        journal.replyLine(0, "HELD");
    QCOMPARE(journal.waitingReports(), fitting);
    QCOMPARE(blocker.exec("COMMIT"), SQLITE_OK);
    blocker.close();
    journal.flush();
    QVERIFY2(journal.isRecording(), qPrintable(journal.problem()));
    Sqlite::Connection db;
    QCOMPARE(db.open(file.path(), true), SQLITE_OK);
    QCOMPARE(db.integer("SELECT count(*) FROM lines WHERE text = 'HELD'"), std::int64_t(fitting));
    QCOMPARE(db.integer("SELECT text FROM records WHERE kind = 6"), std::int64_t(BEYOND));
}

void TestJournal::heldFileIsWaitedOut_data() {
    QTest::addColumn<QString>("when");
    QTest::newRow("held at the opening") << "opening";
    QTest::newRow("held while writing") << "writing";
    QTest::newRow("held when the program ends") << "ending";
}

// Another program that holds the file's write lock far longer than one try's wait stops
// nothing: the reports made meanwhile wait and are all written once it lets go. At the end
// of the program a held file is given up after a try, and the file stays whole.
void TestJournal::heldFileIsWaitedOut() {
    QFETCH(QString, when);
    constexpr int LINES = 1000;
    JournalFile file;
    JournalStore::Limits limits;
    limits.busyWaitMs = 20;
    Sqlite::Connection blocker;
    const auto hold = [&] {
        return blocker.open(file.path(), false) == SQLITE_OK &&
               blocker.exec("BEGIN IMMEDIATE") == SQLITE_OK;
    };
    if (when == QLatin1String("opening")) {
        OperatorJournal(file.settings(limits)).replyLine(0, "BEFORE");
        QVERIFY(hold());
    }
    auto journal = std::make_unique<OperatorJournal>(file.settings(limits));
    if (when != QLatin1String("opening")) {
        journal->replyLine(0, "BEFORE");
        journal->flush();
        QVERIFY(hold());
    }
    for (int i = 0; i < LINES; ++i)
        journal->replyLine(0, "HELD " + QByteArray::number(i));
    if (when != QLatin1String("opening")) // the writer has the batch in hand
        QTRY_COMPARE(journal->waitingReports(), std::size_t(0));
    QTest::qWait(10 * limits.busyWaitMs); // many tries' waits
    QVERIFY2(journal->isRecording(), qPrintable(journal->problem()));
    if (when == QLatin1String("ending")) {
        QElapsedTimer ending;
        ending.start();
        journal.reset();
        QCOMPARE_LT(ending.elapsed(), 1000);
    }
    QCOMPARE(blocker.exec("COMMIT"), SQLITE_OK);
    blocker.close();
    const int expected = when == QLatin1String("ending") ? 0 : LINES;
    if (journal)
        journal->flush();
    Sqlite::Connection db;
    QCOMPARE(db.open(file.path(), true), SQLITE_OK);
    Sqlite::Statement check(db, "PRAGMA integrity_check");
    QCOMPARE(check.step(), SQLITE_ROW);
    QCOMPARE(check.text(0), QStringLiteral("ok"));
    QCOMPARE(int(db.integer("SELECT count(*) FROM lines WHERE text = 'BEFORE'")), 1);
    QCOMPARE(int(db.integer("SELECT count(*) FROM lines WHERE text LIKE 'HELD %'")), expected);
    QCOMPARE(int(db.integer("SELECT count(*) FROM records WHERE kind = 6")), 0); // none lost
}

void TestJournal::faults_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("recording");
    QTest::newRow("read-only folder") << "read-only" << false;
    QTest::newRow("a file that is not a database") << "garbage" << true;
    QTest::newRow("another program's database") << "foreign" << true;
    QTest::newRow("a journal of a later version") << "newer" << false;
    QTest::newRow("full disk") << "full" << false;
}

// Each fault is told once, naming the file; a damaged file is kept aside,
// whole, and a new journal begun; a file that cannot be kept stops the journal,
// its window says so, and the terminal goes on.
void TestJournal::faults() {
    QFETCH(QString, fault);
    QFETCH(bool, recording);
    JournalFile file;
    QString path = file.path();
    JournalStore::Limits limits;
    if (fault == QLatin1String("read-only")) {
        // Root writes into any folder whatever its permissions, but not into /proc.
        const QString folder = file.folder.filePath(QStringLiteral("locked"));
        QVERIFY(QDir().mkdir(folder) && ::chmod(QFile::encodeName(folder), 0555) == 0);
        path = ::geteuid() == 0 ? QStringLiteral("/proc/korvant-journal/Journal.db")
                                : folder + QStringLiteral("/Journal.db");
    } else if (fault == QLatin1String("garbage")) {
        QVERIFY(writeFile(path, QByteArray(5000, '\x5a') + "this is not a database"));
    } else if (fault == QLatin1String("foreign") || fault == QLatin1String("newer")) {
        Sqlite::Connection other;
        QCOMPARE(other.open(path, false), SQLITE_OK);
        QCOMPARE(other.exec(fault == QLatin1String("newer") ? "PRAGMA user_version = 99"
                                                            : "CREATE TABLE other(x)"),
                 SQLITE_OK);
    } else {
        limits.maxPages = 16;
    }
    const QByteArray before = fileBytes(path);

    Vars vars;
    RecordingMessages messages;
    Station station(vars, messages,
                    {std::make_unique<FakeSerialDevice>(),
                     file.folder.path(),
                     {},
                     OperatorJournal::Settings{path, file.clock.function(), limits}});
    OperatorJournal& journal = *station.journal();
    ProgramWindows windows(station, messages, file.folder.path());
    for (int i = 0; i < 5000; ++i)
        journal.replyLine(0, QByteArray("LINE ") + QByteArray::number(i));
    journal.flush();
    QTRY_COMPARE(messages.shown.size(), 1);
    QCOMPARE(journal.isRecording(), recording);
    QVERIFY2(messages.shown[0].startsWith(recording ? "failure:Файл журнала " + path
                                                    : "failure:Журнал не ведётся: " + path),
             qPrintable(messages.shown[0]));
    windows.form1.Journal1Click();
    QCOMPARE(windows.formJournal->Label6->text().startsWith(QStringLiteral("Журнал не ведётся: ")),
             !recording);
    // The terminal goes on, and nothing more is told.
    QVERIFY(windows.form1.terminal().OpenComPort(QStringLiteral("Com1"), 1));
    windows.form1.terminal().dispatcher().QueueCommand("RTM-RRT");
    journal.flush();
    QTest::qWait(20);
    QCOMPARE(messages.shown.size(), 1);

    const QString aside = path + QStringLiteral(".damaged-2024-12-09");
    if (recording) {
        QCOMPARE(fileBytes(aside), before);
        JournalQuery query(path);
        QCOMPARE(query.find(everything(1), 10).rows.size(),
                 std::size_t(4)); // lines, the web server on, port, command
    } else {
        QVERIFY(!QFile::exists(aside));
        if (fault == QLatin1String("newer"))
            QCOMPARE(fileBytes(path), before);
    }
    if (fault == QLatin1String("full")) {
        Sqlite::Connection db;
        QCOMPARE(db.open(path, true), SQLITE_OK);
        Sqlite::Statement check(db, "PRAGMA integrity_check");
        QCOMPARE(check.step(), SQLITE_ROW);
        QCOMPARE(check.text(0), QStringLiteral("ok"));
    }
}

// What a kill may lose: the last second of records. Under a sanitizer the journal's thread
// runs several times slower than the flood's, so the margin is wider there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr qint64 LOSS_MS = 2000;
#else
constexpr qint64 LOSS_MS = 1000;
#endif

// A separate process floods the journal and is killed in the middle: the file
// is whole, and holds the flood's lines without a gap, at least as far as had
// arrived LOSS_MS before.
void TestJournal::killDuringFlood() {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Journal.db"));
    QProcess child;
    child.start(QStringLiteral(JOURNAL_FLOOD_PATH), {path});
    QVERIFY(child.waitForStarted());
    QElapsedTimer clock;
    clock.start();
    std::vector<std::pair<qint64, long long>> arrived;         // (when, how many lines)
    while (arrived.empty() || arrived.back().second < 90000) { // near the flood's end
        QVERIFY2(child.waitForReadyRead(20000), "the flood stopped");
        while (child.canReadLine())
            arrived.emplace_back(clock.elapsed(), child.readLine().trimmed().toLongLong());
    }
    const qint64 killedAt = clock.elapsed();
    ::kill(pid_t(child.processId()), SIGKILL);
    QVERIFY(child.waitForFinished());
    long long secondBefore = 0;
    for (const auto& [when, count] : arrived)
        if (when <= killedAt - LOSS_MS)
            secondBefore = count;

    Sqlite::Connection db;
    QCOMPARE(db.open(path, false), SQLITE_OK);
    Sqlite::Statement check(db, "PRAGMA integrity_check");
    QCOMPARE(check.step(), SQLITE_ROW);
    QCOMPARE(check.text(0), QStringLiteral("ok"));
    Sqlite::Statement lines(db, "SELECT text FROM lines ORDER BY record, number");
    long long kept = 0;
    while (lines.step() == SQLITE_ROW) {
        const QString expected = QStringLiteral("FLOOD %1 ABCDEFGHIJKLMNOPQRSTUVWXYZ")
                                     .arg(kept + 1, 7, 10, QLatin1Char('0'));
        QCOMPARE(lines.text(0), expected);
        ++kept;
    }
    QVERIFY2(secondBefore > 0 && kept >= secondBefore,
             qPrintable(QStringLiteral("%1 lines kept, %2 had arrived a second before the kill")
                            .arg(kept)
                            .arg(secondBefore)));
}

void TestJournal::oneProgramPerFolder_data() {
    QTest::addColumn<QString>("first"); // how the first program is when the second starts
    QTest::addColumn<bool>("sameFolder");
    QTest::addColumn<bool>("secondRuns");
    QTest::newRow("a second start in the same folder") << "running" << true << false;
    QTest::newRow("a start in another folder") << "running" << false << true;
    QTest::newRow("the same folder after a kill") << "killed" << true << true;
}

// The first program has a command on the line, unfinished in its journal. A second start
// in its folder is refused, says so, and leaves the journal alone; another folder, or the
// lock of a program that was killed, stops nothing.
void TestJournal::oneProgramPerFolder() {
    QFETCH(QString, first);
    QFETCH(bool, sameFolder);
    QFETCH(bool, secondRuns);
    sim::SimulatedExchange exchange;
    sim::SimulatedExchange secondLine; // each program has a line of its own
    QVERIFY(exchange.start() && secondLine.start());
    QTemporaryDir folder;
    QTemporaryDir otherFolder;
    const QString path = folder.filePath(QStringLiteral("Journal.db"));
    Program one;
    QVERIFY(one.start(folder.path(), exchange.linePath()));
    exchange.silenceNext(1);
    const int waiting = one.user().send("POST", "/", "Command=RTM-RRT");
    QTRY_VERIFY(endings(path).contains(ON_THE_LINE));
    if (first == QLatin1String("killed"))
        QCOMPARE_GE(one.end(SIGKILL), 0);
    const QStringList before = endings(path);
    Program two;
    QCOMPARE(two.start(sameFolder ? folder.path() : otherFolder.path(), secondLine.linePath()),
             secondRuns);
    if (!secondRuns) {
        QVERIFY(two.process.waitForFinished(10000));
        QCOMPARE(two.process.exitCode(), 3);
        QVERIFY2(
            two.told.contains("KORVANT уже запущен в папке " + QFile::encodeName(folder.path())),
            two.told.constData());
        QCOMPARE(endings(path), before);
    } else {
        QCOMPARE_GE(two.end(SIGTERM), 0);
    }
    if (first == QLatin1String("running")) {
        QCOMPARE_GE(one.end(SIGTERM), 0);
        QCOMPARE(endings(path).filter(QStringLiteral("RTM-RRT")),
                 QStringList{"RTM-RRT: PortClosed, ended"});
    } else { // the second program ended what the killed one left open
        QCOMPARE(endings(path).filter(QStringLiteral("RTM-RRT")),
                 QStringList{"RTM-RRT: ProgramEnded"});
    }
    ::close(waiting);
}

void TestJournal::everyEndSavesTheJournal_data() {
    QTest::addColumn<int>("signal");    // 0: the X display is lost
    QTest::addColumn<bool>("answered"); // the page came back, or the command is on the line
    QTest::newRow("SIGTERM after the page") << int(SIGTERM) << true;
    QTest::newRow("SIGINT after the page") << int(SIGINT) << true;
    QTest::newRow("SIGHUP after the page") << int(SIGHUP) << true;
    QTest::newRow("SIGTERM with a command on the line") << int(SIGTERM) << false;
    QTest::newRow("the display lost after the page") << 0 << true;
}

// The program ends right after a web command's page came back (or while the command is on
// the line): the command with its whole reply, the port's closing, and how the command
// ended, with its time, are all in the file, within 2 s of the signal.
void TestJournal::everyEndSavesTheJournal() {
    QFETCH(int, signal);
    QFETCH(bool, answered);
    sim::SimulatedExchange exchange;
    QVERIFY(exchange.start());
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Journal.db"));
    QProcess xvfb;
    QProcessEnvironment display;
    if (signal == 0) {
        xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-nolisten", "tcp"});
        if (!xvfb.waitForStarted())
            QSKIP("no Xvfb here");
        QVERIFY(xvfb.waitForReadyRead(10000));
        display.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        display.insert(QStringLiteral("DISPLAY"),
                       ':' + QString::fromLatin1(xvfb.readLine().trimmed()));
    }
    Program program;
    QVERIFY2(program.start(folder.path(), exchange.linePath(), display), program.told.constData());
    const HttpProbe user = program.user();
    int waiting = -1;
    QStringList expected{"port 1"};
    if (answered) {
        QCOMPARE(
            user.post("Command=RTM-RRT").body,
            ReplyPage::build({"RTM-RRT", Cp1251::fromUnicode(QStringLiteral("КОМАНДА ВЫПОЛНЕНА")),
                              "END 0001", "<"}));
        expected << "RTM-RRT: Prompt, ended" + reply("RTM-RRT", 1);
    } else {
        exchange.silenceNext(1);
        waiting = user.send("POST", "/", "Command=RTM-RRT");
        QTRY_COMPARE(exchange.commandsReceived(), 1);
        expected << "RTM-RRT: PortClosed, ended";
    }
    expected << "port 2";
    QElapsedTimer ending;
    ending.start();
    if (signal == 0)
        xvfb.kill();
    else
        ::kill(pid_t(program.process.processId()), signal);
    QVERIFY(program.process.waitForFinished(10000));
    QCOMPARE_LT(ending.elapsed(), 2000);
    QCOMPARE(endings(path), expected);
    if (waiting >= 0)
        ::close(waiting);
    xvfb.waitForFinished();
}

void TestJournal::journalEnds_data() {
    QTest::addColumn<QString>("end");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("the last reports, never flushed")
        << "destroyed"
        << QStringList{"+0 Пульт: RTM-RRT - Prompt sent[RTM-RRT][<]",
                       "+10 Без команды: ALARM[ALARM]"};
    QTest::newRow("a command on the line: ended with the time of the end")
        << "destroyed"
        << QStringList{"+0 Пульт: RTM-RRT - Prompt sent[RTM-RRT][<]",
                       "+10 Без команды: ALARM[ALARM]",
                       "+10 Пульт: SSD-RSP - ProgramEnded sent, ended +70"};
    QTest::newRow("left on the line by a killed program: ended at the next start, no time")
        << "killed"
        << QStringList{"+0 Пульт: RTM-RRT - Prompt sent[RTM-RRT][<]",
                       "+10 Без команды: ALARM[ALARM]", "+10 Пульт: SSD-RSP - ProgramEnded sent"};
}

// What the journal holds once it has ended: everything reported, never flushed, and how
// each command still open ended: when the journal ends, with its time; when the program
// was killed, at the next start, without one.
void TestJournal::journalEnds() {
    QFETCH(QString, end);
    QFETCH(QStringList, expected);
    JournalFile file;
    JournalFile next;
    auto journal = std::make_unique<OperatorJournal>(file.settings());
    answered(*journal, file.clock, CommandSource::Typed, "", "RTM-RRT", {"RTM-RRT", "<"}, 10);
    journal->replyLine(0, "ALARM");
    if (expected.size() > 2)
        journal->commandSent(journal->commandQueued(CommandSource::Typed, {}, "SSD-RSP"), false);
    file.clock.advance(60);
    QString path = file.path();
    if (end == QLatin1String("killed")) { // the file as a kill leaves it: the next run opens it
        journal->flush();
        for (const char* suffix : {"", "-wal"})
            QVERIFY(QFile::copy(file.path() + suffix, next.path() + suffix));
        path = next.path();
        auto nextRun = std::make_unique<OperatorJournal>(next.settings());
        nextRun->replyLine(0, "NEXT RUN");
        nextRun->flush();
    }
    journal.reset();
    QStringList found;
    JournalQuery query(path);
    for (const JournalRow& row : query.find(everything(1), 100).rows)
        if (row.kind != RecordKind::Lines || row.text != QLatin1String("NEXT RUN"))
            found << described(row, query) +
                         (row.kind == RecordKind::Command &&
                                  row.what == int(CommandEnd::ProgramEnded) && row.ended
                              ? QStringLiteral(", ended +%1").arg(*row.ended - START)
                              : QString());
    QCOMPARE(found, expected);
}

// Files of the versions before are kept and written on as the current version: version 1
// recorded every console command alike, versions 1 and 2 know nothing of STOP or give-ups.
// A journal's file as an earlier version wrote it, with one command and its line, and
// `more` commands after it of a line each: "OLD <n>", answered "REPLY <n>".
void writeEarlierFile(const QString& path, int version, int more = 0) {
    Sqlite::Connection db;
    QCOMPARE(db.open(path, false), SQLITE_OK);
    QCOMPARE(db.exec("CREATE TABLE records(id INTEGER PRIMARY KEY, time INTEGER NOT NULL, "
                     "kind INTEGER NOT NULL, origin INTEGER, address TEXT NOT NULL DEFAULT '', "
                     "text TEXT NOT NULL DEFAULT '', what INTEGER, sent INTEGER, ended INTEGER);"
                     "CREATE INDEX records_time ON records(time);"
                     "CREATE INDEX records_origin ON records(origin, address, time);"
                     "CREATE INDEX records_unfinished ON records(id) "
                     "WHERE kind = 1 AND what IS NULL;"
                     "CREATE TABLE lines(record INTEGER NOT NULL, number INTEGER NOT NULL, "
                     "time INTEGER NOT NULL, text TEXT NOT NULL, "
                     "PRIMARY KEY(record, number)) WITHOUT ROWID;"),
             SQLITE_OK);
    const QByteArray before = "INSERT INTO records VALUES(1, " + QByteArray::number(START) +
                              ", 1, 0, '', 'BEFORE', 1, " + QByteArray::number(START) + ", " +
                              QByteArray::number(START + 10) +
                              ");"
                              "INSERT INTO lines VALUES(1, 1, " +
                              QByteArray::number(START) +
                              ", 'OLD LINE');"
                              "PRAGMA user_version = " +
                              QByteArray::number(version);
    QCOMPARE(db.exec(before.constData()), SQLITE_OK);
    Sqlite::Statement record(db, "INSERT INTO records(time, kind, origin, text, what) "
                                 "VALUES(?1, 1, 0, ?2, 1)");
    Sqlite::Statement line(db, "INSERT INTO lines VALUES(?1, 1, ?2, ?3)");
    for (int n = 1; n <= more; ++n) {
        QCOMPARE(record.bind(1, START + n).bindText(2, "OLD " + QByteArray::number(n)).run(),
                 SQLITE_DONE);
        QCOMPARE(line.bind(1, db.lastRow())
                     .bind(2, START + n)
                     .bindText(3, "REPLY " + QByteArray::number(n))
                     .run(),
                 SQLITE_DONE);
    }
}

void TestJournal::earlierVersionIsTaken_data() {
    QTest::addColumn<int>("version");
    QTest::newRow("1") << 1;
    QTest::newRow("2") << 2;
}

void TestJournal::earlierVersionIsTaken() {
    QFETCH(int, version);
    JournalFile file;
    writeEarlierFile(file.path(), version);
    file.clock.advance(10);
    OperatorJournal journal(file.settings());
    const auto after = journal.commandQueued(CommandSource::Button, "", "AFTER");
    journal.commandSent(after, true);
    journal.stopSent(after, "Com1 /dev/ttyS0");
    journal.commandEnded(after, CommandEnd::Prompt);
    journal.flush();
    QVERIFY2(journal.isRecording(), qPrintable(journal.problem()));
    QCOMPARE(records(file.path()), (QStringList{"+0 Пульт: BEFORE - Prompt sent[OLD LINE]",
                                                "+10 Пульт, кнопка: AFTER - Prompt sent stopped "
                                                "after-give-up",
                                                "+10 Порт: послан STOP: Com1 /dev/ttyS0"}));
    Sqlite::Connection db;
    QCOMPARE(db.open(file.path(), true), SQLITE_OK);
    QCOMPARE(db.integer("PRAGMA user_version"), std::int64_t(JournalStore::SCHEMA_VERSION));
}

void TestJournal::earlierVersionIsIndexed_data() {
    QTest::addColumn<int>("slices");  // of the index's building, -1: all
    QTest::addColumn<int>("indexed"); // records in the index then
    QTest::newRow("at the upgrade") << 0 << 0;
    QTest::newRow("after one slice") << 1 << 4;
    QTest::newRow("after two slices") << 2 << 8;
    QTest::newRow("built") << -1 << 21;
}

// A version-2 file keeps its records, gets the text index a slice at a time, newest first,
// and is searched right meanwhile.
void TestJournal::earlierVersionIsIndexed() {
    QFETCH(int, slices);
    QFETCH(int, indexed);
    JournalFile file;
    writeEarlierFile(file.path(), 2, 20);
    JournalStore::Limits limits;
    limits.indexRecords = 4;
    JournalStore store(file.path(), limits);
    QVERIFY2(store.open(START), qPrintable(store.problem()));
    for (int slice = 0; slices < 0 ? store.indexWanted() : slice < slices; ++slice)
        QVERIFY2(store.buildIndex(), qPrintable(store.problem()));
    QCOMPARE(store.indexWanted(), slices >= 0);
    const auto found = [&](const char* text, bool indexUsed) {
        JournalQuery query(file.path());
        query.setIndexUsed(indexUsed);
        JournalFilter filter = everything(1);
        filter.text = QString::fromUtf8(text);
        QStringList subjects;
        for (const JournalRow& row : query.find(filter, 100).rows)
            subjects << row.text + QLatin1Char(':') + query.lines(row.id, 10).join(',');
        return subjects;
    };
    for (const bool indexUsed : {true, false}) {
        QCOMPARE(found("reply 2", indexUsed), (QStringList{"OLD 2:REPLY 2", "OLD 20:REPLY 20"}));
        QCOMPARE(found("before", indexUsed), QStringList{"BEFORE:OLD LINE"});
        QCOMPARE(found("old", indexUsed).size(), 21);
    }
    Sqlite::Connection db;
    QCOMPARE(db.open(file.path(), true), SQLITE_OK);
    QCOMPARE(db.integer("SELECT count(*) FROM records"), 21);
    QCOMPARE(db.integer("SELECT count(*) FROM unindexed"), 21 - indexed);
    // The newest first: the records that wait are the oldest.
    QCOMPARE(db.integer("SELECT count(*) FROM text_index WHERE text_index MATCH '\"old\"'"),
             indexed);
    QCOMPARE(db.integer("SELECT max(record) FROM unindexed", 0), 21 - indexed);
    store.close(START);
}

void TestJournal::pruneByAge_data() {
    QTest::addColumn<QList<int>>("ages"); // days before START
    QTest::addColumn<int>("daysLater");   // 0: a new start at START
    QTest::addColumn<QStringList>("kept");
    QTest::newRow("at start-up") << QList<int>{120, 91, 89, 0} << 0
                                 << QStringList{"AGE 89", "AGE 0"};
    QTest::newRow("once a day") << QList<int>{120, 91, 89, 0} << 1 << QStringList{"AGE 0"};
    QTest::newRow("nothing old") << QList<int>{30, 0} << 1 << QStringList{"AGE 30", "AGE 0"};
}

void TestJournal::pruneByAge() {
    QFETCH(QList<int>, ages);
    QFETCH(int, daysLater);
    QFETCH(QStringList, kept);
    JournalFile file;
    {
        OperatorJournal journal(file.settings());
        for (const int age : ages) {
            file.clock.set(START - age * DAY);
            journal.commandRefused(Refusal::QueueFull, CommandSource::Typed, {},
                                   "AGE " + QByteArray::number(age));
        }
        journal.flush();
    }
    file.clock.set(START);
    OperatorJournal journal(file.settings());
    journal.replyLine(0, "STARTED"); // written once the start-up pruning is done
    journal.flush();
    file.clock.advance(daysLater * DAY + 1);
    journal.replyLine(0,
                      "WAKE"); // the journal looks at its clock when it has work
    journal.flush();
    QStringList subjects;
    JournalQuery query(file.path());
    QList<std::int64_t> keptRecords;
    for (const JournalRow& row : query.find(everything(2), 100).rows)
        if (row.kind == RecordKind::Refusal) {
            subjects << row.text;
            keptRecords << row.id;
        }
    QCOMPARE(subjects, kept);
    // The text index names the records kept, and no other.
    Sqlite::Statement indexed(query.connection(),
                              "SELECT rowid FROM text_index "
                              "WHERE text_index MATCH '\"age\"' ORDER BY rowid");
    QList<std::int64_t> indexedRecords;
    while (indexed.step() == SQLITE_ROW)
        indexedRecords << indexed.integer(0);
    QCOMPARE(indexedRecords, keptRecords);
}

void TestJournal::pruneByAWrongClock_data() {
    constexpr qint64 D = DAY; // as a test datum
    constexpr qint64 YEAR = 365 * D;
    QTest::addColumn<QList<qint64>>("stamps"); // the records' times after START, as written
    QTest::addColumn<qint64>("start");         // the clock at the next start, after START
    QTest::addColumn<qint64>("step");          // then a step of the clock
    QTest::addColumn<qint64>("run");           // and how long the program runs after it
    QTest::addColumn<QList<int>>("kept");      // the records kept, by their place in `stamps`
    const QList<qint64> lastMonths{-80 * D, -30 * D, 0};
    QTest::newRow("the clock five years ahead at start-up")
        << lastMonths << 5 * YEAR << 0LL << 0LL << QList<int>{0, 1, 2};
    QTest::newRow("the clock five years ahead, and a day's run")
        << lastMonths << 5 * YEAR << 0LL << D + 1 << QList<int>{0, 1, 2};
    QTest::newRow("the clock steps five years ahead during the run")
        << lastMonths << 0LL << 5 * YEAR << D + 1 << QList<int>{0, 1, 2};
    QTest::newRow("the clock steps back: the daily pruning goes on")
        << QList<qint64>{-89 * D - D / 2, 0} << 0LL << -YEAR << D + 1 << QList<int>{1};
    QTest::newRow("the clock behind at start-up")
        << lastMonths << -YEAR << 0LL << 0LL << QList<int>{0, 1, 2};
    QTest::newRow("stamped in the future: kept while the clock is not 90 days past it")
        << QList<qint64>{0, YEAR} << YEAR + 89 * D << 0LL << 0LL << QList<int>{1};
    QTest::newRow("stamped in the future: gone once 90 days have passed it")
        << QList<qint64>{0, YEAR} << YEAR + D << 0LL << 90 * D + 1 << QList<int>{};
    QTest::newRow("stamped while the clock was behind: kept while those before are young")
        << QList<qint64>{-10 * D, -4000 * D, 0} << 0LL << 0LL << 0LL << QList<int>{0, 1, 2};
    QTest::newRow("stamped while the clock was behind: gone with those before it")
        << QList<qint64>{-100 * D, -4000 * D, 0} << 0LL << 0LL << 0LL << QList<int>{2};
    QTest::newRow("exactly 90 days is kept, a millisecond more is not")
        << QList<qint64>{-90 * D - 1, -90 * D, 0} << 0LL << 0LL << 0LL << QList<int>{1, 2};
    QTest::newRow("after a pause, age counts from the newest record")
        << QList<qint64>{-200 * D, -100 * D} << 0LL << 0LL << 0LL << QList<int>{1};
}

// Records are written with the clock at `stamps`; the program starts again with the clock at
// `start`, its clock steps, and it runs on for `run`: what 90 days of true time would keep
// is kept, whatever the clock says.
void TestJournal::pruneByAWrongClock() {
    QFETCH(QList<qint64>, stamps);
    QFETCH(qint64, start);
    QFETCH(qint64, step);
    QFETCH(qint64, run);
    QFETCH(QList<int>, kept);
    JournalFile file;
    {
        OperatorJournal journal(file.settings());
        for (int i = 0; i < stamps.size(); ++i) {
            file.clock.set(START + stamps[i]);
            journal.commandRefused(Refusal::QueueFull, CommandSource::Typed, {},
                                   QByteArray::number(i));
        }
    }
    file.clock.set(START + start);
    OperatorJournal journal(file.settings());
    journal.replyLine(0, "STARTED"); // written once the start-up pruning is done
    journal.flush();
    file.clock.step(step);
    file.clock.advance(run);
    journal.replyLine(0, "WAKE"); // the journal looks at its clocks when it has work
    journal.flush();
    Sqlite::Connection db;
    QCOMPARE(db.open(file.path(), true), SQLITE_OK);
    Sqlite::Statement refused(db, "SELECT text FROM records WHERE kind = 3 ORDER BY id");
    QList<int> found;
    while (refused.step() == SQLITE_ROW)
        found << refused.text(0).toInt();
    QCOMPARE(found, kept);
}

// Past its size the file loses its oldest records, and stops growing.
void TestJournal::pruneBySize() {
    JournalFile file;
    JournalStore::Limits limits;
    limits.maxBytes = 1 << 20;
    OperatorJournal journal(file.settings(limits));
    for (int batch = 0; batch < 60; ++batch) {
        for (int i = 0; i < 500; ++i)
            journal.replyLine(0, "BATCH " + QByteArray::number(batch) + " LINE " +
                                     QByteArray::number(i) + " ABCDEFGHIJKLMNOPQRSTUVWXYZ");
        file.clock.advance(2000); // each batch a record of its own
        journal.flush();
    }
    QVERIFY(journal.isRecording());
    Sqlite::Connection db;
    QCOMPARE(db.open(file.path(), true), SQLITE_OK);
    const auto used = (db.integer("PRAGMA page_count") - db.integer("PRAGMA freelist_count")) *
                      db.integer("PRAGMA page_size");
    QCOMPARE_LE(used, limits.maxBytes);
    QCOMPARE(int(db.integer("SELECT count(*) FROM lines WHERE text LIKE 'BATCH 59 %'")), 500);
    QCOMPARE(int(db.integer("SELECT count(*) FROM lines WHERE text LIKE 'BATCH 0 %'")), 0);
}

void TestJournal::windowFilters_data() {
    QTest::addColumn<QString>("origin");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("fromYesterday");
    QTest::addColumn<QStringList>("subjects");
    QTest::addColumn<QString>("pane"); // the newest record's lines
    const QStringList today{"RTM-RRT", "SSD-RSP:2345", "ALARM-7 TRUNK DOWN",
                            "RTM-KEY", "RTM-RRT",      "ZZZ-ZZZ"};
    QTest::newRow("today, at first") << "Все"
                                     << "" << false << today << "";
    QTest::newRow("from yesterday") << "Все"
                                    << "" << true << QStringList{"OLD-CMD"} + today << "";
    QTest::newRow("console: typed and from a button")
        << "Пульт"
        << "" << false << QStringList{"RTM-RRT", "RTM-KEY"} << "RTM-KEY\n<";
    QTest::newRow("web") << "Web"
                         << "" << false << QStringList{"SSD-RSP:2345", "RTM-RRT", "ZZZ-ZZZ"} << "";
    QTest::newRow("one web address") << "Web 127.0.0.3"
                                     << "" << false << QStringList{"RTM-RRT", "ZZZ-ZZZ"} << "";
    QTest::newRow("lines without command")
        << "Строки без команды"
        << "" << false << QStringList{"ALARM-7 TRUNK DOWN"} << "ALARM-7 TRUNK DOWN\nalarm-8 100%";
    QTest::newRow("text in a command, any case")
        << "Все"
        << "ssd-rsp" << false << QStringList{"SSD-RSP:2345"} << "SSD-RSP:2345\n<";
    QTest::newRow("text in a reply line only")
        << "Все"
        << "END 0001" << false << QStringList{"RTM-RRT"} << "RTM-RRT\nEND 0001\n<";
    QTest::newRow("text outside the range") << "Все"
                                            << "OLD" << false << QStringList{} << "";
    QTest::newRow("an underscore is no wildcard") << "Все"
                                                  << "SSD_RSP" << false << QStringList{} << "";
    QTest::newRow("a percent sign is itself")
        << "Все"
        << "0%" << false << QStringList{"ALARM-7 TRUNK DOWN"} << "ALARM-7 TRUNK DOWN\nalarm-8 100%";
    QTest::newRow("text and origin together")
        << "Web"
        << "RTM" << false << QStringList{"RTM-RRT"} << "RTM-RRT\n<";
}

void TestJournal::windowFilters() {
    QFETCH(QString, origin);
    QFETCH(QString, text);
    QFETCH(bool, fromYesterday);
    QFETCH(QStringList, subjects);
    QFETCH(QString, pane);
    JournalFile file;
    OperatorJournal journal(file.settings());
    prepare(journal, file.clock);
    RecordingMessages messages;
    TFormJournal form(journal, messages);
    form.Journal1Click();
    QVERIFY(searched(form));
    QCOMPARE(form.DateTimePicker1->dateTime(), QDateTime(QDate(2024, 12, 9), QTime(0, 0)));
    form.ComboBox1->setCurrentIndex(form.ComboBox1->findText(origin));
    QCOMPARE(form.ComboBox1->currentText(), origin);
    form.Edit1->setText(text);
    if (fromYesterday)
        form.DateTimePicker1->setDateTime(QDateTime(QDate(2024, 12, 8), QTime(0, 0)));
    form.BitBtn1Click();
    QVERIFY(searched(form));
    QCOMPARE(column(form, 2), subjects);
    QCOMPARE(form.Memo1->toPlainText(), pane);
    QCOMPARE(form.Label5->text(), subjects.isEmpty()
                                      ? QStringLiteral("Записей нет")
                                      : QStringLiteral("Записей: %1").arg(subjects.size()));
}

void TestJournal::windowShowsTheNewestWhenMoreMatch() {
    JournalFile file;
    OperatorJournal journal(file.settings());
    for (int i = 0; i <= TFormJournal::MAX_RECORDS; ++i)
        journal.webEvent(WebEvent::Admitted, "127.0.0." + QByteArray::number(i % 200));
    answered(journal, file.clock, CommandSource::Typed, "", "NEWEST", {"LAST"}, 10);
    journal.flush();
    RecordingMessages messages;
    TFormJournal form(journal, messages);
    form.Journal1Click();
    QVERIFY(searched(form));
    const QStringList subjects = column(form, 2);
    QCOMPARE(subjects.size(), TFormJournal::MAX_RECORDS);
    QCOMPARE(subjects.last(), QStringLiteral("NEWEST"));
    QCOMPARE(form.Memo1->toPlainText(), QStringLiteral("LAST"));
    QVERIFY2(form.Label5->text().contains(QStringLiteral("совпало больше")),
             qPrintable(form.Label5->text()));
}

// The records shown go to the file chosen: a header line each, then its lines
// as they came; a search asked before the file is written changes nothing in
// it.
void TestJournal::windowExport() {
    Chooser chooser;
    JournalFile file;
    OperatorJournal journal(file.settings());
    prepare(journal, file.clock);
    RecordingMessages messages;
    TFormJournal form(journal, messages);
    form.setSaveChooser(&chooser);
    form.Journal1Click();
    form.Edit1->setText(QStringLiteral("RTM"));
    form.BitBtn1Click();
    QVERIFY(searched(form));
    chooser.file = file.folder.filePath(QStringLiteral("export.txt"));
    form.BitBtn2Click();
    form.Edit1->setText(QStringLiteral("SSD"));
    form.BitBtn1Click();
    QVERIFY(searched(form));
    QTRY_VERIFY(QFile::exists(chooser.file)); // written whole, then renamed into place
    QCOMPARE(chooser.suggested, file.folder.filePath(QStringLiteral("Journal-2024-12-09.txt")));
    QCOMPARE(QString::fromUtf8(fileBytes(chooser.file)),
             QStringLiteral("09.12.2024 03:12:00.000  Пульт  RTM-RRT  ответ завершён  0,250 с\n"
                            "RTM-RRT\nEND 0001\n<\n\n"
                            "09.12.2024 03:12:11.570  Пульт, кнопка  RTM-KEY  ответ завершён  "
                            "0,040 с\nRTM-KEY\n<\n\n"
                            "09.12.2024 03:12:11.610  Web 127.0.0.3  RTM-RRT  ответ завершён  "
                            "0,080 с\nRTM-RRT\n<\n\n"));
    // A file that cannot be written is told, naming it.
    chooser.file = file.folder.filePath(QStringLiteral("no/such/folder/export.txt"));
    form.BitBtn2Click();
    QTRY_COMPARE(messages.shown.size(), 1);
    QVERIFY(messages.shown[0].startsWith("failure:Не удалось записать " + chooser.file));
}

void TestJournal::exportSparesTheJournal_data() {
    QTest::addColumn<QString>("name"); // in the journal's folder
    QTest::addColumn<bool>("refused");
    QTest::newRow("the journal's file") << "Journal.db" << true;
    QTest::newRow("its WAL file") << "Journal.db-wal" << true;
    QTest::newRow("its index file") << "Journal.db-shm" << true;
    QTest::newRow("a link to it") << "link.txt" << true;
    QTest::newRow("through another path") << "sub/../Journal.db" << true;
    QTest::newRow("a file beside it") << "Journal.txt" << false;
}

// The export writes a new file and renames it over the one chosen: the journal's own files
// are refused with a message, and stay as they are.
void TestJournal::exportSparesTheJournal() {
    QFETCH(QString, name);
    QFETCH(bool, refused);
    JournalFile file;
    OperatorJournal journal(file.settings());
    prepare(journal, file.clock);
    QVERIFY(QDir(file.folder.path()).mkdir(QStringLiteral("sub")));
    QVERIFY(QFile::link(file.path(), file.folder.filePath(QStringLiteral("link.txt"))));
    RecordingMessages messages;
    TFormJournal form(journal, messages);
    Chooser chooser;
    chooser.file = file.folder.filePath(name);
    form.setSaveChooser(&chooser);
    form.Journal1Click();
    QVERIFY(searched(form));
    const QByteArray before = fileBytes(file.path());
    form.BitBtn2Click();
    QTRY_VERIFY(form.reader().idle());
    QCoreApplication::processEvents(); // the export's answer
    QCOMPARE(fileBytes(file.path()), before);
    if (!refused) {
        QVERIFY(fileBytes(chooser.file).startsWith("09.12.2024"));
        QCOMPARE(messages.shown, QStringList());
        return;
    }
    const QString text = "Экспорт не записывается в файл журнала " + chooser.file;
    QVERIFY2(form.Label5->text().startsWith(text), qPrintable(form.Label5->text()));
    QCOMPARE(messages.shown.size(), 1);
    QVERIFY(messages.shown[0].startsWith("failure:" + text));
    QVERIFY(journal.isRecording());
}

// An export of 10 000 records of short replies runs many statements, none long enough for
// SQLite to ask whether to stop it: the end of the program stops it between records, within
// a moment, and its file is not written.
void TestJournal::exportStopsWhenTheProgramEnds() {
    constexpr int RECORDS = TFormJournal::MAX_RECORDS;
    constexpr int LINES = 20; // each: too few for a statement to be stopped while it runs
    JournalFile file;
    OperatorJournal journal(file.settings());
    journal.replyLine(0, "BEGUN");
    journal.flush();
    {
        Sqlite::Connection db;
        QCOMPARE(db.open(file.path(), false), SQLITE_OK);
        const QByteArray fill =
            "BEGIN; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
            QByteArray::number(RECORDS) + ") INSERT INTO records(time, kind, text) SELECT " +
            QByteArray::number(START) +
            " + i, 2, 'GROUP' FROM n; WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 "
            "FROM n WHERE i < " +
            QByteArray::number(RECORDS * LINES - 1) +
            ") INSERT INTO lines(record, number, time, text) SELECT 2 + i / " +
            QByteArray::number(LINES) + ", i, 0, 'LINE ABCDEFGHIJKLMNOPQRSTUVWXYZ' FROM n; COMMIT;";
        QCOMPARE(db.exec(fill.constData()), SQLITE_OK);
    }
    RecordingMessages messages;
    auto form = std::make_unique<TFormJournal>(journal, messages);
    Chooser chooser;
    chooser.file = file.folder.filePath(QStringLiteral("export.txt"));
    form->setSaveChooser(&chooser);
    form->Journal1Click();
    QVERIFY(searched(*form));
    QCOMPARE(form->rows().size(), std::size_t(RECORDS));
    form->BitBtn2Click();
    QTest::qWait(50); // into the export, which takes several times as long
    QVERIFY(!form->reader().idle());
    QElapsedTimer ending;
    ending.start();
    form.reset();
    QCOMPARE_LT(ending.elapsed(), 1000);
    QVERIFY(!QFile::exists(chooser.file));
}

void TestJournal::windowFollowsTheDay_data() {
    QTest::addColumn<bool>("setByOperator");
    QTest::addColumn<QDate>("shown"); // the first day of the range at the next day's opening
    QTest::newRow("the range as the window set it: the new day") << false << QDate(2024, 12, 10);
    QTest::newRow("a range the operator set: kept") << true << QDate(2024, 12, 1);
}

// A terminal that runs for days: each opening of the journal window shows that day's records,
// unless the operator has chosen the range.
void TestJournal::windowFollowsTheDay() {
    QFETCH(bool, setByOperator);
    QFETCH(QDate, shown);
    JournalFile file;
    OperatorJournal journal(file.settings());
    RecordingMessages messages;
    TFormJournal form(journal, messages);
    form.Journal1Click();
    QVERIFY(searched(form));
    QCOMPARE(form.DateTimePicker1->date(), QDate(2024, 12, 9));
    if (setByOperator)
        form.DateTimePicker1->setDate(QDate(2024, 12, 1));
    form.close();
    file.clock.advance(DAY);
    form.Journal1Click();
    QVERIFY(searched(form));
    QCOMPARE(form.DateTimePicker1->date(), shown);
    QCOMPARE(form.DateTimePicker2->date(), setByOperator ? QDate(2024, 12, 9) : shown);
}

void TestJournal::durations_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<qint64>("sent"); // after the record's time; -1: none
    QTest::addColumn<qint64>("ended");
    QTest::addColumn<QString>("duration");
    const int command = int(RecordKind::Command);
    QTest::newRow("a command") << command << 10LL << 1260LL << "1,250 с";
    QTest::newRow("a command across the clock set back")
        << command << 10LL << -3000LL << "? (часы переведены)";
    QTest::newRow("lines without command") << int(RecordKind::Lines) << -1LL << 900LL << "0,900 с";
    QTest::newRow("one line") << int(RecordKind::Lines) << -1LL << 0LL << "";
    QTest::newRow("refusals summed") << int(RecordKind::Refusals) << -1LL << 59000LL << "59,000 с";
}

// How long a record took, never less than nothing.
void TestJournal::durations() {
    QFETCH(int, kind);
    QFETCH(qint64, sent);
    QFETCH(qint64, ended);
    QFETCH(QString, duration);
    JournalRow row;
    row.time = START;
    row.kind = RecordKind(kind);
    if (sent >= 0)
        row.sent = START + sent;
    row.ended = START + ended;
    QCOMPARE(JournalTexts::duration(row), duration);
}

void TestJournal::newerSearchReplacesOlder_data() {
    QTest::addColumn<QString>("when");
    QTest::newRow("while the older runs") << "runs";
    QTest::newRow("after the older's answer was sent") << "answered";
    QTest::newRow("the window closed while a search runs") << "closed";
    QTest::newRow("the program ends while a search runs") << "ended";
}

// A search runs on the reader's thread while the window thread goes on; the
// answer that counts is the newest search's, and one that comes after a newer
// search was asked for, or after the window was closed, is never shown. A
// search that runs (here held in a query that never ends by itself) is stopped
// at once when it is no longer wanted.
void TestJournal::newerSearchReplacesOlder() {
    QFETCH(QString, when);
    JournalFile file;
    OperatorJournal journal(file.settings());
    prepare(journal, file.clock);
    RecordingMessages messages;
    auto form = std::make_unique<TFormJournal>(journal, messages);
    form->Journal1Click();
    QVERIFY(searched(*form));
    const QStringList today = column(*form, 2);
    QSignalSpy shown(form->DBGrid1->model(), &QAbstractItemModel::modelReset);

    std::atomic<bool> held{false};
    if (when != QLatin1String("answered"))
        form->reader().setSearchHold([&held](const Sqlite::Connection& db) {
            held = true;
            Sqlite::Statement endless(db, "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL "
                                          "SELECT x + 1 FROM n) SELECT count(*) FROM n");
            endless.step();
        });
    form->Edit1->setText(QStringLiteral("SSD"));
    form->BitBtn1Click();
    if (when == QLatin1String("answered")) {
        const QDeadlineTimer deadline(10000);
        while (!form->reader().idle() && !deadline.hasExpired()) // no event handled meanwhile
            std::this_thread::yield();
        QVERIFY(form->reader().idle());
    } else {
        bool ticked = false; // the window thread handles its events meanwhile
        QTimer::singleShot(0, form.get(), [&ticked] { ticked = true; });
        QTRY_VERIFY(held && ticked);
        QVERIFY(form->searching());
        QCOMPARE(form->Label5->text(), QStringLiteral("Идёт поиск..."));
        QCOMPARE(column(*form, 2), today);
    }
    if (when == QLatin1String("ended")) {
        QElapsedTimer ending;
        ending.start();
        form.reset();
        QCOMPARE_LT(ending.elapsed(), 2000);
        return;
    }
    form->reader().setSearchHold({});
    if (when == QLatin1String("closed")) {
        form->close();
        QTRY_VERIFY(form->reader().idle());
        QCoreApplication::processEvents(); // an answer sent meanwhile arrives, and
                                           // is dropped
        QCOMPARE(shown.count(), 0);
        QVERIFY(!form->searching());
        return;
    }
    form->Edit1->setText(QStringLiteral("ZZZ"));
    form->BitBtn1Click();
    QVERIFY(searched(*form));
    QCOMPARE(column(*form, 2), QStringList{"ZZZ-ZZZ"});
    QCOMPARE(shown.count(), 1);
}

void TestJournal::textSearchWithAndWithoutIndex_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("subjects");
    QTest::newRow("Latin, the case typed") << "TRUNK" << QStringList{"RTM-RRT", "ALARM-7 TRUNK"};
    QTest::newRow("Latin, the other case") << "trunk" << QStringList{"RTM-RRT", "ALARM-7 TRUNK"};
    QTest::newRow("a command's text") << "ssd-rsp:23" << QStringList{"SSD-RSP:2345"};
    QTest::newRow("Cyrillic, upper case found in lower")
        << "МОДУЛЬ 12" << QStringList{"SSD-RSP:2345", "RTM-KEY"};
    QTest::newRow("Cyrillic, lower case found in upper")
        << "одуль 12 н" << QStringList{"SSD-RSP:2345", "RTM-KEY"};
    QTest::newRow("Cyrillic, mixed case") << "ЁлКа" << QStringList{"RTM-KEY"};
    QTest::newRow("Cyrillic across a hyphen") << "ка-Ёл" << QStringList{"RTM-KEY"};
    QTest::newRow("two characters") << "0%" << QStringList{"ALARM-7 TRUNK"};
    QTest::newRow("one character, Cyrillic") << "ё" << QStringList{"RTM-KEY"};
    QTest::newRow("a percent sign is itself") << "100%" << QStringList{"ALARM-7 TRUNK"};
    QTest::newRow("a percent sign is no wildcard") << "1%0" << QStringList{};
    QTest::newRow("an underscore is itself") << "A_B" << QStringList{"RTM-RRT"};
    QTest::newRow("an underscore is no wildcard") << "SSD_RSP" << QStringList{};
    QTest::newRow("a quotation mark") << "\"OK\"" << QStringList{"SSD-RSP:2345"};
    QTest::newRow("a text across a line break is not found") << "END 0001 <" << QStringList{};
    QTest::newRow("nor without the space") << "0001<" << QStringList{};
    QTest::newRow("a command still answered") << "WAITING" << QStringList{"RTM-WAIT"};
    QTest::newRow("a line after its command ended") << "late line" << QStringList{"RTM-LATE"};
    QTest::newRow("found nowhere") << "NO SUCH TEXT" << QStringList{};
    QTest::newRow("a long text") << "LINE 4 OF A LONG REPLY THAT GOES ON AND ON"
                                 << QStringList{"RTM-LONG"};
    QTest::newRow("a long text with one character changed")
        << "LINE 4 OF A LONG REPLY THAT GOES ON AND 0N" << QStringList{};
}

// The same records are found with the text index and by a scan of the range.
void TestJournal::textSearchWithAndWithoutIndex() {
    QFETCH(QString, text);
    QFETCH(QStringList, subjects);
    JournalFile file;
    OperatorJournal journal(file.settings());
    const auto cp1251 = [](const char* text) {
        return Cp1251::fromUnicode(QString::fromUtf8(text));
    };
    answered(journal, file.clock, CommandSource::Typed, "", "RTM-RRT",
             {"TRUNK A_B", "END 0001", "<"}, 100);
    answered(journal, file.clock, CommandSource::Web, "127.0.0.2", "SSD-RSP:2345",
             {cp1251("модуль 12 неисправен"), "STATE \"OK\""}, 100);
    file.clock.advance(5000);
    journal.replyLine(0, "ALARM-7 TRUNK");
    journal.replyLine(0, "alarm-8 100%");
    file.clock.advance(5000);
    answered(journal, file.clock, CommandSource::Button, "", "RTM-KEY",
             {cp1251("МОДУЛЬ 12 НОРМА"), cp1251("ЁЛКА-ёлка")}, 100);
    answered(journal, file.clock, CommandSource::Typed, "", "RTM-LONG",
             {"LINE 4 OF A LONG REPLY THAT GOES ON AND ON"}, 100);
    const auto late = journal.commandQueued(CommandSource::Typed, "", "RTM-LATE");
    journal.commandSent(late, false);
    journal.commandEnded(late, CommandEnd::Prompt);
    journal.flush(); // in the index, and then a line of its reply comes
    journal.replyLine(late, "A LATE LINE");
    const auto waiting = journal.commandQueued(CommandSource::Typed, "", "RTM-WAIT");
    journal.commandSent(waiting, false);
    journal.replyLine(waiting, "WAITING FOR THE PROMPT");
    journal.flush();
    JournalFilter filter = everything(1);
    filter.text = text;
    for (const bool indexUsed : {true, false}) {
        JournalQuery query(file.path());
        query.setIndexUsed(indexUsed);
        QStringList found;
        for (const JournalRow& row : query.find(filter, 100).rows)
            found << row.text;
        QCOMPARE(found, subjects);
    }
}

QTEST_MAIN(TestJournal)
#include "tst_journal.moc"
