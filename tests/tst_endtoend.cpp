#include "Probes.h"
#include "TerminalRig.h"
#include "app/Station.h"
#include "dispatch/WebCommand.h"
#include "journal/JournalQuery.h"
#include "journal/OperatorJournal.h"
#include "link/Lamps.h"
#include "link/PosixSerialDevice.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <limits>

#include <cstdlib>

namespace {

struct Rig : TerminalRig {
    // Waits until the dispatcher has nothing in progress and the window queue is empty.
    bool settles() {
        return QTest::qWaitFor([&] {
            return !terminal->dispatcher().commandInProgress() && terminal->queue().count() == 0 &&
                   terminal->windowMessages().isEmpty();
        });
    }
    // The window thread keeps running while we wait, as it must for the dispatcher to write.
    bool wireHas(const std::string& bytes) {
        return QTest::qWaitFor(
            [&] { return exchange.received().find(bytes) != std::string::npos; });
    }
    bool consoleHas(const QString& line) {
        return QTest::qWaitFor([&] { return console.lines.contains(line); });
    }
};

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void stationWorksWithoutWindows();
    void commandBytesOnTheWire_data();
    void commandBytesOnTheWire();
    void queuedCommandsGoOutOneByOne();
    void promptAndRunOutInOnePass_data();
    void promptAndRunOutInOnePass();
    void stopIsOneByte();
    void reopeningEmptiesTheQueue();
    void unsolicitedLinesReachTheConsole();
    void floodArrivesWholeAndInOrder();
    void webReplyGoesToItsRequestOnly();
    void unpluggedLineComesBackByItself();
    void missingDeviceCannotOpen();
    void openIsExclusive();
    void hangUpSoak();
};

// The program's core alone, in a program without a window system: a port opens on the
// simulated exchange, a queued command goes out, and its reply reaches the console's routes
// and the journal.
void TestEndToEnd::stationWorksWithoutWindows() {
    sim::SimulatedExchange exchange;
    QVERIFY(exchange.start());
    qputenv("KORVANT_COM1", QByteArray::fromStdString(exchange.linePath()));
    QTemporaryDir folder;
    const QString journalFile = folder.filePath(QStringLiteral("Journal.db"));
    Vars vars;
    RecordingMessages messages;
    RecordingConsole console;
    {
        Station station(vars, messages,
                        {PortDevice::create(),
                         folder.path(),
                         {},
                         OperatorJournal::Settings{journalFile, OperatorJournal::systemClock, {}}});
        station.terminal().setConsole(&console);
        QVERIFY(station.terminal().OpenComPort(QStringLiteral("Com1"), 1));
        station.dispatcher().QueueCommand("RTM-RRT");
        QTRY_VERIFY(console.lines.contains(QStringLiteral("<")));
        station.terminal().setConsole(nullptr);
    }
    QCOMPARE(QByteArray::fromStdString(exchange.received()), QByteArray("RTM-RRT\r"));
    QCOMPARE(console.lines, (QStringList{"RTM-RRT", "КОМАНДА ВЫПОЛНЕНА", "END 0001", "<"}));
    JournalQuery journal(journalFile);
    JournalFilter everything;
    everything.to = std::numeric_limits<std::int64_t>::max();
    const auto found = journal.find(everything, 10);
    const auto command =
        std::find_if(found.rows.begin(), found.rows.end(),
                     [](const JournalRow& row) { return row.kind == RecordKind::Command; });
    QVERIFY(command != found.rows.end());
    QCOMPARE(command->text, QStringLiteral("RTM-RRT"));
    QCOMPARE(journal.lines(command->id, 10), console.lines);
    QVERIFY(messages.shown.isEmpty());
}

void TestEndToEnd::commandBytesOnTheWire_data() {
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("RTM-RRT") << QByteArray("RTM-RRT") << QByteArray::fromHex("52544D2D5252540D");
    const QByteArray long45 = "SSD-WSP:1234567890,ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    QTest::newRow("45 characters") << long45 << long45.left(40) + "\r";
}

void TestEndToEnd::commandBytesOnTheWire() {
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, wire);
    Rig rig;
    QVERIFY(rig.open());
    rig.terminal->dispatcher().QueueCommand(command);
    QVERIFY(rig.consoleHas(QStringLiteral("<")));
    QCOMPARE(QByteArray::fromStdString(rig.exchange.received()), wire);
    // The reply repeats the command; the console shows only what the exchange sent.
    QVERIFY(rig.console.lines.contains(QString::fromLatin1(wire.chopped(1))));
    QVERIFY(rig.settles());
}

