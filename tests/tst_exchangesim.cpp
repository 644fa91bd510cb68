// Checks the simulated exchange from the terminal's side of its pty, opened
// the way KORVANT opens a serial port.

#include "SimulatedExchange.h"

#include <QTest>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Generous for sanitizer builds on a busy machine; a passing run never
// waits this long.
constexpr auto kTimeout = 10s;

QByteArray bytes(const std::string& text) {
    return QByteArray::fromStdString(text);
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (auto end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    lines.push_back(text.substr(start));
    return lines;
}

// The command each prompt-terminated reply repeats: its first non-empty line.
QStringList echoedCommands(const std::string& text) {
    QStringList commands;
    std::size_t start = 0;
    for (auto end = text.find('<'); end != std::string::npos; end = text.find('<', start)) {
        for (const auto& line : splitLines(text.substr(start, end - start))) {
            if (!line.empty()) {
                commands << QString::fromLatin1(line);
                break;
            }
        }
        start = end + 1;
    }
    return commands;
}

// Numbers of the flood lines in `text`, in the order they arrived.
std::vector<long> floodNumbers(const std::string& text) {
    std::vector<long> numbers;
    for (const auto& line : splitLines(text)) {
        long number = 0;
        if (std::sscanf(line.c_str(), "FLOOD %ld", &number) == 1)
            numbers.push_back(number);
    }
    return numbers;
}

std::string floodTag(long number) {
    char tag[32];
    std::snprintf(tag, sizeof tag, "FLOOD %07ld ", number);
    return tag;
}

bool containsLineWith(const std::string& text, const std::string& start) {
    const auto at = text.find(start);
    return at != std::string::npos && text.find("\r\n", at) != std::string::npos;
}

bool hasReplyTo(const std::string& text, const std::string& command) {
    const auto at = text.find("\r\n" + command + "\r\n");
    return at != std::string::npos && text.find('<', at) != std::string::npos;
}

std::chrono::milliseconds processCpuTime() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  std::chrono::nanoseconds(now.tv_nsec));
}

// The terminal's end of the line, opened like KORVANT opens a serial port:
// non-blocking, locked, exclusive, raw without touching c_cflag, queues purged.
class Terminal {
public:
    explicit Terminal(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        if (fd_ < 0)
            return;
        termios mode{};
        tcgetattr(fd_, &mode);
        const tcflag_t control = mode.c_cflag;
        cfmakeraw(&mode);
        mode.c_cflag = control;
        const bool ready = ::flock(fd_, LOCK_EX | LOCK_NB) == 0 && ::ioctl(fd_, TIOCEXCL) == 0 &&
                           tcsetattr(fd_, TCSANOW, &mode) == 0 && tcflush(fd_, TCIOFLUSH) == 0;
        if (!ready) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Terminal() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    const std::string& text() const { return text_; }

    bool send(const std::string& data) {
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t written = ::write(fd_, data.data() + done, data.size() - done);
            if (written > 0)
                done += static_cast<std::size_t>(written);
            else if (written < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            else if (!waitFor(POLLOUT, Clock::now() + kTimeout))
                return false;
        }
        return true;
    }

    // Reads until `done(text())` holds; false if the time runs out first.
    bool readUntil(const std::function<bool(const std::string&)>& done) {
        const auto deadline = Clock::now() + kTimeout;
        while (!done(text_)) {
            if (!waitFor(POLLIN, deadline))
                return false;
            char buffer[65536];
            const ssize_t size = ::read(fd_, buffer, sizeof buffer);
            if (size > 0)
                text_.append(buffer, static_cast<std::size_t>(size));
            else if (size == 0 || (errno != EAGAIN && errno != EINTR))
                return false;
        }
        return true;
    }

    bool readUntilContains(const std::string& needle) {
        return readUntil(
            [&](const std::string& text) { return text.find(needle) != std::string::npos; });
    }

    bool readUntilReplyTo(const std::string& command) {
        return readUntil([&](const std::string& text) { return hasReplyTo(text, command); });
    }

    // True once the line reports a hang-up: POLLHUP, end of file or EIO.
    bool waitForHangUp() {
        const auto deadline = Clock::now() + kTimeout;
        while (Clock::now() < deadline) {
            pollfd entry{.fd = fd_, .events = POLLIN, .revents = 0};
            if (::poll(&entry, 1, 100) > 0 && (entry.revents & POLLHUP))
                return true;
            char buffer[4096];
            const ssize_t size = ::read(fd_, buffer, sizeof buffer);
            if (size == 0 || (size < 0 && errno == EIO))
                return true;
        }
        return false;
    }

private:
    bool waitFor(short events, Clock::time_point deadline) {
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left <= 0ms)
                return false;
            pollfd entry{.fd = fd_, .events = events, .revents = 0};
            const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
            if (ready > 0)
                return true;
            if (ready < 0 && errno != EINTR)
                return false;
        }
    }

    int fd_;
    std::string text_;
};

} // namespace

