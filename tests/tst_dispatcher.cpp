#include "DispatcherRig.h"
#include "dispatch/CommandText.h"
#include "dispatch/WebCommand.h"

#include <QTest>

#include <map>
#include <thread>

namespace {

struct Rig : DispatcherRig {
    Rig() { port.open = 1; }
    void replyEnds() {
        dispatcher.WMSendCommand(
            SendCommand::ended(dispatcher.commandNumber(), CommandEnd::Prompt));
    }
    std::shared_ptr<WebCommand> web(const QByteArray& text) {
        auto reply = std::make_shared<WebCommand>();
        dispatcher.appendWeb(text, "127.0.0.2", reply);
        return reply;
    }
};

ReplyLine line(const char* text) {
    return ReplyLine(QByteArrayView(text));
}

} // namespace

class TestDispatcher : public QObject {
    Q_OBJECT
private slots:
    void lostLineHoldsTheQueue_data();
    void lostLineHoldsTheQueue();
    void writesTextAndCarriageReturn_data();
    void writesTextAndCarriageReturn();
    void queueCommandKeepsLastCommand();
    void refusedWithoutPort();
    void sendsOneAtATimeInOrder();
    void startsHeadAfterSeveralAppends();
    void promptWithEmptyQueue();
    void strayPromptDoesNotDropUnsentCommand();
    void replyWaitRestartsPerCommand();
    void webAndConsoleGetTheirOwnReplies();
    void webAtHeadReleasedBeforeNextWrite();
    void captureKeepsAtMost256Lines();
    void releasedWebCommandCollectsNoMoreLines();
    void portOpenDiscardsQueue();
    void switchOffTakesOutWaitingWeb_data();
    void switchOffTakesOutWaitingWeb();
    void queueHolds255();
    void unsafeCommandsNeverQueued_data();
    void unsafeCommandsNeverQueued();
    void appendsFromManyThreads();
};

void TestDispatcher::writesTextAndCarriageReturn_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("lastCommand");
    const QByteArray forty(40, 'K');
    const QByteArray fortyFive = QByteArray(40, 'K') + "12345";
    QTest::newRow("RTM-RRT") << QByteArray("RTM-RRT") << QByteArray::fromHex("52544D2D5252540D")
                             << QByteArray("RTM-RRT");
    QTest::newRow("exactly 40") << forty << forty + "\r" << forty.left(35);
    QTest::newRow("45 cut at 40") << fortyFive << forty + "\r" << fortyFive.left(35);
    QTest::newRow("Cyrillic bytes unchanged")
        << QByteArray("\xD2\xC5\xD1\xD2") << QByteArray("\xD2\xC5\xD1\xD2\r")
        << QByteArray("\xD2\xC5\xD1\xD2");
}

void TestDispatcher::writesTextAndCarriageReturn() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, lastCommand);
    Rig rig;
    rig.dispatcher.QueueCommand(text);
    QVERIFY(rig.port.writes.isEmpty()); // never written inside the append
    rig.deliver();
    QCOMPARE(rig.port.writes, QList<QByteArray>{wire});
    QCOMPARE(rig.vars.LastCommand.bytes(), lastCommand);
    QVERIFY(rig.dispatcher.commandInProgress());
    QVERIFY(rig.replyWait.isEnabled());
    QCOMPARE(rig.replyWait.interval(), Dispatcher::REPLY_WAIT_MS);
}

void TestDispatcher::queueCommandKeepsLastCommand() {
    Rig rig;
    rig.dispatcher.QueueCommand("FIRST");
    rig.web("WEB-CMD");
    QCOMPARE(rig.vars.LastCommand.bytes(), QByteArray("FIRST")); // web commands never change it
}

