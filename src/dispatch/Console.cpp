#include "dispatch/Console.h"

#include "shared/Cp1251.h"
#include "shared/Timer.h"

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
void Console::appendLine(const ReplyLine& line) {
    const qsizetype at = (m_pendingFirst + m_pendingCount) % TRIM_FROM;
    m_pending[std::size_t(at)] = line;
    if (m_pendingCount == TRIM_FROM)
        m_pendingFirst = (m_pendingFirst + 1) % TRIM_FROM;
    else
        ++m_pendingCount;
    ++m_received;
    m_frame.enable(); // a frame already under way keeps its time
}

QStringList Console::newestPending(qsizetype count) const {
    QStringList lines;
    count = std::min(count, m_pendingCount);
    lines.reserve(count);
    for (qsizetype i = m_pendingCount - count; i < m_pendingCount; ++i)
        lines.append(
            Cp1251::toUnicode(m_pending[std::size_t((m_pendingFirst + i) % TRIM_FROM)].view()));
    return lines;
}

// The frame: every waiting line in one insertion after the last line, then one scroll.
void Console::showFrame() {
    m_frame.disable();
    if (m_pendingCount == 0)
        return;
    const bool follow = newestLineInView();
    QString text = newestPending(m_pendingCount).join(QLatin1Char('\n'));
    if (!holdsNoLine())
        text.prepend(QLatin1Char('\n'));
    m_pendingCount = 0;
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
    return (holdsNoLine() ? 0 : m_memo.document()->blockCount()) + int(m_pendingCount);
}

// The newest lines, those waiting for their frame last.
QStringList Console::newestLines(qsizetype count) const {
    QStringList lines = newestPending(count);
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
    m_pendingCount = 0;
    m_frame.disable();
    m_memo.setPlainText(kept.join(QLatin1Char('\n')));
    m_holdsOneEmptyLine = false;
    m_memo.moveCursor(QTextCursor::End);
}