void TestEndToEnd::queuedCommandsGoOutOneByOne() {
    Rig rig;
    QVERIFY(rig.open());
    rig.exchange.silenceNext(1);
    auto& dispatcher = rig.terminal->dispatcher();
    dispatcher.QueueCommand("CMD-ONE");
    dispatcher.QueueCommand("CMD-TWO");
    dispatcher.QueueCommand("CMD-THR");
    QVERIFY(rig.wireHas("CMD-ONE\r"));
    QTRY_VERIFY(rig.terminal->windowMessages().isEmpty());
    QCOMPARE(rig.exchange.received(), std::string("CMD-ONE\r")); // the others wait
    QCOMPARE(rig.terminal->queue().count(), 3);

    QVERIFY(rig.replyWait.elapse()); // the silent exchange: the reply wait runs out
    QVERIFY(rig.settles());
    QCOMPARE(rig.exchange.received(), std::string("CMD-ONE\rCMD-TWO\rCMD-THR\r"));
    const int two = rig.console.lines.indexOf(QStringLiteral("CMD-TWO"));
    const int three = rig.console.lines.indexOf(QStringLiteral("CMD-THR"));
    QVERIFY(two >= 0 && three > two);
    QVERIFY(rig.console.lines.mid(two, three - two).contains(QStringLiteral("<")));
    QCOMPARE(rig.console.lines.first(), QString()); // the silence ended an empty line
}

// The prompt that ends a command and its reply wait's run-out are handled in one pass of the
// window thread. A run-out behind the prompt names a command that has ended and ends
// nothing; one ahead of it ends its command, and the prompt then ends the next one, since a
// late prompt cannot be told from the next command's.
void TestEndToEnd::promptAndRunOutInOnePass_data() {
    QTest::addColumn<bool>("promptFirst");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<int>("queued"); // entries left, the one in progress included
    QTest::newRow("prompt, then the run-out") << true << QByteArray("AAA\rBBB\r") << 2;
    QTest::newRow("run-out, then the prompt") << false << QByteArray("AAA\rBBB\rCCC\r") << 1;
}

void TestEndToEnd::promptAndRunOutInOnePass() {
    QFETCH(bool, promptFirst);
    QFETCH(QByteArray, wire);
    QFETCH(int, queued);
    Rig rig;
    QVERIFY(rig.open());
    rig.exchange.silenceNext(3);
    for (const char* command : {"AAA", "BBB", "CCC"})
        rig.terminal->dispatcher().QueueCommand(command);
    QVERIFY(rig.wireHas("AAA\r"));
    QTRY_VERIFY(rig.terminal->windowMessages().isEmpty());
    PortMessages& port = rig.terminal->portMessages();
    const Received prompt{"\r\nAAA\r\n<"};
    if (promptFirst)
        port.post(prompt);
    QVERIFY(rig.replyWait.elapse());
    if (!promptFirst)
        port.post(prompt);
    rig.terminal->windowMessages().deliverPending();
    QCOMPARE(rig.terminal->queue().count(), queued);
    QVERIFY(rig.terminal->dispatcher().commandInProgress());
    QVERIFY(rig.wireHas(wire.toStdString()));
    QCOMPARE(QByteArray::fromStdString(rig.exchange.received()), wire);
}

void TestEndToEnd::stopIsOneByte() {
    Rig rig;
    rig.terminal->sendStop();
    QCOMPARE(rig.messages.shown, QStringList{QStringLiteral("plain:Порт не открыт")});
    QVERIFY(rig.open());
    rig.terminal->sendStop();
    QVERIFY(rig.wireHas("\x01"));
    QCOMPARE(rig.exchange.received(), std::string("\x01"));
    QVERIFY(!rig.terminal->dispatcher().commandInProgress());
}

void TestEndToEnd::reopeningEmptiesTheQueue() {
    Rig rig;
    QVERIFY(rig.open());
    rig.exchange.silenceNext(1);
    rig.terminal->dispatcher().QueueCommand("CMD-ONE");
    rig.terminal->dispatcher().QueueCommand("CMD-TWO");
    rig.terminal->dispatcher().QueueCommand("CMD-THR");
    QVERIFY(rig.wireHas("CMD-ONE\r"));
    rig.terminal->closePort();
    QVERIFY(rig.open());
    QCOMPARE(rig.terminal->queue().count(), 0);
    QVERIFY(!rig.replyWait.isEnabled());
    rig.terminal->dispatcher().QueueCommand("CMD-NEW");
    QVERIFY(rig.wireHas("CMD-NEW\r"));
    QVERIFY(rig.settles());
    QCOMPARE(rig.exchange.received(), std::string("CMD-ONE\rCMD-NEW\r"));
}

