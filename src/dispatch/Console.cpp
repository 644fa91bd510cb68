#include "Console.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

Console::Console(QPlainTextEdit& memo, QObject* parent) : QObject(parent), m_memo(memo) {}

void Console::appendLine(const QString& line) {
    if (m_pending.isEmpty())
        QTimer::singleShot(0, this, &Console::flush);
    m_pending.append(line);
    ++m_received;
}

void Console::flush() {
    if (m_pending.isEmpty())
        return;
    m_memo.appendPlainText(m_pending.join(QLatin1Char('\n')));
    m_pending.clear();
    m_memo.moveCursor(QTextCursor::End);
    m_memo.ensureCursorVisible();
}

int Console::lineCount() const {
    const QTextDocument* document = m_memo.document();
    const bool empty = document->blockCount() == 1 && document->firstBlock().length() <= 1;
    return (empty ? 0 : document->blockCount()) + m_pending.size();
}

void Console::trim() {
    flush();
    const int lines = lineCount();
    if (lines < TRIM_FROM)
        return;
    QTextCursor cursor(m_memo.document());
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, lines - TRIM_TO);
    cursor.removeSelectedText();
    m_memo.appendPlainText(QString());
    m_memo.moveCursor(QTextCursor::End);
}