class TestExchangeSim : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void replyRepeatsCommand_data();
    void replyRepeatsCommand();
    void bareCrGetsJustAPrompt();
    void receivedKeepsEveryByte_data();
    void receivedKeepsEveryByte();
    void answersInOrderSkippingSilenced_data();
    void answersInOrderSkippingSilenced();
    void stopWhenIdleIsIgnored();
    void stopEndsFloodWithPrompt();
    void floodDeliversExactlyNumberedLines_data();
    void floodDeliversExactlyNumberedLines();
    void unsolicitedLineArrives_data();
    void unsolicitedLineArrives();
    void hangUpIsSeenByTerminal_data();
    void hangUpIsSeenByTerminal();
    void brokenReplyStopsBeforeItsPrompt();
    void reconnectBringsTheLineBack();
    void staysIdleWhenNothingMoves_data();
    void staysIdleWhenNothingMoves();

private:
    std::optional<sim::SimulatedExchange> exchange_;
    std::optional<Terminal> terminal_;
};

void TestExchangeSim::init() {
    exchange_.emplace();
    QVERIFY2(exchange_->start(), exchange_->errorText().c_str());
    terminal_.emplace(exchange_->linePath());
    QVERIFY2(terminal_->isOpen(), exchange_->linePath().c_str());
}

void TestExchangeSim::cleanup() {
    terminal_.reset();
    exchange_.reset();
}

void TestExchangeSim::replyRepeatsCommand_data() {
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("echo");

    QTest::newRow("plain") << QByteArray("RTM-RRT\r") << QByteArray("RTM-RRT");
    QTest::newRow("punctuation") << QByteArray("AB-CD:1,2,3;\r") << QByteArray("AB-CD:1,2,3;");
    QTest::newRow("cp1251") << QByteArray("\xCF\xD0\xCE\xC2\xC5\xD0\xCA\xC0 1\r")
                            << QByteArray("\xCF\xD0\xCE\xC2\xC5\xD0\xCA\xC0 1");
    QTest::newRow("LF dropped") << QByteArray("AB\nCD\r") << QByteArray("ABCD");
    QTest::newRow("other controls dropped") << QByteArray("\nA\tB\x1b\x7f\r") << QByteArray("AB");
}

void TestExchangeSim::replyRepeatsCommand() {
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, echo);

    QVERIFY(terminal_->send(sent.toStdString()));
    QVERIFY(terminal_->readUntil([](const std::string& text) { return text.ends_with('<'); }));

    const std::string& reply = terminal_->text();
    QVERIFY2(reply.starts_with("\r\n" + echo.toStdString() + "\r\n"), reply.c_str());
    QVERIFY(reply.ends_with("\r\n<"));
    QCOMPARE(std::count(reply.begin(), reply.end(), '<'), std::ptrdiff_t(1));
    const auto cyrillic =
        std::count_if(reply.begin() + 2 + echo.size(), reply.end(),
                      [](char byte) { return static_cast<unsigned char>(byte) >= 0xC0; });
    QVERIFY2(cyrillic > 0, "no cp1251 text of the exchange's own in the reply");
}

void TestExchangeSim::bareCrGetsJustAPrompt() {
    QVERIFY(terminal_->send("\r"));
    QVERIFY(terminal_->readUntilContains("<"));
    QCOMPARE(bytes(terminal_->text()), QByteArray("\r\n<"));
}

void TestExchangeSim::receivedKeepsEveryByte_data() {
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("command") << QByteArray("RTM-RRT\r");
    QTest::newRow("controls and stop") << QByteArray("\x01\x02\t\nA\x1b\r\n\r");
    QTest::newRow("cp1251 and NUL") << QByteArray("\xCF\xD0\xC8\0Z\r", 6);
    QTest::newRow("no CR") << QByteArray("HALF");
}

