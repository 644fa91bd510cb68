#include "SimulatedExchange.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr char kStop = '\x01';
constexpr char kCr = '\r';
// "КОМАНДА ВЫПОЛНЕНА" (command completed) in code page 1251.
constexpr char kDoneCp1251[] = "\xCA\xCE\xCC\xC0\xCD\xC4\xC0 \xC2\xDB\xCF\xCE\xCB\xCD\xC5\xCD\xC0";
// Pads a flood line ("FLOOD 0000001 ") to 40 characters.
constexpr char kFloodPadding[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";

// How much output is gathered for one write, and how much is written before
// the service thread looks at its input again (so 0x01 is seen promptly).
constexpr std::size_t kChunkBytes = 4096;
constexpr std::size_t kWriteBudget = 64 * 1024;

using SteadyClock = std::chrono::steady_clock;

bool isControl(char byte) {
    const auto value = static_cast<unsigned char>(byte);
    return value < 0x20 || value == 0x7F;
}

std::string replyTo(const std::string& command, int number) {
    if (command.empty())
        return "\r\n<";
    char end[32];
    std::snprintf(end, sizeof end, "END %04d", number);
    return "\r\n" + command + "\r\n" + kDoneCp1251 + "\r\n" + end + "\r\n<";
}

void appendFloodLine(std::string& out, long number) {
    char line[64];
    const int size = std::snprintf(line, sizeof line, "FLOOD %07ld %s\r\n", number, kFloodPadding);
    out.append(line, static_cast<std::size_t>(size));
}

bool makeRaw(int fd) {
    termios mode{};
    if (tcgetattr(fd, &mode) != 0)
        return false;
    cfmakeraw(&mode);
    return tcsetattr(fd, TCSANOW, &mode) == 0;
}

bool setNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

// Every flood line unless the flood is paced; then the first goes at once and one more
// with each 1/linesPerSecond of a second.
long SimulatedExchange::Output::lastDue(SteadyClock::time_point now) const {
    if (linesPerSecond <= 0)
        return floodLast;
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - paceStart);
    return std::min(floodLast, 1 + static_cast<long>(elapsed.count() * linesPerSecond / 1'000'000));
}

bool SimulatedExchange::Output::sendable(SteadyClock::time_point now) const {
    return now >= notBefore && (!text.empty() || floodNext <= lastDue(now));
}

SimulatedExchange::SimulatedExchange() : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

SimulatedExchange::~SimulatedExchange() {
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    wake();
    if (thread_.joinable())
        thread_.join();
    closeFd(masterFd_);
    closeFd(slaveFd_);
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

bool SimulatedExchange::start() {
    if (thread_.joinable() || masterFd_ >= 0)
        return fail("already started", EALREADY);
    if (wakeFd_ < 0)
        return fail("could not create the wake-up eventfd", 0);
    if (!openLine())
        return false;
    {
        std::lock_guard lock(mutex_);
        lineUp_ = true;
    }
    thread_ = std::thread(&SimulatedExchange::run, this);
    return true;
}

// Opens a fresh pty pair; on failure nothing stays open.
bool SimulatedExchange::openLine() {
    const auto failed = [this](const std::string& what, int error = errno) {
        closeFd(masterFd_);
        closeFd(slaveFd_);
        return fail(what, error);
    };
    masterFd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (masterFd_ < 0)
        return failed("posix_openpt");
    if (grantpt(masterFd_) != 0 || unlockpt(masterFd_) != 0)
        return failed("grantpt/unlockpt");
    char name[128];
    if (const int error = ptsname_r(masterFd_, name, sizeof name); error != 0)
        return failed("ptsname", error);
    // Holding the slave open keeps the master from reporting a hang-up
    // whenever the terminal is not attached.
    slaveFd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd_ < 0)
        return failed(std::string("open ") + name);
    // Raw on both ends: nothing echoed, no CR/LF translation, no signals.
    if (!makeRaw(slaveFd_) || !makeRaw(masterFd_))
        return failed("raw mode");
    if (!setNonBlocking(masterFd_))
        return failed("non-blocking master");
    std::lock_guard lock(mutex_);
    path_ = name;
    return true;
}

bool SimulatedExchange::fail(const std::string& what, int error) {
    std::lock_guard lock(mutex_);
    error_ = error == 0 ? what : what + ": " + std::generic_category().message(error);
    return false;
}

std::string SimulatedExchange::errorText() const {
    std::lock_guard lock(mutex_);
    return error_;
}