void TestEndToEnd::unsolicitedLinesReachTheConsole() {
    Rig rig;
    QVERIFY(rig.open());
    rig.exchange.sendUnsolicited("\xC0\xC2\xC0\xD0\xC8\xDF 17"); // "АВАРИЯ 17"
    QVERIFY(rig.consoleHas(QStringLiteral("АВАРИЯ 17")));
    QVERIFY(!rig.replyWait.isEnabled()); // it answers no command
    QVERIFY(rig.consoleTrim.isEnabled());
}

void TestEndToEnd::floodArrivesWholeAndInOrder() {
    Rig rig;
    QVERIFY(rig.open());
    constexpr int LINES = 10000;
    rig.exchange.flood(LINES);
    QTRY_COMPARE_WITH_TIMEOUT(rig.console.lines.size(), LINES, 30000);
    for (int i = 0; i < LINES; ++i)
        QVERIFY2(rig.console.lines[i].startsWith(
                     QStringLiteral("FLOOD %1").arg(i + 1, 7, 10, QLatin1Char('0'))),
                 qPrintable(rig.console.lines[i]));
}

void TestEndToEnd::webReplyGoesToItsRequestOnly() {
    Rig rig;
    QVERIFY(rig.open());
    auto reply = std::make_shared<WebCommand>();
    rig.terminal->dispatcher().appendWeb("WEB-CMD", "127.0.0.2", reply);
    rig.terminal->dispatcher().QueueCommand("CON-CMD");
    QVERIFY(rig.settles());
    QCOMPARE(reply->outcome(), WebCommand::Outcome::Answered);
    const auto lines = reply->lines();
    QVERIFY(lines.contains("WEB-CMD"));
    QCOMPARE(lines.last(), QByteArray("<"));
    QVERIFY(!rig.console.lines.contains(QStringLiteral("WEB-CMD")));
    QVERIFY(rig.console.lines.contains(QStringLiteral("CON-CMD")));
    rig.exchange.sendUnsolicited("LATE"); // after the reply has ended: the console's
    QVERIFY(rig.consoleHas(QStringLiteral("LATE")));
    QCOMPARE(reply->lines(), lines);
    QCOMPARE(rig.terminal->dispatcher().WebReplyReady(), 1);
}

// The device is linked at a path, as udev links an adapter: the link goes and the line hangs
// up (the adapter is pulled), a new line is linked at the same path (plugged back in). The
// command on the line ends at once and is never written again; the commands queued behind
// it, and one queued while the line was away, go out in order once it is back, without the
// operator and without the retry timer (the folder's watch sees the link come).
void TestEndToEnd::unpluggedLineComesBackByItself() {
    Rig rig;
    QTemporaryDir folder;
    const QString link = folder.filePath(QStringLiteral("ttyEXCHANGE"));
    const auto plugIn = [&] {
        return QFile::link(QString::fromStdString(rig.exchange.linePath()), link);
    };
    QVERIFY(plugIn());
    qputenv("KORVANT_COM1", link.toLocal8Bit());
    QVERIFY(rig.open());
    QSignalSpy closed(rig.terminal.get(), &Terminal::portClosed);
    rig.exchange.silenceNext();
    rig.terminal->dispatcher().QueueCommand("AAA");
    rig.terminal->dispatcher().QueueCommand("BBB");
    QVERIFY(rig.wireHas("AAA\r"));
    rig.exchange.sendUnsolicited("LAST WORDS");
    QVERIFY(rig.consoleHas(QStringLiteral("LAST WORDS")));

    QVERIFY(QFile::remove(link));
    rig.exchange.hangUp();
    QTRY_VERIFY(rig.terminal->lineWaiting());
    QCOMPARE(rig.terminal->PortOpen(), 1);
    QVERIFY(!rig.terminal->dispatcher().commandInProgress());
    rig.terminal->dispatcher().QueueCommand("CCC"); // the port is open: it waits its turn
    QCOMPARE(rig.terminal->queue().count(), 2);
    QVERIFY(rig.messages.shown.isEmpty());
    rig.terminal->sendStop(); // nothing to send it on: said, not recorded as sent
    QCOMPARE(rig.messages.shown,
             QStringList{QStringLiteral("plain:") + QString::fromUtf8(LINE_WAITING_TEXT)});

    QVERIFY(rig.exchange.reconnect());
    QVERIFY(plugIn());
    QTRY_VERIFY(!rig.terminal->lineWaiting());
    QVERIFY(rig.consoleHas(QStringLiteral("CCC")));
    QVERIFY(rig.settles());
    QCOMPARE(QByteArray::fromStdString(rig.exchange.received()),
             QByteArray("AAA\rBBB\rCCC\r")); // nothing twice
    QCOMPARE(closed.count(), 0);
    QVERIFY(rig.lineRetry.starts > 0);
    QVERIFY(!rig.lineRetry.isEnabled());
}