void TestExchangeSim::receivedKeepsEveryByte() {
    QFETCH(QByteArray, sent);
    const std::string data = sent.toStdString();

    QVERIFY(terminal_->send(data));
    QVERIFY(exchange_->waitForReceived(data, kTimeout));
    QCOMPARE(bytes(exchange_->received()), sent);
    QCOMPARE(exchange_->commandsReceived(), static_cast<int>(sent.count('\r')));

    exchange_->clearReceived();
    QVERIFY(terminal_->send("NEXT\r"));
    QVERIFY(exchange_->waitForReceived("NEXT\r", kTimeout));
    QCOMPARE(bytes(exchange_->received()), QByteArray("NEXT\r"));
}

void TestExchangeSim::answersInOrderSkippingSilenced_data() {
    QTest::addColumn<int>("silenced");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QStringList>("answered");

    QTest::newRow("three back-to-back")
        << 0 << QStringList{"ONE", "TWO", "THREE"} << QStringList{"ONE", "TWO", "THREE"};
    QTest::newRow("first silenced") << 1 << QStringList{"QUIET", "LOUD"} << QStringList{"LOUD"};
    QTest::newRow("two silenced") << 2 << QStringList{"A1", "A2", "A3", "A4"}
                                  << QStringList{"A3", "A4"};
}

void TestExchangeSim::answersInOrderSkippingSilenced() {
    QFETCH(int, silenced);
    QFETCH(QStringList, sent);
    QFETCH(QStringList, answered);

    if (silenced > 0)
        exchange_->silenceNext(silenced);
    QVERIFY(terminal_->send((sent.join('\r') + '\r').toStdString()));
    QVERIFY(terminal_->readUntilReplyTo(sent.last().toStdString()));

    QCOMPARE(echoedCommands(terminal_->text()), answered);
    QCOMPARE(exchange_->commandsReceived(), static_cast<int>(sent.size()));
}

void TestExchangeSim::stopWhenIdleIsIgnored() {
    // Were the stray 0x01 answered, its prompt would come before the reply.
    QVERIFY(terminal_->send("\x01Q\r"));
    QVERIFY(terminal_->readUntilReplyTo("Q"));
    QVERIFY2(terminal_->text().starts_with("\r\nQ\r\n"), terminal_->text().c_str());
    QCOMPARE(echoedCommands(terminal_->text()), QStringList{"Q"});
}

void TestExchangeSim::stopEndsFloodWithPrompt() {
    constexpr long total = 1'000'000;
    exchange_->flood(total);
    QVERIFY(terminal_->readUntil(
        [](const std::string& text) { return containsLineWith(text, floodTag(100)); }));
    QVERIFY(terminal_->send("\x01"));
    QVERIFY(terminal_->readUntilContains("<"));

    // Only what was already on its way arrives, in order and unbroken.
    const std::string stopped = terminal_->text();
    QVERIFY2(stopped.ends_with("\r\n<"),
             stopped.substr(stopped.size() - std::min<std::size_t>(80, stopped.size())).c_str());
    const auto numbers = floodNumbers(stopped);
    QVERIFY2(numbers.size() < static_cast<std::size_t>(total / 10),
             std::to_string(numbers.size()).c_str());
    for (std::size_t i = 0; i < numbers.size(); ++i)
        QCOMPARE(numbers[i], static_cast<long>(i + 1));

    // Nothing more of the flood follows; the next command is answered.
    QVERIFY(terminal_->send("AFTER\r"));
    QVERIFY(terminal_->readUntilReplyTo("AFTER"));
    const std::string after = terminal_->text().substr(stopped.size());
    QVERIFY2(after.find("FLOOD") == std::string::npos, after.c_str());
    QCOMPARE(echoedCommands(after), QStringList{"AFTER"});
}

// A paced flood brings its last line no sooner than its pace allows.
void TestExchangeSim::floodDeliversExactlyNumberedLines_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("linesPerSecond"); // 0: as fast as the line takes them

    QTest::newRow("one") << 1 << 0;
    QTest::newRow("a few") << 7 << 0;
    QTest::newRow("more than the line buffers") << 20'000 << 0;
    QTest::newRow("paced") << 101 << 1000;
}

