#include "dispatch/Dispatcher.h"

#include "dispatch/CommandText.h"
#include "dispatch/WebCommand.h"
#include "link/PortWriter.h"
#include "shared/OperatorMessages.h"
#include "shared/Timer.h"

#include <algorithm>
#include <chrono>
#include <utility>

const char* const PORT_NOT_OPEN_TEXT = "Порт не открыт";
const char* const QUEUE_FULL_TEXT = "Очередь команд заполнена";
const char* const LINE_LOST_TEXT =
    "Связь с АТС потеряна: выполнена ли команда, неизвестно. Повторно она не отправляется.";
const char* const LINE_DOWN_TEXT = "Нет связи с АТС: команда не отправлена.";

const char* lineNotice(WebCommand::Outcome outcome) {
    switch (outcome) {
    case WebCommand::Outcome::LineLost:
        return LINE_LOST_TEXT;
    case WebCommand::Outcome::LineDown:
        return LINE_DOWN_TEXT;
    default:
        return nullptr;
    }
}

Dispatcher::Dispatcher(CommandQueue& queue, Vars& vars, PortWriter& port, Timer& replyWait,
                       Poster<SendCommand>& poster, OperatorMessages& messages, Journal& journal)
    : m_queue(queue), m_vars(vars), m_port(port), m_replyWait(replyWait), m_poster(poster),
      m_messages(messages), m_journal(journal) {}

Dispatcher::~Dispatcher() {
    if (m_lineWait)
        m_lineWait->onTimeout(nullptr);
}

void Dispatcher::QueueCommand(QByteArrayView text) {
    m_vars.LastCommand.assign(text);
    if (m_port.PortOpen() == 0) {
        m_journal.commandRefused(Refusal::PortNotOpen, CommandSource::Button, {}, text);
        m_messages.plain(QString::fromUtf8(PORT_NOT_OPEN_TEXT));
        return;
    }
    switch (append(text, CommandSource::Button, {}, nullptr)) {
    case Append::QueueFull:
        m_messages.plain(QString::fromUtf8(QUEUE_FULL_TEXT));
        break;
    case Append::Refused:
        m_messages.plain(
            CommandText::refusalText(*CommandText::unsafeByte(QueueText(text).view())));
        break;
    case Append::Queued:
        break;
    }
}

Dispatcher::Append Dispatcher::appendConsole(QByteArrayView text) {
    return append(text, CommandSource::Typed, {}, nullptr);
}

Dispatcher::Append Dispatcher::appendWeb(QByteArrayView text, QByteArrayView address,
                                         std::shared_ptr<WebCommand> reply) {
    return append(text, CommandSource::Web, address, std::move(reply));
}

Dispatcher::Append Dispatcher::append(QByteArrayView text, CommandSource source,
                                      QByteArrayView address, std::shared_ptr<WebCommand> web) {
    QueueEntry entry{QueueText(text), source == CommandSource::Web ? Origin::Web : Origin::Console,
                     std::move(web), 0, m_clock()};
    // What is checked is what would be written: the text as the queue keeps it.
    if (CommandText::unsafeByte(entry.text.view())) {
        m_journal.commandRefused(Refusal::Character, source, address,
                                 CommandText::readable(entry.text.view()));
        return Append::Refused;
    }
    {
        std::lock_guard lock(m_appendMutex);
        if (m_queue.isFull()) {
            m_journal.commandRefused(Refusal::QueueFull, source, address, entry.text.view());
            return Append::QueueFull;
        }
        entry.record = m_journal.commandQueued(source, address, entry.text.view());
        m_queue.append(std::move(entry)); // room is left: only appends fill it, one at a time
    }
    m_poster.post(SendCommand::queued());
    return Append::Queued;
}

void Dispatcher::WMSendCommand(SendCommand message) {
    if (message.kind == SendCommand::Kind::Queued) {
        // Several appends may land before their first message is handled: whatever their
        // number, the head starts when nothing is in progress.
        if (m_commandInProgress == 0)
            startNext();
        planLineWait();
        return;
    }
    // A reply wait that ran out while the prompt was already on its way names a command
    // that the prompt has ended: it must not end the next one.
    if (message.command != commandNumber())
        return;
    endCommand(message.how);
}