void TestDispatcher::refusedWithoutPort() {
    Rig rig;
    rig.port.open = 0;
    rig.dispatcher.QueueCommand("SSD-RSP:2345,REST");
    rig.deliver();
    QCOMPARE(rig.messages.shown, QStringList{QStringLiteral("plain:Порт не открыт")});
    QCOMPARE(rig.queue.count(), 0);
    QVERIFY(rig.port.writes.isEmpty());
    QCOMPARE(rig.vars.LastCommand.bytes(), QByteArray("SSD-RSP:2345,REST"));
}

void TestDispatcher::sendsOneAtATimeInOrder() {
    Rig rig;
    rig.dispatcher.QueueCommand("ONE");
    rig.deliver();
    rig.dispatcher.QueueCommand("TWO");
    rig.dispatcher.QueueCommand("THREE");
    rig.dispatcher.QueueCommand("FOUR");
    rig.deliver();
    QCOMPARE(rig.port.writes, QList<QByteArray>{"ONE\r"});
    for (const QByteArray next : {"TWO\r", "THREE\r", "FOUR\r"}) {
        rig.replyEnds();
        QCOMPARE(rig.port.writes.last(), next);
    }
    rig.replyEnds();
    QCOMPARE(rig.port.writes.size(), 4);
    QCOMPARE(rig.queue.count(), 0);
    QVERIFY(!rig.dispatcher.commandInProgress());
    QVERIFY(!rig.replyWait.isEnabled());
}

void TestDispatcher::startsHeadAfterSeveralAppends() {
    Rig rig;
    rig.dispatcher.appendConsole("A");
    rig.web("B");
    rig.dispatcher.appendConsole("C");
    rig.deliver(); // three lParam 0 messages, handled after all three appends
    QCOMPARE(rig.port.writes, QList<QByteArray>{"A\r"});
    QCOMPARE(rig.queue.count(), 3);
}

void TestDispatcher::promptWithEmptyQueue() {
    Rig rig;
    auto reply = rig.web("WEB");
    rig.deliver();
    rig.replyEnds();
    QCOMPARE(rig.dispatcher.WebReplyReady(), 1);
    rig.dispatcher.clearWebReplyReady();
    rig.replyEnds(); // a prompt that answers nothing: the last head was web-origin
    QCOMPARE(rig.dispatcher.WebReplyReady(), 1);
    QCOMPARE(rig.queue.count(), 0);
    QVERIFY(!rig.dispatcher.commandInProgress());
    QVERIFY(!rig.replyWait.isEnabled());
    QCOMPARE(rig.port.writes.size(), 1);
}

void TestDispatcher::strayPromptDoesNotDropUnsentCommand() {
    Rig rig;
    rig.dispatcher.QueueCommand("WAITING");
    rig.replyEnds(); // arrives before the append's message is handled
    rig.deliver();
    QCOMPARE(rig.port.writes, QList<QByteArray>{"WAITING\r"});
    QCOMPARE(rig.queue.count(), 1);
    QVERIFY(rig.dispatcher.commandInProgress());
}

void TestDispatcher::replyWaitRestartsPerCommand() {
    Rig rig;
    rig.dispatcher.QueueCommand("ONE");
    rig.dispatcher.QueueCommand("TWO");
    rig.deliver();
    QCOMPARE(rig.replyWait.starts, 1);
    rig.replyEnds();
    QCOMPARE(rig.replyWait.starts, 2); // a fresh countdown for the second command
    QVERIFY(rig.replyWait.isEnabled());
}

void TestDispatcher::webAndConsoleGetTheirOwnReplies() {
    Rig rig;
    rig.dispatcher.QueueCommand("CONSOLE");
    auto reply = rig.web("WEB");
    rig.deliver();
    QVERIFY(!rig.dispatcher.webCommandAtHead());
    rig.replyEnds();
    QCOMPARE(rig.dispatcher.WebReplyReady(), 0);
    QVERIFY(rig.dispatcher.webCommandAtHead());
    rig.dispatcher.captureLine(line("W1"));
    rig.dispatcher.captureLine(line("W2<"));
    QCOMPARE(reply->outcome(), WebCommand::Outcome::Waiting);
    rig.replyEnds();
    QCOMPARE(rig.dispatcher.WebReplyReady(), 1);
    QCOMPARE(reply->outcome(), WebCommand::Outcome::Answered);
    QCOMPARE(reply->lines(), (QList<QByteArray>{"W1", "W2<"}));
}

