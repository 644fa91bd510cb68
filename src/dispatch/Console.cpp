#include "Console.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

Console::Console(QPlainTextEdit& memo, QObject* parent) : QObject(parent), m_memo(memo) {}

void Console::appendLine(const QString& line) {
    if (m_pending.isEmpty())
        QTimer::singleShot(0, this, &Console::flushSome);
    m_pending.append(line);
    ++m_received;
}

void Console::flush() {
    append(m_pending.size());
}

// At most a slice of the gathered lines per pass of the event loop, so that a flood
// never holds the window for long.
void Console::flushSome() {
    append(FLUSH_SLICE);
    if (!m_pending.isEmpty())
        QTimer::singleShot(0, this, &Console::flushSome);
}

void Console::append(qsizetype lines) {
    lines = std::min(lines, m_pending.size());
    if (lines == 0)
        return;
    QString text = m_pending.first(lines).join(QLatin1Char('\n'));
    if (!holdsNoLine())
        text.prepend(QLatin1Char('\n'));
    QTextCursor end(m_memo.document());
    end.movePosition(QTextCursor::End);
    end.insertText(text);
    // Only an empty line put into a console without lines leaves its document empty.
    m_holdsOneEmptyLine = m_memo.document()->isEmpty();
    m_pending.remove(0, lines);
    m_memo.moveCursor(QTextCursor::End);
    m_memo.ensureCursorVisible();
}

bool Console::holdsNoLine() const {
    return m_memo.document()->isEmpty() && !m_holdsOneEmptyLine;
}

int Console::lineCount() const {
    return (holdsNoLine() ? 0 : m_memo.document()->blockCount()) + int(m_pending.size());
}

// The newest 500 lines are written anew rather than the older ones cut away: after a
// flood the console may hold a hundred thousand lines, and cutting them block by block
// would hold the window thread for a second or more.
void Console::trim() {
    flush();
    if (lineCount() < TRIM_FROM)
        return;
    QStringList kept;
    QTextBlock block = m_memo.document()->lastBlock();
    for (int i = 0; i < TRIM_TO && block.isValid(); ++i, block = block.previous())
        kept.prepend(block.text());
    kept.append(QString()); // the one empty line after the kept ones
    m_memo.setPlainText(kept.join(QLatin1Char('\n')));
    m_holdsOneEmptyLine = false;
    m_memo.moveCursor(QTextCursor::End);
}