void Dispatcher::endCommand(CommandEnd how) {
    const bool wasInProgress = m_commandInProgress == 1;
    m_commandInProgress = 0;
    m_replyWait.disable();
    if (wasInProgress)
        m_journal.commandEnded(m_head.record, how);
    if (how == CommandEnd::Silence)
        m_afterGiveUp = wasInProgress;
    else if (!wasInProgress)
        m_afterGiveUp = false; // the late prompt of the command given up has come
    if (m_head.origin == Origin::Web) {
        m_webReplyReady = 1;
        if (m_head.web)
            m_head.web->finish(how == CommandEnd::PortLost ? WebCommand::Outcome::LineLost
                                                           : WebCommand::Outcome::Answered);
    }
    // A prompt that answers no command ends nothing: a queued command that has not been
    // written yet is not dropped but started.
    if (wasInProgress)
        m_queue.dropHead();
    startNext();
}

// The next command goes out unless the queue is empty or the line is down.
void Dispatcher::startNext() {
    if (!m_lineDown && m_queue.count() > 0)
        startHead();
}

std::int64_t Dispatcher::steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void Dispatcher::waitForLineWith(Timer& lineWait, Clock clock) {
    m_lineWait = &lineWait;
    m_clock = std::move(clock);
    m_lineWait->onTimeout([this] { endLineWaits(); });
}

void Dispatcher::lineLost() {
    m_lineDown = true;
    m_lineDownSince = m_clock();
    if (m_commandInProgress == 1)
        endCommand(CommandEnd::PortLost);
    planLineWait();
}

void Dispatcher::lineBack() {
    m_lineDown = false;
    planLineWait();
    if (m_commandInProgress == 0)
        startNext();
}

// An entry waits for the line from its loss, or from its queuing if that came later.
std::int64_t Dispatcher::lineWaitSince(const QueueEntry& entry) const {
    return std::max(entry.queuedMs, m_lineDownSince);
}

// Entries wait in the order they were queued, so the first web entry's wait ends first.
void Dispatcher::planLineWait() {
    if (!m_lineWait)
        return;
    const auto first = m_lineDown ? m_queue.firstWeb() : std::nullopt;
    if (!first) {
        m_lineWait->disable();
        return;
    }
    if (m_lineWait->isEnabled())
        return;
    const std::int64_t left = lineWaitSince(*first) + LINE_WAIT_MS - m_clock();
    m_lineWait->setInterval(int(std::clamp<std::int64_t>(left, 0, LINE_WAIT_MS)));
    m_lineWait->enable();
}

void Dispatcher::endLineWaits() {
    m_lineWait->disable();
    const std::int64_t now = m_clock();
    release(m_queue.takeWeb(0,
                            [this, now](const QueueEntry& entry) {
                                return now - lineWaitSince(entry) >= LINE_WAIT_MS;
                            }),
            CommandEnd::LineDown);
    planLineWait();
}

void Dispatcher::startHead() {
    m_commandInProgress = 1;
    m_head = m_queue.head();
    ++m_number;
    sendStep();
}

void Dispatcher::sendStep() {
    m_replyWait.setInterval(REPLY_WAIT_MS);
    if (m_port.PortOpen() == 0)
        m_journal.commandEnded(m_head.record, CommandEnd::NotSent);
    else
        m_journal.commandSent(m_head.record, std::exchange(m_afterGiveUp, false));
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
    m_lineDown = false;
    m_afterGiveUp = false; // a fresh line: no late reply of the old one can come
    m_replyWait.disable();
    release(m_queue.clear(), CommandEnd::Reopened);
    planLineWait();
}

// A port closed while it waited for its line lets its queue go on as a closed port's does.
void Dispatcher::portGone(CommandEnd end) {
    if (m_commandInProgress == 1)
        m_journal.commandEnded(m_head.record, end);
    if (m_lineDown)
        lineBack();
}

void Dispatcher::recordStop(QByteArrayView device) {
    m_journal.stopSent(m_commandInProgress == 1 ? m_head.record : 0, device);
}

void Dispatcher::discardWaitingWeb() {
    if (m_commandInProgress == 1 && m_head.origin == Origin::Web)
        m_journal.commandEnded(m_head.record, CommandEnd::SwitchedOff);
    // The head slot is on the line only while a command is in progress.
    release(m_queue.takeWeb(m_commandInProgress == 1 ? 1 : 0), CommandEnd::SwitchedOff);
}

// Entries taken out of the queue unsent: their records end, their web requests are released.
void Dispatcher::release(const std::vector<QueueEntry>& discarded, CommandEnd end) {
    for (const QueueEntry& entry : discarded) {
        m_journal.commandEnded(entry.record, end);
        if (entry.web)
            entry.web->finish(end == CommandEnd::LineDown ? WebCommand::Outcome::LineDown
                                                          : WebCommand::Outcome::Discarded);
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
