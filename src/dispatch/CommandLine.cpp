#include "dispatch/CommandLine.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>

#include <algorithm>

CommandLineInput::CommandLineInput(QComboBox& combo) : QObject(&combo), m_line(*combo.lineEdit()) {
    combo.installEventFilter(this);
    m_line.installEventFilter(this);
}

bool CommandLineInput::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!key->matches(QKeySequence::Paste))
            return typed(watched, *key);
        paste(QGuiApplication::clipboard()->text());
        return true;
    }
    case QEvent::ContextMenu:
        if (watched != &m_line)
            break;
        showMenu(*static_cast<QContextMenuEvent*>(event));
        return true;
    case QEvent::MouseButtonRelease: { // the X11 selection, pasted by the middle button
        const auto* click = static_cast<QMouseEvent*>(event);
        if (watched != &m_line || click->button() != Qt::MiddleButton ||
            !QGuiApplication::clipboard()->supportsSelection())
            break;
        m_line.deselect();
        paste(QGuiApplication::clipboard()->text(QClipboard::Selection));
        return true;
    }
    case QEvent::Drop: { // text moved within the line stays as it is
        auto* dropped = static_cast<QDropEvent*>(event);
        if (watched != &m_line || dropped->source() == &m_line)
            break;
        drop(*dropped);
        return true;
    }
    default:
        break;
    }
    return false;
}

// How many characters the operator may still put in place of the selection.
int CommandLineInput::room() const {
    const int length = int(m_line.text().size());
    const int kept = length - int(m_line.selectedText().size());
    return std::max(TYPED_CHARACTERS, length) - kept;
}

// A typed character: refused when the line is full, otherwise in capitals.
bool CommandLineInput::typed(QObject* watched, const QKeyEvent& key) {
    const QString text = key.text();
    if (text.isEmpty() || !text.front().isPrint())
        return false; // no character: Enter, Ctrl+L, the arrows...
    if (room() < text.size())
        return true;
    const QString upper = text.toUpper();
    if (upper == text)
        return false;
    QKeyEvent capital(QEvent::KeyPress, key.key(), key.modifiers(), upper, key.isAutoRepeat(),
                      key.count());
    QCoreApplication::sendEvent(watched, &capital);
    return true;
}

void CommandLineInput::paste(const QString& text) {
    m_line.insert(text.toUpper().left(std::max(0, room())));
}

// The line's own menu, with its Paste going through this paste. Qt connects that item by
// the slot's name, so it is found and disconnected by that name.
void CommandLineInput::showMenu(const QContextMenuEvent& event) {
    QMenu* menu = m_line.createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (QAction* action : menu->actions())
        if (disconnect(action, SIGNAL(triggered()), &m_line, SLOT(paste())))
            connect(action, &QAction::triggered, this,
                    [this] { paste(QGuiApplication::clipboard()->text()); });
    menu->popup(event.globalPos());
}

void CommandLineInput::drop(QDropEvent& event) {
    const QString text = event.mimeData()->text();
    if (text.isEmpty())
        return event.ignore();
    m_line.setCursorPosition(m_line.cursorPositionAt(event.position().toPoint()));
    paste(text);
    event.acceptProposedAction();
}
