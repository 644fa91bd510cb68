#pragma once

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace sim {

// A stand-in for the exchange at the far end of the serial line. It owns a
// pseudo-terminal pair; the terminal opens the slave side (linePath()) as if
// it were a serial port. Commands end with CR, every reply ends with the
// prompt "<", and the byte 0x01 stops any output in progress.
//
// One service thread does all the line I/O. The control calls below may be
// made from any thread.
class SimulatedExchange {
public:
    using CommandObserver = std::function<void(const std::string& command)>;

    SimulatedExchange();
    ~SimulatedExchange();
    SimulatedExchange(const SimulatedExchange&) = delete;
    SimulatedExchange& operator=(const SimulatedExchange&) = delete;

    // Opens the pty pair and starts the service thread. On failure returns
    // false and errorText() says why.
    bool start();
    std::string errorText() const;
    // Path of the slave side, e.g. /dev/pts/7.
    std::string linePath() const;

    // Called on the service thread with each complete command's text. Set it
    // before start().
    void setCommandObserver(CommandObserver observer);

    // Sends one line that answers no command, framed as "\r\n" + line + "\r\n",
    // so that it is a whole line the moment it arrives.
    void sendUnsolicited(const std::string& line);
    // The next `commands` commands get no reply at all, not even a prompt.
    void silenceNext(int commands = 1);
    // Sends `lines` numbered lines with no prompt at the end: as fast as the
    // line takes them or, with `linesPerSecond` above 0, at that pace from
    // this call on, as a slower line would bring them. They are produced
    // lazily, one chunk at a time.
    void flood(int lines, int linesPerSecond = 0);
    // From now on every reply comes `delay` after its command, as from a slow
    // exchange (0: at once).
    void delayReplies(std::chrono::milliseconds delay);
    // After `wholeReplies` more commands have had their whole reply, the
    // next reply stops in the middle: its lines come, its prompt never does.
    void breakReplyAfter(int wholeReplies);
    // Closes our side of the line (like pulling the cable). Returns once it
    // is closed; nothing is sent or received afterwards.
    void hangUp();
    // Plugs the line in again after a hang-up, on a fresh pseudo-terminal
    // (linePath() names it). Returns once it is up; false if it could not be.
    bool reconnect();

    // Every byte received from the terminal, in order, exactly as received.
    std::string received() const;
    void clearReceived();
    bool waitForReceived(const std::string& needle, std::chrono::milliseconds timeout) const;
    // Count of CR-terminated commands received, empty ones included.
    int commandsReceived() const;

private:
    // A piece of pending output: literal text, followed by flood lines
    // floodNext..floodLast when floodNext <= floodLast, paced from paceStart
    // when linesPerSecond is above 0.
    struct Output {
        std::string text;
        long floodNext = 1;
        long floodLast = 0;
        int linesPerSecond = 0;
        std::chrono::steady_clock::time_point paceStart{};
        // Nothing of it goes out before this (a slow exchange's reply).
        std::chrono::steady_clock::time_point notBefore{};

        // The last flood line that may be sent by `now`.
        long lastDue(std::chrono::steady_clock::time_point now) const;
        // Something of it may be sent by `now`.
        bool sendable(std::chrono::steady_clock::time_point now) const;
    };

    bool fail(const std::string& what, int error = errno);
    bool openLine();
    void run();
    bool serviceControl();
    void readInput();
    void acceptByte(char byte, std::deque<std::string>& finished);
    void finishCommand(std::deque<std::string>& finished);
    void queueReply(std::string reply); // under mutex_
    void stopOutput();
    bool outputPending() const;
    int msUntilDue() const;
    void writeOutput();
    bool refill();
    void closeLine();
    void wake() const;

    const int wakeFd_;
    int masterFd_ = -1;
    int slaveFd_ = -1;
    CommandObserver observer_;
    std::thread thread_;

    // Touched by the service thread only.
    std::string command_;
    std::string out_;
    std::size_t outPos_ = 0;

    // Shared; guarded by mutex_.
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<Output> queue_;
    std::string received_;
    std::string path_;
    std::string error_;
    int commands_ = 0;
    int silence_ = 0;
    int breakAfter_ = -1; // none
    std::chrono::milliseconds replyDelay_{0};
    bool lineUp_ = false;
    bool hangUpRequested_ = false;
    bool reconnectRequested_ = false;
    bool stopRequested_ = false;
};

} // namespace sim
