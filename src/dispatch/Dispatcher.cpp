#include "Dispatcher.h"

#include "OperatorMessages.h"
#include "PortWriter.h"
#include "Timer.h"
#include "WebCommand.h"
#include "WindowMessages.h"

const char* const PORT_NOT_OPEN_TEXT = "Порт не открыт";
const char* const QUEUE_FULL_TEXT = "Очередь команд заполнена";

Dispatcher::Dispatcher(CommandQueue& queue, Vars& vars, PortWriter& port, Timer& replyWait,
                       MessagePoster& poster, OperatorMessages& messages, Journal& journal)
    : m_queue(queue), m_vars(vars), m_port(port), m_replyWait(replyWait), m_poster(poster),
      m_messages(messages), m_journal(journal) {}

void Dispatcher::QueueCommand(QByteArrayView text) {
    m_vars.LastCommand.assign(text);
    if (m_vars.PortOpen == 0) {
        m_journal.commandRefused(Refusal::PortNotOpen, Origin::Console, {}, text);
        m_messages.plain(QString::fromUtf8(PORT_NOT_OPEN_TEXT));
        return;
    }
    if (appendConsole(text) == Append::QueueFull)
        m_messages.plain(QString::fromUtf8(QUEUE_FULL_TEXT));
}

Dispatcher::Append Dispatcher::appendConsole(QByteArrayView text) {
    return append(QueueEntry{QueueText(text), Origin::Console, nullptr}, {});
}

Dispatcher::Append Dispatcher::appendWeb(QByteArrayView text, QByteArrayView address,
                                         std::shared_ptr<WebCommand> reply) {
    return append(QueueEntry{QueueText(text), Origin::Web, std::move(reply)}, address);
}

Dispatcher::Append Dispatcher::append(QueueEntry entry, QByteArrayView address) {
    {
        std::lock_guard lock(m_appendMutex);
        if (m_queue.isFull()) {
            m_journal.commandRefused(Refusal::QueueFull, entry.origin, address, entry.text.view());
            return Append::QueueFull;
        }
        entry.record = m_journal.commandQueued(entry.origin, address, entry.text.view());
        m_queue.append(std::move(entry)); // room is left: only appends fill it, one at a time
    }
    m_poster.post(WM_SENDCOMMAND, 0, 0);
    return Append::Queued;
}

void Dispatcher::WMSendCommand(std::intptr_t lParam, CommandEnd end) {
    if (lParam == 0) {
        // Several appends may land before their first message is handled: whatever their
        // number, the head starts when nothing is in progress.
        if (m_commandInProgress == 0 && m_queue.count() > 0)
            startHead();
        return;
    }
    if (lParam != 1)
        return;
    const bool wasInProgress = m_commandInProgress == 1;
    m_commandInProgress = 0;
    m_replyWait.disable();
    if (wasInProgress)
        m_journal.commandEnded(m_head.record, end);
    if (m_head.origin == Origin::Web) {
        m_vars.WebReplyReady = 1;
        if (m_head.web)
            m_head.web->finish(WebCommand::Outcome::Answered);
    }
    // A prompt that answers no command ends nothing: a queued command that has not been
    // written yet is not dropped but started.
    const int remaining = wasInProgress ? m_queue.dropHead() : m_queue.count();
    if (remaining > 0)
        startHead();
}

void Dispatcher::startHead() {
    m_commandInProgress = 1;
    m_head = m_queue.head();
    sendStep();
}

void Dispatcher::sendStep() {
    m_replyWait.setInterval(REPLY_WAIT_MS);
    if (m_vars.PortOpen == 0)
        m_journal.commandEnded(m_head.record, CommandEnd::NotSent);
    else
        m_journal.commandSent(m_head.record);
    WriteCommand(m_head.text.view());
    m_replyWait.enable();
}

void Dispatcher::WriteCommand(QByteArrayView text) {
    QByteArray line;
    line.reserve(text.size() + 1);
    line.append(text);
    line.append('\r');
    m_port.WriteComm(line);
}

void Dispatcher::resetForOpen() {
    m_commandInProgress = 0;
    m_replyWait.disable();
    for (const QueueEntry& discarded : m_queue.clear()) {
        m_journal.commandEnded(discarded.record, CommandEnd::Reopened);
        if (discarded.web)
            discarded.web->finish(WebCommand::Outcome::Discarded);
    }
}

void Dispatcher::portGone(CommandEnd end) {
    if (m_commandInProgress == 1)
        m_journal.commandEnded(m_head.record, end);
}

void Dispatcher::discardWaitingWeb() {
    // The head slot is on the line only while a command is in progress.
    for (const QueueEntry& discarded : m_queue.takeWeb(m_commandInProgress == 1 ? 1 : 0)) {
        m_journal.commandEnded(discarded.record, CommandEnd::SwitchedOff);
        if (discarded.web)
            discarded.web->finish(WebCommand::Outcome::Discarded);
    }
}

bool Dispatcher::webCommandAtHead() const {
    return m_head.origin == Origin::Web;
}

void Dispatcher::captureLine(const ReplyLine& line) {
    if (m_head.web)
        m_head.web->addLine(line);
    recordLine(line);
}

void Dispatcher::recordLine(const ReplyLine& line) {
    m_journal.replyLine(m_commandInProgress == 1 ? m_head.record : 0, line.view());
}
