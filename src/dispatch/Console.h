#pragma once

#include "ConsoleOutput.h"

#include <QObject>
#include <QStringList>

class QPlainTextEdit;

// The console Memo1 behind the reply path. Lines that arrive in one burst are gathered
// and appended together when the window thread next returns to its event loop, so a
// flood costs one append per pass instead of one per line; their order is kept.
class Console final : public QObject, public ConsoleOutput {
    Q_OBJECT
public:
    static constexpr int TRIM_FROM = 600;
    static constexpr int TRIM_TO = 500;
    static constexpr int TRIM_INTERVAL_MS = 1000; // TimerStr, restarted by every line
    static constexpr int FLUSH_SLICE = 1000;      // lines appended per pass of the event loop

    explicit Console(QPlainTextEdit& memo, QObject* parent = nullptr);

    void appendLine(const QString& line) override;
    void trim() override;
    // Appends the gathered lines now.
    void flush();
    // Lines in the console, counting those not yet appended.
    int lineCount() const;
    // Lines handed to the console and not yet appended.
    qsizetype pendingLines() const { return m_pending.size(); }
    // Every line handed to the console since it was made (the trimming does not count).
    long long linesReceived() const { return m_received; }

private:
    void flushSome();
    void append(qsizetype lines);
    bool holdsNoLine() const;

    QPlainTextEdit& m_memo;
    QStringList m_pending;
    long long m_received = 0;
    // An empty document shows either no line or one empty line: true for the latter.
    bool m_holdsOneEmptyLine = false;
};
