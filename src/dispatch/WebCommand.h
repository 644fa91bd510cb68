#pragma once

#include "Vars.h"

#include <QByteArray>
#include <QList>

#include <chrono>
#include <condition_variable>
#include <mutex>

// One web user's queued command and the reply collected for it. The HTTP thread that
// queued it waits on it; the dispatcher fills it on the window thread and releases it
// when the reply ends, when the reply wait runs out, or when its queue entry is discarded.
class WebCommand {
public:
    static constexpr int CAPTURE_LINES = 256; // further lines of one reply are dropped

    enum class Outcome {
        Waiting,   // queued or in progress
        Answered,  // the prompt or the reply wait ended the reply
        Discarded, // the entry was thrown away before its reply ended (a port was opened)
        Abandoned, // the request gave up waiting (the web server was switched off)
    };

    void addLine(const ReplyLine& line);
    void finish(Outcome outcome);
    // Blocks without burning the processor until the command is released.
    Outcome wait();
    // The same, for at most `timeout`; Waiting when it ran out.
    Outcome waitFor(std::chrono::milliseconds timeout);
    Outcome outcome() const;
    // The reply lines in arrival order (code page 1251).
    QList<QByteArray> lines() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    Outcome m_outcome = Outcome::Waiting;
    QList<QByteArray> m_lines;
};
