#include "Console.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>

// The console keeps no undo history: an undo must never take the exchange's lines away,
// and a history of every appended line only costs memory in a flood.
Console::Console(QPlainTextEdit& memo, QObject* parent) : QObject(parent), m_memo(memo) {
    m_memo.setUndoRedoEnabled(false);
    m_sliceTimer.setSingleShot(true);
    connect(&m_sliceTimer, &QTimer::timeout, this, &Console::appendSlice);
}

void Console::appendLine(const QString& line) {
    m_pending.append(line);
    ++m_received;
    scheduleSlice();
}

void Console::scheduleSlice() {
    if (!m_sliceTimer.isActive())
        m_sliceTimer.start(0);
}

// Appends gathered lines in one edit block until the budget is spent, then puts the caret
// at the end once and leaves the rest to the next pass of the event loop.
void Console::appendSlice() {
    if (m_pending.isEmpty())
        return;
    QElapsedTimer clock;
    clock.start();
    QTextCursor end(m_memo.document());
    end.movePosition(QTextCursor::End);
    end.beginEditBlock();
    qsizetype appended = 0;
    do {
        const qsizetype count = std::min<qsizetype>(LINES_PER_STEP, m_pending.size() - appended);
        insertStep(end, appended, count);
        appended += count;
    } while (appended < m_pending.size() && clock.elapsed() < APPEND_BUDGET_MS);
    end.endEditBlock();
    m_pending.remove(0, appended);
    m_memo.moveCursor(QTextCursor::End);
    m_memo.ensureCursorVisible();
    if (!m_pending.isEmpty())
        scheduleSlice();
}

// Inserts pending lines [from, from + count) as one text after the console's last line.
void Console::insertStep(QTextCursor& end, qsizetype from, qsizetype count) {
    const bool first = holdsNoLine();
    QString text;
    for (qsizetype i = from; i < from + count; ++i) {
        if (i > from || !first)
            text += QLatin1Char('\n');
        text += m_pending.at(i);
    }
    end.insertText(text);
    // Only an empty line put into a console without lines leaves its document empty.
    m_holdsOneEmptyLine = m_memo.document()->isEmpty();
}

bool Console::holdsNoLine() const {
    return m_memo.document()->isEmpty() && !m_holdsOneEmptyLine;
}

int Console::lineCount() const {
    return (holdsNoLine() ? 0 : m_memo.document()->blockCount()) + int(m_pending.size());
}

// The newest lines, those not yet appended last.
QStringList Console::newestLines(qsizetype count) const {
    QStringList lines = m_pending.last(std::min(count, m_pending.size()));
    if (holdsNoLine())
        return lines;
    for (QTextBlock block = m_memo.document()->lastBlock(); lines.size() < count && block.isValid();
         block = block.previous())
        lines.prepend(block.text());
    return lines;
}

// The newest 500 lines are written anew rather than the older ones cut away: after a
// flood the console may hold a hundred thousand lines, and cutting them block by block
// would hold the window thread for a second or more. Lines not yet appended take part
// as if they were, so none of them is inserted only to be cut away.
void Console::trim() {
    if (lineCount() < TRIM_FROM)
        return;
    QStringList kept = newestLines(TRIM_TO);
    kept.append(QString()); // the one empty line after the kept ones
    m_pending.clear();
    m_memo.setPlainText(kept.join(QLatin1Char('\n')));
    m_holdsOneEmptyLine = false;
    m_memo.moveCursor(QTextCursor::End);
}