void TestDispatcher::webAtHeadReleasedBeforeNextWrite() {
    Rig rig;
    auto first = rig.web("WEB-1");
    auto second = rig.web("WEB-2");
    rig.dispatcher.appendConsole("CONSOLE");
    rig.deliver();
    rig.dispatcher.captureLine(line("FOR-1"));
    rig.replyEnds(); // the reply wait ran out or the prompt came: same to the dispatcher
    QCOMPARE(first->outcome(), WebCommand::Outcome::Answered);
    QCOMPARE(second->outcome(), WebCommand::Outcome::Waiting);
    rig.dispatcher.captureLine(line("FOR-2"));
    rig.replyEnds();
    QCOMPARE(first->lines(), QList<QByteArray>{"FOR-1"});
    QCOMPARE(second->lines(), QList<QByteArray>{"FOR-2"});
    QCOMPARE(rig.port.writes, (QList<QByteArray>{"WEB-1\r", "WEB-2\r", "CONSOLE\r"}));
}

void TestDispatcher::captureKeepsAtMost256Lines() {
    Rig rig;
    auto reply = rig.web("BIG");
    rig.deliver();
    for (int i = 0; i < 300; ++i)
        rig.dispatcher.captureLine(ReplyLine(QByteArray::number(i)));
    rig.replyEnds();
    const auto lines = reply->lines();
    QCOMPARE(lines.size(), WebCommand::CAPTURE_LINES);
    QCOMPARE(lines.first(), QByteArray("0"));
    QCOMPARE(lines.last(), QByteArray("255"));
}

// A web request released while its command is still on the line (the server was switched
// off) has answered with what it had: lines that still come change nothing of it.
void TestDispatcher::releasedWebCommandCollectsNoMoreLines() {
    Rig rig;
    auto reply = rig.web("WEB");
    rig.deliver();
    rig.dispatcher.captureLine(line("BEFORE"));
    reply->finish(WebCommand::Outcome::Abandoned);
    rig.dispatcher.captureLine(line("AFTER"));
    rig.replyEnds();
    QCOMPARE(reply->outcome(), WebCommand::Outcome::Abandoned);
    QCOMPARE(reply->lines(), QList<QByteArray>{"BEFORE"});
}

void TestDispatcher::portOpenDiscardsQueue() {
    Rig rig;
    auto inProgress = rig.web("WEB-1");
    auto waiting = rig.web("WEB-2");
    rig.dispatcher.QueueCommand("CONSOLE");
    rig.deliver();
    rig.dispatcher.resetForOpen();
    QCOMPARE(inProgress->outcome(), WebCommand::Outcome::Discarded);
    QCOMPARE(waiting->outcome(), WebCommand::Outcome::Discarded);
    QCOMPARE(rig.queue.count(), 0);
    QVERIFY(!rig.dispatcher.commandInProgress());
    QVERIFY(!rig.replyWait.isEnabled()); // the next command gets its full wait
    rig.replyEnds();
    QCOMPARE(rig.port.writes, QList<QByteArray>{"WEB-1\r"}); // the discarded ones never go out
    rig.dispatcher.QueueCommand("AFTER");
    rig.deliver();
    QCOMPARE(rig.port.writes.last(), QByteArray("AFTER\r"));
}