void TestEndToEnd::missingDeviceCannotOpen() {
    Rig rig;
    qputenv("KORVANT_COM2", "/dev/korvant-no-such-port");
    QVERIFY(!rig.terminal->OpenComPort(QStringLiteral("Com2"), 2));
    QCOMPARE(rig.messages.shown, QStringList{QStringLiteral("plain:Can not openCom2")});
    QCOMPARE(rig.terminal->PortOpen(), 0);
}

void TestEndToEnd::openIsExclusive() {
    Rig rig;
    QVERIFY(rig.open());
    PosixSerialDevice second;
    QVERIFY(!second.open(QString::fromStdString(rig.exchange.linePath())));
    rig.terminal->closePort();
    QVERIFY(second.open(QString::fromStdString(rig.exchange.linePath())));
}

// A hundred times over: a few commands are queued, the exchange hangs up in the middle of
// a reply, and the port takes the line that comes back by itself. Afterwards nothing is
// left over: no thread, no descriptor, no queued command; and the console holds every line
// that arrived, each once and in order: the command cut by the hang-up is never repeated,
// the one queued behind it goes out on the line that came back.
void TestEndToEnd::hangUpSoak() {
    constexpr int ROUNDS = 100;
    const QString done = QStringLiteral("КОМАНДА ВЫПОЛНЕНА");
    Rig rig;
    QVERIFY(rig.open());
    // A released port's descriptor is closed by a short-lived thread of its own; the counts
    // are taken when none is running.
    const auto noCloser = [] { return threadsNamed(PosixSerialDevice::CLOSER_THREAD_NAME) == 0; };
    QVERIFY(QTest::qWaitFor(noCloser));
    const int threads = entriesIn("/proc/self/task");
    const int descriptors = entriesIn("/proc/self/fd");
    QStringList arrived;
    for (int round = 0; round < ROUNDS; ++round) {
        rig.exchange.breakReplyAfter(1);
        const QString first = QStringLiteral("SOAK-ONE:%1").arg(round);
        const QString second = QStringLiteral("SOAK-TWO:%1").arg(round);
        const QString third = QStringLiteral("SOAK-THR:%1").arg(round);
        for (const QString& command : {first, second, third})
            rig.terminal->dispatcher().QueueCommand(command.toLatin1());
        // The first reply is whole; the second stops before its prompt; the third command
        // waits in the queue. The exchange numbers the commands it gets.
        const auto end = [](int command) {
            return QStringLiteral("END %1").arg(command, 4, 10, QLatin1Char('0'));
        };
        arrived << first << done << end(3 * round + 1) << QStringLiteral("<") << second << done
                << end(3 * round + 2);
        QVERIFY(waitUntil([&] { return rig.console.lines.endsWith(arrived.last()); }));
        rig.exchange.hangUp();
        QVERIFY(waitUntil([&] { return rig.terminal->lineWaiting(); }));
        QVERIFY(rig.exchange.reconnect());
        qputenv("KORVANT_COM1", QByteArray::fromStdString(rig.exchange.linePath()));
        rig.lineRetry.elapse(); // unless the watch on /dev/pts has tried already
        arrived << third << done << end(3 * round + 3) << QStringLiteral("<");
        QVERIFY(waitUntil([&] { return rig.console.lines.endsWith(arrived.last()); }));
    }
    QCOMPARE(rig.console.lines, arrived);
    QCOMPARE(rig.terminal->queue().count(), 0);
    QVERIFY(!rig.terminal->dispatcher().commandInProgress());
    QVERIFY(QTest::qWaitFor(noCloser));
    QCOMPARE(entriesIn("/proc/self/task"), threads);
    QCOMPARE(entriesIn("/proc/self/fd"), descriptors);
    rig.terminal->dispatcher().QueueCommand("ALIVE");
    QVERIFY(rig.consoleHas(QStringLiteral("ALIVE")));
    QVERIFY(rig.settles());
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
