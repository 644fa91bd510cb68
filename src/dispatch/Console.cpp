#include "Console.h"

#include "Timer.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>

// The console keeps no undo history: an undo must never take the exchange's lines away,
// and a history of every appended line only costs memory in a flood.
Console::Console(QPlainTextEdit& memo, Timer& frame) : m_memo(memo), m_frame(frame) {
    m_memo.setUndoRedoEnabled(false);
    m_frame.onTimeout([this] { showFrame(); });
}

Console::~Console() {
    m_frame.onTimeout(nullptr);
}

// Of more than TRIM_FROM waiting lines the trimming would keep none but the newest, so the
// oldest waiting line gives way: it counts as shown and trimmed.
void Console::appendLine(const QString& line) {
    if (m_pending.size() == TRIM_FROM)
        m_pending.removeFirst();
    m_pending.append(line);
    ++m_received;
    m_frame.enable(); // a frame already under way keeps its time
}

// The frame: every waiting line in one insertion after the last line, then one scroll.
void Console::showFrame() {
    m_frame.disable();
    if (m_pending.isEmpty())
        return;
    const bool follow = newestLineInView();
    QString text = m_pending.join(QLatin1Char('\n'));
    if (!holdsNoLine())
        text.prepend(QLatin1Char('\n'));
    m_pending.clear();
    QTextCursor end(m_memo.document());
    end.movePosition(QTextCursor::End);
    end.insertText(text);
    // Only an empty line put into a console without lines leaves its document empty.
    m_holdsOneEmptyLine = m_memo.document()->isEmpty();
    if (follow) {
        m_memo.moveCursor(QTextCursor::End);
        m_memo.ensureCursorVisible();
    }
}

// The console's last line is wholly inside the view: the operator has not scrolled back.
bool Console::newestLineInView() const {
    QTextCursor end(m_memo.document());
    end.movePosition(QTextCursor::End);
    return m_memo.cursorRect(end).bottom() <= m_memo.viewport()->rect().bottom();
}

bool Console::holdsNoLine() const {
    return m_memo.document()->isEmpty() && !m_holdsOneEmptyLine;
}

int Console::lineCount() const {
    return (holdsNoLine() ? 0 : m_memo.document()->blockCount()) + int(m_pending.size());
}

// The newest lines, those waiting for their frame last.
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
// would hold the window thread for a second or more. Lines waiting for their frame take
// part as if they were shown, so none of them is inserted only to be cut away.
void Console::trim() {
    if (lineCount() < TRIM_FROM)
        return;
    QStringList kept = newestLines(TRIM_TO);
    kept.append(QString()); // the one empty line after the kept ones
    m_pending.clear();
    m_frame.disable();
    m_memo.setPlainText(kept.join(QLatin1Char('\n')));
    m_holdsOneEmptyLine = false;
    m_memo.moveCursor(QTextCursor::End);
}