// Names beginning with "W" are web commands; the others are the console's.
void TestDispatcher::switchOffTakesOutWaitingWeb_data() {
    QTest::addColumn<QByteArrayList>("queued");
    QTest::addColumn<bool>("started");           // the head was written before the switch-off
    QTest::addColumn<QByteArrayList>("written"); // everything written, to the end
    QTest::newRow("a web command on the line finishes there")
        << QByteArrayList{"W1", "W2", "C1", "W3"} << true << QByteArrayList{"W1\r", "C1\r"};
    QTest::newRow("nothing written yet: the head goes too")
        << QByteArrayList{"W1", "C1", "W2"} << false << QByteArrayList{"C1\r"};
    QTest::newRow("the console's keep their order")
        << QByteArrayList{"C1", "W1", "C2", "W2", "C3"} << true
        << QByteArrayList{"C1\r", "C2\r", "C3\r"};
}

void TestDispatcher::switchOffTakesOutWaitingWeb() {
    QFETCH(QByteArrayList, queued);
    QFETCH(bool, started);
    QFETCH(QByteArrayList, written);
    Rig rig;
    std::map<QByteArray, std::shared_ptr<WebCommand>> web;
    for (const QByteArray& name : queued)
        if (name.startsWith('W'))
            web[name] = rig.web(name);
        else
            rig.dispatcher.appendConsole(name);
    if (started)
        rig.deliver();
    rig.dispatcher.discardWaitingWeb();
    rig.deliver();
    for (int end = 0; rig.dispatcher.commandInProgress() && end < queued.size(); ++end)
        rig.replyEnds();
    QCOMPARE(rig.port.writes, written);
    QCOMPARE(rig.queue.count(), 0);
    for (const auto& [name, reply] : web)
        QCOMPARE(reply->outcome(), written.contains(name + "\r") ? WebCommand::Outcome::Answered
                                                                 : WebCommand::Outcome::Discarded);
}

void TestDispatcher::queueHolds255() {
    Rig rig;
    for (int i = 0; i < CommandQueue::CAPACITY; ++i)
        QCOMPARE(rig.dispatcher.appendConsole(QByteArray::number(i)), Dispatcher::Append::Queued);
    QCOMPARE(rig.dispatcher.appendWeb("W", "127.0.0.2", std::make_shared<WebCommand>()),
             Dispatcher::Append::QueueFull);
    rig.dispatcher.QueueCommand("ONE-MORE");
    QCOMPARE(rig.messages.shown.size(), 1);
    QVERIFY(rig.messages.shown.first().startsWith(QStringLiteral("plain:")));
    QCOMPARE(rig.queue.count(), CommandQueue::CAPACITY);
    rig.deliver();
    for (int i = 0; i < CommandQueue::CAPACITY; ++i)
        rig.replyEnds();
    QCOMPARE(rig.port.writes.size(), CommandQueue::CAPACITY);
    QCOMPARE(rig.port.writes.last(), QByteArray("254\r"));
}

// Whoever sends it, a command that holds the prompt, a control byte, DEL or 0x98 in what
// would go out is refused before the queue and recorded readably; any other goes out byte
// for byte.
void TestDispatcher::unsafeCommandsNeverQueued_data() {
    QTest::addColumn<int>("origin"); // a CommandSource
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("recorded"); // the refusal's text; empty: written
    const QList<std::pair<QByteArray, QByteArray>> texts{
        {"RTM-RRT:<1", "RTM-RRT:<1"},
        {"<", "<"},
        {"RTM-RRT\x01", "RTM-RRT\\x01"},
        {"RTM-RRT\x08\x08\x08SSD-RSP", "RTM-RRT\\x08\\x08\\x08SSD-RSP"},
        {"RTM-RRT\rSSD-RSP", "RTM-RRT\\x0DSSD-RSP"},
        {"RTM-RRT\x1F", "RTM-RRT\\x1F"},
        {"RTM-RRT\x7F\x7FSSD-RSP", "RTM-RRT\\x7F\\x7FSSD-RSP"},
        {"RTM-RRT\x98", "RTM-RRT\\x98"},
        {QByteArray(39, 'A') + '<', QByteArray(39, 'A') + '<'},
        {"SSD-RSP:2345,REST", {}},
        {"RTM-RRT: > =", {}},
        {"\xD2\xC5\xD1\xD2 \xFF\x80\x97\x99\xA0", {}}, // Cyrillic, "я", the code page's signs
        {QByteArray(40, 'A') + '<', {}},               // the "<" is cut off before the line
    };
    const std::pair<CommandSource, const char*> origins[] = {{CommandSource::Typed, "typed"},
                                                             {CommandSource::Button, "button"},
                                                             {CommandSource::Web, "web"}};
    for (const auto& [origin, name] : origins)
        for (const auto& [text, recorded] : texts)
            QTest::addRow("%s %s", name, CommandText::readable(text).left(24).constData())
                << int(origin) << text << recorded;
}