std::string SimulatedExchange::linePath() const {
    std::lock_guard lock(mutex_);
    return path_;
}

void SimulatedExchange::setCommandObserver(CommandObserver observer) {
    observer_ = std::move(observer);
}

void SimulatedExchange::sendUnsolicited(const std::string& line) {
    {
        std::lock_guard lock(mutex_);
        if (!lineUp_)
            return;
        queue_.push_back({"\r\n" + line + "\r\n"});
    }
    wake();
}

void SimulatedExchange::delayReplies(std::chrono::milliseconds delay) {
    {
        std::lock_guard lock(mutex_);
        replyDelay_ = delay;
    }
    wake();
}

void SimulatedExchange::silenceNext(int commands) {
    std::lock_guard lock(mutex_);
    silence_ += std::max(commands, 0);
}

void SimulatedExchange::flood(int lines, int linesPerSecond) {
    {
        std::lock_guard lock(mutex_);
        if (!lineUp_ || lines <= 0)
            return;
        // The leading CR LF puts the first line at the start of a line.
        queue_.push_back({"\r\n", 1, lines, std::max(linesPerSecond, 0), SteadyClock::now()});
    }
    wake();
}

void SimulatedExchange::breakReplyAfter(int wholeReplies) {
    std::lock_guard lock(mutex_);
    breakAfter_ = std::max(wholeReplies, 0);
}

void SimulatedExchange::hangUp() {
    std::unique_lock lock(mutex_);
    if (!lineUp_)
        return;
    hangUpRequested_ = true;
    wake();
    changed_.wait(lock, [this] { return !lineUp_; });
}

bool SimulatedExchange::reconnect() {
    std::unique_lock lock(mutex_);
    if (lineUp_ || !thread_.joinable())
        return lineUp_;
    reconnectRequested_ = true;
    wake();
    changed_.wait(lock, [this] { return !reconnectRequested_; });
    return lineUp_;
}

std::string SimulatedExchange::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

void SimulatedExchange::clearReceived() {
    std::lock_guard lock(mutex_);
    received_.clear();
}

bool SimulatedExchange::waitForReceived(const std::string& needle,
                                        std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout,
                             [&] { return received_.find(needle) != std::string::npos; });
}

int SimulatedExchange::commandsReceived() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

void SimulatedExchange::wake() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
}

// The service loop: sleeps in poll() until there is input, room for pending
// output, a control request or the next line of a paced flood. Asks for POLLOUT
// only while output is pending, so a full line with nobody reading costs nothing.
void SimulatedExchange::run() {
    while (serviceControl()) {
        const bool pending = outputPending();
        pollfd fds[2] = {
            {.fd = wakeFd_, .events = POLLIN, .revents = 0},
            {.fd = masterFd_,
             .events = static_cast<short>(POLLIN | (pending ? POLLOUT : 0)),
             .revents = 0},
        };
        if (::poll(fds, 2, pending ? -1 : msUntilDue()) < 0 && errno != EINTR)
            return;
        if (masterFd_ >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
            readInput();
        if (masterFd_ >= 0 && (fds[1].revents & POLLOUT))
            writeOutput();
    }
    closeLine(); // nobody waiting in hangUp() may be left hanging
}

// Drains the wake-up counter and acts on hang-up and reconnection; false once
// asked to stop.
bool SimulatedExchange::serviceControl() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto drained = ::read(wakeFd_, &count, sizeof count);
    bool hangUp = false;
    bool reconnect = false;
    {
        std::lock_guard lock(mutex_);
        if (stopRequested_)
            return false;
        hangUp = hangUpRequested_ && lineUp_;
        reconnect = reconnectRequested_;
    }
    if (hangUp)
        closeLine();
    if (reconnect) {
        const bool up = openLine();
        {
            std::lock_guard lock(mutex_);
            lineUp_ = up;
            reconnectRequested_ = false;
        }
        changed_.notify_all();
    }
    return true;
}

void SimulatedExchange::closeLine() {
    closeFd(masterFd_);
    closeFd(slaveFd_);
    out_.clear();
    outPos_ = 0;
    command_.clear();
    {
        std::lock_guard lock(mutex_);
        lineUp_ = false;
        hangUpRequested_ = false;
        queue_.clear();
    }
    changed_.notify_all();
}

