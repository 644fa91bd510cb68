#pragma once

#include "ConsoleOutput.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

class QPlainTextEdit;
class QTextCursor;

// The console Memo1 behind the reply path. Lines are gathered as they arrive and appended
// in slices when the window thread returns to its event loop: one slice is one edit block,
// appends for about APPEND_BUDGET_MS and then moves the caret to the end once, so a flood
// holds the window for at most about half a frame at a time. Every line is appended once,
// in arrival order.
class Console final : public QObject, public ConsoleOutput {
    Q_OBJECT
public:
    static constexpr int TRIM_FROM = 600;
    static constexpr int TRIM_TO = 500;
    static constexpr int TRIM_INTERVAL_MS = 1000; // TimerStr, restarted by every line
    static constexpr int APPEND_BUDGET_MS = 8;    // milliseconds of appending per pass of the loop
    static constexpr int LINES_PER_STEP = 64;     // lines inserted between two looks at the clock

    explicit Console(QPlainTextEdit& memo, QObject* parent = nullptr);

    void appendLine(const QString& line) override;
    // From 600 lines on (those not yet appended count), the newest 500 and an empty line.
    void trim() override;
    // Lines in the console, counting those not yet appended.
    int lineCount() const;
    // Lines handed to the console and not yet appended.
    qsizetype pendingLines() const { return m_pending.size(); }
    // Every line handed to the console since it was made (the trimming does not count).
    long long linesReceived() const { return m_received; }

private:
    void scheduleSlice();
    void appendSlice();
    void insertStep(QTextCursor& end, qsizetype from, qsizetype count);
    bool holdsNoLine() const;
    QStringList newestLines(qsizetype count) const;

    QPlainTextEdit& m_memo;
    QStringList m_pending;
    long long m_received = 0;
    // Starts the next slice. A timer rather than a posted call: while posted calls keep
    // coming, Qt's event loop runs its timers only every other pass.
    QTimer m_sliceTimer;
    // An empty document shows either no line or one empty line: true for the latter.
    bool m_holdsOneEmptyLine = false;
};
