#pragma once

#include "shared/Vars.h"

#include <QByteArray>
#include <QList>

#include <functional>
#include <mutex>

// One web user's queued command and the reply collected for it. The dispatcher fills it on
// the window thread and releases it when the reply ends, when the reply wait runs out, or
// when its queue entry is discarded; the web server may release it too when it is switched
// off. Whoever waits for it is told once, by the observer, on the thread that releases it.
class WebCommand {
public:
    static constexpr int CAPTURE_LINES = 256; // further lines of one reply are dropped

    enum class Outcome {
        Waiting,   // queued or in progress
        Answered,  // the prompt or the reply wait ended the reply
        Discarded, // the entry was thrown away before its reply ended (a port was opened)
                   // or before it was written (the web server was switched off)
        Abandoned, // the request gave up waiting (the web server was switched off)
        LineLost,  // the line was lost while its reply came: what came is all there is
        LineDown,  // it waited for a lost line for the whole wait and was never written
    };

    void addLine(const ReplyLine& line);
    // The first release counts; later ones change nothing.
    void finish(Outcome outcome);
    // `observer` runs once when the command is released: at once, here, if it already is.
    void whenFinished(std::function<void()> observer);
    Outcome outcome() const;
    // The reply lines in arrival order (code page 1251).
    QList<QByteArray> lines() const;

private:
    mutable std::mutex m_mutex;
    Outcome m_outcome = Outcome::Waiting;
    QList<QByteArray> m_lines;
    std::function<void()> m_finished;
};