void SimulatedExchange::readInput() {
    char buffer[4096];
    const ssize_t size = ::read(masterFd_, buffer, sizeof buffer);
    if (size < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (size <= 0) {
        closeLine(); // the line itself has gone away
        return;
    }
    std::deque<std::string> finished;
    {
        std::lock_guard lock(mutex_);
        received_.append(buffer, static_cast<std::size_t>(size));
        for (ssize_t i = 0; i < size; ++i)
            acceptByte(buffer[i], finished);
    }
    changed_.notify_all();
    if (observer_) {
        for (const auto& command : finished)
            observer_(command);
    }
}

// Called with mutex_ held.
void SimulatedExchange::acceptByte(char byte, std::deque<std::string>& finished) {
    if (byte == kCr)
        finishCommand(finished);
    else if (byte == kStop)
        stopOutput();
    else if (!isControl(byte))
        command_ += byte;
}

// Called with mutex_ held.
void SimulatedExchange::queueReply(std::string reply) {
    Output output{std::move(reply)};
    output.notBefore = SteadyClock::now() + replyDelay_;
    queue_.push_back(std::move(output));
}

void SimulatedExchange::finishCommand(std::deque<std::string>& finished) {
    ++commands_;
    if (silence_ > 0) {
        --silence_;
    } else if (breakAfter_ == 0) {
        std::string reply = replyTo(command_, commands_);
        reply.pop_back(); // the prompt never comes
        queueReply(std::move(reply));
        breakAfter_ = -1;
    } else {
        if (breakAfter_ > 0)
            --breakAfter_;
        queueReply(replyTo(command_, commands_));
    }
    finished.push_back(std::move(command_));
    command_.clear();
}

// Called with mutex_ held. Drops everything not yet written and gives the
// operator a prompt; with nothing being output, 0x01 means nothing.
void SimulatedExchange::stopOutput() {
    if (outPos_ == out_.size() && queue_.empty())
        return;
    out_.clear();
    outPos_ = 0;
    queue_.clear();
    queue_.push_back({"\r\n<"});
}

bool SimulatedExchange::outputPending() const {
    if (outPos_ < out_.size())
        return true;
    std::lock_guard lock(mutex_);
    return !queue_.empty() && queue_.front().sendable(SteadyClock::now());
}

// How long the service thread may sleep before the next line of a paced flood
// is due; -1 (no limit) when nothing waits for its time.
int SimulatedExchange::msUntilDue() const {
    std::lock_guard lock(mutex_);
    if (queue_.empty())
        return -1;
    const Output& front = queue_.front();
    if (front.notBefore > SteadyClock::now())
        return static_cast<int>(
            std::chrono::ceil<std::chrono::milliseconds>(front.notBefore - SteadyClock::now())
                .count());
    if (front.linesPerSecond <= 0)
        return -1;
    const long rate = front.linesPerSecond;
    const auto due = front.paceStart + std::chrono::microseconds(
                                           ((front.floodNext - 1) * 1'000'000 + rate - 1) / rate);
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - SteadyClock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0));
}

// Writes until the line is full or the budget is spent; partial writes leave
// the rest in out_ for the next POLLOUT.
void SimulatedExchange::writeOutput() {
    std::size_t budget = kWriteBudget;
    while (budget > 0) {
        if (outPos_ == out_.size() && !refill())
            return;
        const std::size_t size = std::min(budget, out_.size() - outPos_);
        const ssize_t written = ::write(masterFd_, out_.data() + outPos_, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return; // EAGAIN: wait for POLLOUT; a dead line shows up as input
        outPos_ += static_cast<std::size_t>(written);
        budget -= static_cast<std::size_t>(written);
    }
}

// Moves up to a chunk of queued output into out_, producing flood lines only
// as they are needed. False when there is nothing to send now.
bool SimulatedExchange::refill() {
    out_.clear();
    outPos_ = 0;
    std::lock_guard lock(mutex_);
    const auto now = SteadyClock::now();
    while (!queue_.empty() && out_.size() < kChunkBytes) {
        Output& front = queue_.front();
        if (front.notBefore > now)
            break; // a slow reply, not due yet
        out_ += front.text;
        front.text.clear();
        const long last = front.lastDue(now);
        for (; front.floodNext <= last && out_.size() < kChunkBytes; ++front.floodNext)
            appendFloodLine(out_, front.floodNext);
        if (front.floodNext > front.floodLast)
            queue_.pop_front();
        else if (front.floodNext > last)
            break; // the rest of a paced flood is not due yet
    }
    return !out_.empty();
}

} // namespace sim