void TestDispatcher::unsafeCommandsNeverQueued() {
    QFETCH(int, origin);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, recorded);
    RecordingJournal journal;
    DispatcherRig rig(journal);
    rig.port.open = 1;
    auto reply = std::make_shared<WebCommand>();
    Dispatcher::Append appended = Dispatcher::Append::Queued;
    switch (CommandSource(origin)) {
    case CommandSource::Typed:
        appended = rig.dispatcher.appendConsole(text);
        break;
    case CommandSource::Button:
        rig.dispatcher.QueueCommand(text);
        break;
    case CommandSource::Web:
        appended = rig.dispatcher.appendWeb(text, "127.0.0.2", reply);
        break;
    }
    rig.deliver();
    if (recorded.isEmpty()) {
        QCOMPARE(appended, Dispatcher::Append::Queued);
        QCOMPARE(rig.port.writes, QList<QByteArray>{text.left(40) + '\r'});
        QVERIFY(rig.messages.shown.isEmpty());
        QVERIFY(journal.reports().isEmpty());
        return;
    }
    QVERIFY(rig.port.writes.isEmpty());
    QCOMPARE(rig.queue.count(), 0);
    const QByteArray address = CommandSource(origin) == CommandSource::Web ? "127.0.0.2" : "";
    QCOMPARE(journal.reports(), QList<QByteArray>{"refused 7 " + address + ' ' + recorded});
    if (CommandSource(origin) == CommandSource::Button)
        QCOMPARE(rig.messages.shown,
                 QStringList{QStringLiteral("plain:") +
                             CommandText::refusalText(*CommandText::unsafeByte(text))});
    else
        QCOMPARE(appended, Dispatcher::Append::Refused);
    QCOMPARE(reply->outcome(), WebCommand::Outcome::Waiting); // the caller answers the request
}

// Web users append from their own threads while the window thread dispatches.
void TestDispatcher::appendsFromManyThreads() {
    Rig rig;
    constexpr int THREADS = 4;
    constexpr int EACH = 50;
    std::vector<std::shared_ptr<WebCommand>> replies(THREADS * EACH);
    std::vector<std::thread> users;
    for (int t = 0; t < THREADS; ++t)
        users.emplace_back([&, t] {
            for (int i = 0; i < EACH; ++i) {
                replies[t * EACH + i] = std::make_shared<WebCommand>();
                while (rig.dispatcher.appendWeb(QByteArray::number(t * EACH + i), "127.0.0.2",
                                                replies[t * EACH + i]) !=
                       Dispatcher::Append::Queued)
                    std::this_thread::yield();
            }
        });
    int answered = 0;
    while (answered < THREADS * EACH) {
        rig.deliver();
        if (rig.dispatcher.commandInProgress()) {
            rig.dispatcher.captureLine(ReplyLine(rig.port.writes.last().chopped(1)));
            rig.replyEnds();
            ++answered;
        } else {
            std::this_thread::yield();
        }
    }
    for (auto& user : users)
        user.join();
    QCOMPARE(rig.port.writes.size(), THREADS * EACH);
    for (int i = 0; i < THREADS * EACH; ++i) {
        QCOMPARE(replies[i]->outcome(), WebCommand::Outcome::Answered);
        QCOMPARE(replies[i]->lines(), QList<QByteArray>{QByteArray::number(i)}); // its own reply
    }
}

