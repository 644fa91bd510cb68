#pragma once

#include "dispatch/ConsoleOutput.h"

#include <QStringList>

#include <array>

class QPlainTextEdit;
class Timer;

// The console Memo1 behind the reply path. Received lines wait in a queue of the window
// thread, as the exchange's bytes; at most once a frame the console takes the whole queue,
// converts it, applies it in one edit and scrolls once, so a flood costs a bounded amount
// of work per frame however fast it comes. The queue never holds more than the trimming
// could ever keep (TRIM_FROM lines): an older line pushed out of it counts as shown and
// trimmed at once, and is never converted. The frame timer runs only while lines wait.
// While the newest line is in view the caret goes to the end and the view follows it; an
// operator who has scrolled back is left where they are.
class Console final : public ConsoleOutput {
public:
    static constexpr int TRIM_FROM = 600;
    static constexpr int TRIM_TO = 500;
    static constexpr int TRIM_INTERVAL_MS = 1000; // TimerStr, restarted by every line
    static constexpr int FRAME_MS = 16;           // one edit and one scroll at most per frame

    // `frame` times the frames; it outlives the console.
    Console(QPlainTextEdit& memo, Timer& frame);
    ~Console() override;

    void appendLine(const ReplyLine& line) override;
    // From 600 lines on (those waiting for their frame count), the newest 500 and an empty line.
    void trim() override;
    // Lines in the console, counting those waiting for their frame.
    int lineCount() const;
    // Lines waiting for the next frame.
    qsizetype pendingLines() const { return m_pendingCount; }
    // Every line handed to the console since it was made (the trimming does not count).
    long long linesReceived() const { return m_received; }

private:
    void showFrame();
    bool newestLineInView() const;
    bool holdsNoLine() const;
    QStringList newestLines(qsizetype count) const;
    // The newest `count` lines waiting, converted, oldest first.
    QStringList newestPending(qsizetype count) const;

    QPlainTextEdit& m_memo;
    Timer& m_frame;
    std::array<ReplyLine, TRIM_FROM> m_pending{}; // a ring: the oldest at m_pendingFirst
    qsizetype m_pendingFirst = 0;
    qsizetype m_pendingCount = 0;
    long long m_received = 0;
    // An empty document shows either no line or one empty line: true for the latter.
    bool m_holdsOneEmptyLine = false;
};