void TestExchangeSim::floodDeliversExactlyNumberedLines() {
    QFETCH(int, count);
    QFETCH(int, linesPerSecond);

    const auto start = Clock::now();
    exchange_->flood(count, linesPerSecond);
    QVERIFY(terminal_->readUntil(
        [&](const std::string& text) { return containsLineWith(text, floodTag(count)); }));
    if (linesPerSecond > 0)
        QVERIFY(Clock::now() - start >=
                std::chrono::milliseconds(1000 * (count - 1) / linesPerSecond));
    // A reply is queued behind the flood, so once it is in every line is.
    QVERIFY(terminal_->send("DONE\r"));
    QVERIFY(terminal_->readUntilReplyTo("DONE"));

    const std::string& text = terminal_->text();
    const auto numbers = floodNumbers(text);
    QCOMPARE(numbers.size(), static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < numbers.size(); ++i)
        QCOMPARE(numbers[i], static_cast<long>(i + 1));
    const auto afterFlood = text.find("\r\n", text.find(floodTag(count))) + 2;
    QCOMPARE(echoedCommands(text.substr(afterFlood)), QStringList{"DONE"});
}

void TestExchangeSim::unsolicitedLineArrives_data() {
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("ascii") << QByteArray("ALARM 12 TRUNK 3 DOWN");
    QTest::newRow("cp1251") << QByteArray("\xC0\xC2\xC0\xD0\xC8\xDF 12");
}

void TestExchangeSim::unsolicitedLineArrives() {
    QFETCH(QByteArray, line);

    exchange_->sendUnsolicited(line.toStdString());
    QVERIFY(terminal_->readUntilContains(line.toStdString() + "\r\n"));
    QCOMPARE(bytes(terminal_->text()), "\r\n" + line + "\r\n");
}

void TestExchangeSim::hangUpIsSeenByTerminal_data() {
    QTest::addColumn<bool>("flooding");

    QTest::newRow("idle") << false;
    QTest::newRow("line full") << true;
}

void TestExchangeSim::hangUpIsSeenByTerminal() {
    QFETCH(bool, flooding);

    if (flooding)
        exchange_->flood(1'000'000);
    exchange_->hangUp();
    QVERIFY(terminal_->waitForHangUp());

    // Control calls after the hang-up are harmless no-ops.
    exchange_->sendUnsolicited("LATE");
    exchange_->flood(10);
    exchange_->hangUp();
}

void TestExchangeSim::brokenReplyStopsBeforeItsPrompt() {
    exchange_->breakReplyAfter(1);
    QVERIFY(terminal_->send("ONE\rTWO\r"));
    QVERIFY(terminal_->readUntilContains("\r\nEND 0002\r\n"));
    QVERIFY(containsLineWith(terminal_->text(), "TWO"));
    QCOMPARE(echoedCommands(terminal_->text()), QStringList{"ONE"}); // the only prompt
    QVERIFY(terminal_->send("THREE\r"));
    QVERIFY(terminal_->readUntilReplyTo("THREE")); // whole again
}

void TestExchangeSim::reconnectBringsTheLineBack() {
    exchange_->hangUp();
    QVERIFY(terminal_->waitForHangUp());
    terminal_.reset();
    QVERIFY2(exchange_->reconnect(), exchange_->errorText().c_str());
    terminal_.emplace(exchange_->linePath());
    QVERIFY(terminal_->isOpen());
    QVERIFY(terminal_->send("AGAIN\r"));
    QVERIFY(terminal_->readUntilReplyTo("AGAIN"));
    exchange_->hangUp(); // and it goes down again as often as asked
    QVERIFY(terminal_->waitForHangUp());
}

void TestExchangeSim::staysIdleWhenNothingMoves_data() {
    QTest::addColumn<bool>("flooding");

    QTest::newRow("nothing to send") << false;
    QTest::newRow("line full, nobody reading") << true;
}

void TestExchangeSim::staysIdleWhenNothingMoves() {
    QFETCH(bool, flooding);

    if (flooding) {
        exchange_->flood(1'000'000);
        QVERIFY(terminal_->readUntilContains(floodTag(1)));
    }
    // A spinning service thread would burn the whole window; there is no
    // event to wait for here, so a fixed window is the measurement itself.
    constexpr auto window = 300ms;
    const auto before = processCpuTime();
    std::this_thread::sleep_for(window);
    const auto used = processCpuTime() - before;
    QVERIFY2(used < window / 3, (std::to_string(used.count()) + " ms of CPU").c_str());
}

QTEST_APPLESS_MAIN(TestExchangeSim)

#include "tst_exchangesim.moc"