// Steps: "web X" / "console X" queue a command, "lost" and "back" are the line's loss and
// return, "prompt" ends the reply on the line, "tick N" moves the clock, "fire" runs the line
// wait's timer if it is set (a timer that fires early ends nothing). What was written and how each
// web command ended is compared, and when the line wait's timer would fire next.
void TestDispatcher::lostLineHoldsTheQueue_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("outcomes");
    QTest::addColumn<int>("nextWaitEnd"); // -1: no timer set
    QTest::newRow("the command on the line ends with what came; the next waits for the return")
        << QStringList{"web A", "web B", "lost", "back"} << "A|B"
        << "A=lost B=waiting" << -1;
    QTest::newRow("a web command waits 60 s for the line, then ends unsent, for good")
        << QStringList{"lost", "web A", "tick 59999", "fire", "tick 1", "fire", "back"} << ""
        << "A=down" << -1;
    QTest::newRow("waits count from the loss, or from the queuing when it came later")
        << QStringList{"web A", "web B", "tick 10000", "lost", "tick 50000",
                       "web C", "fire",  "tick 10000", "fire"}
        << "A"
        << "A=lost B=down C=waiting" << 50000;
    QTest::newRow("console commands wait as long as it takes, web ones around them end")
        << QStringList{"lost",       "console K", "web A", "console L",
                       "tick 60000", "fire",      "back",  "prompt"}
        << "K|L"
        << "A=down" << -1;
    QTest::newRow("the return ends the web waits; the queue goes on in order")
        << QStringList{"console K", "web A", "lost", "web B", "tick 1000", "back"} << "K|A"
        << "A=waiting B=waiting" << -1;
}

void TestDispatcher::lostLineHoldsTheQueue() {
    QFETCH(QStringList, steps);
    Rig rig;
    std::map<QString, std::shared_ptr<WebCommand>> web;
    for (const QString& step : steps) {
        const QString word = step.section(QLatin1Char(' '), 0, 0);
        const QString rest = step.section(QLatin1Char(' '), 1);
        if (word == QLatin1String("web"))
            web[rest] = rig.web(rest.toLatin1());
        else if (word == QLatin1String("console"))
            rig.dispatcher.appendConsole(rest.toLatin1());
        else if (word == QLatin1String("lost"))
            rig.dispatcher.lineLost();
        else if (word == QLatin1String("back"))
            rig.dispatcher.lineBack();
        else if (word == QLatin1String("tick"))
            rig.now += rest.toLongLong();
        else if (word == QLatin1String("fire"))
            rig.lineWait.elapse();
        else if (word == QLatin1String("prompt"))
            rig.replyEnds();
        rig.deliver();
    }
    QStringList written;
    for (const QByteArray& bytes : rig.port.writes)
        written << QString::fromLatin1(bytes.chopped(1));
    QTEST(written.join(QLatin1Char('|')), "written");
    const std::map<WebCommand::Outcome, QString> names{{WebCommand::Outcome::Waiting, "waiting"},
                                                       {WebCommand::Outcome::LineLost, "lost"},
                                                       {WebCommand::Outcome::LineDown, "down"}};
    QStringList outcomes;
    for (const auto& [name, command] : web)
        outcomes << name + QLatin1Char('=') + names.at(command->outcome());
    QTEST(outcomes.join(QLatin1Char(' ')), "outcomes");
    QTEST(rig.lineWait.isEnabled() ? rig.lineWait.interval() : -1, "nextWaitEnd");
}

QTEST_APPLESS_MAIN(TestDispatcher)
#include "tst_dispatcher.moc"
