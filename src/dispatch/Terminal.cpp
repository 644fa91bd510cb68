#include "dispatch/Terminal.h"

#include "dispatch/ConsoleOutput.h"
#include "link/Lamps.h"
#include "shared/Cp1251.h"
#include "shared/OperatorMessages.h"
#include "shared/Timer.h"

namespace {

// The port's received bytes that follow each other travel as one message.
bool joinPortBytes(std::variant<PortMessage, SendCommand>& last,
                   std::variant<PortMessage, SendCommand>& next) {
    auto* earlier = std::get_if<PortMessage>(&last);
    auto* later = std::get_if<PortMessage>(&next);
    return earlier && later && ::joinReceived(*earlier, *later);
}

template <class... Handlers> struct Overloaded : Handlers... { using Handlers::operator()...; };

} // namespace

Terminal::Terminal(Vars& vars, std::unique_ptr<SerialDevice> device, Timers timers,
                   OperatorMessages& messages, Journal& journal,
                   std::unique_ptr<FolderWatch> folderWatch, QObject* parent)
    : QObject(parent), m_replyWait(timers.replyWait), m_consoleTrim(timers.consoleTrim),
      m_messages(messages), m_journal(journal),
      m_windowMessages([this](Message& message) { handle(message); }, &joinPortBytes),
      m_link(std::move(device), *this),
      m_dispatcher(m_queue, vars, m_link, timers.replyWait, *this, messages, journal),
      m_assembler(*this), m_folderWatch(std::move(folderWatch)),
      m_retry(timers.lineRetry, *m_folderWatch, [this] { tryLineAgain(); }) {
    m_dispatcher.waitForLineWith(timers.lineWait);
    m_replyWait.onTimeout([this] { TimerWaitEndTimer(); });
    m_consoleTrim.onTimeout([this] {
        if (m_console)
            m_console->trim();
    });
}

Terminal::~Terminal() {
    m_replyWait.onTimeout(nullptr);
    m_consoleTrim.onTimeout(nullptr);
    m_link.close();
    m_windowMessages.setHandler(nullptr);
}

void Terminal::post(PortMessage message) {
    m_windowMessages.post(std::move(message));
}

void Terminal::post(SendCommand message) {
    m_windowMessages.post(message);
}

bool Terminal::OpenComPort(const QString& name, std::uint8_t number) {
    if (m_link.isOpen())
        return false; // both COM buttons are disabled while a port is open
    // Bytes that the previous port delivered are handled before its state is reset.
    m_windowMessages.deliverPending();
    if (!m_link.open(name, number)) {
        m_messages.plain(QStringLiteral("Can not open") + name);
        return false;
    }
    m_lineWasUp = false;
    m_journal.portEvent(PortEvent::Opened, deviceName());
    m_assembler.reset();
    m_dispatcher.resetForOpen();
    emit portOpened();
    return true;
}

void Terminal::closeLine(PortEvent why) {
    if (!m_link.isOpen())
        return;
    const QByteArray device = deviceName();
    m_retry.end();
    m_link.close();
    // What the line delivered before it closed is routed first: a prompt among it ended
    // its command before the close did.
    m_windowMessages.deliverPending();
    m_dispatcher.portGone(why == PortEvent::Lost ? CommandEnd::PortLost : CommandEnd::PortClosed);
    m_journal.portEvent(why, device);
    emit portClosed();
}

QByteArray Terminal::deviceName() const {
    return Cp1251::fromUnicode(m_link.name() + QLatin1Char(' ') + m_link.device());
}

void Terminal::lineUp() {
    m_lineWasUp = true;
    if (!m_retry.isWaiting())
        return;
    m_retry.end();
    m_journal.portEvent(PortEvent::Returned, deviceName());
    m_dispatcher.lineBack();
    emit lineReturned();
}

// A line that was there and is lost is waited for; an attempt to have it again that failed
// plans the next; a terminal server's first connection that failed closes the port.
void Terminal::lineLost(const std::string& reason) {
    if (!m_link.isOpen())
        return;
    if (m_retry.isWaiting()) {
        m_link.release();
        m_retry.failed();
        return;
    }
    if (!m_lineWasUp) {
        const QString name = m_link.name();
        closeLine(PortEvent::Lost);
        const QString why = QString::fromStdString(reason);
        m_messages.plain(QStringLiteral("Can not open") + name +
                         (why.isEmpty() ? QString() : QLatin1Char('\n') + why));
        return;
    }
    m_link.release();
    // What the line delivered before it was lost is routed first: a prompt among it ended
    // its command before the loss did.
    m_windowMessages.deliverPending();
    if (!m_assembler.pendingLine().isEmpty())
        m_assembler.EndStr();
    m_dispatcher.lineLost();
    m_journal.portEvent(PortEvent::Lost, deviceName());
    m_retry.begin(m_link.device(), m_link.isRemote());
    emit lineGone();
}

void Terminal::tryLineAgain() {
    if (!m_link.reopen())
        m_retry.failed();
}

// STOP cannot reach an exchange whose line is lost: it is not recorded as sent.
void Terminal::sendStop() {
    if (PortOpen() == 0 || lineWaiting()) {
        m_messages.plain(
            QString::fromUtf8(PortOpen() == 0 ? PORT_NOT_OPEN_TEXT : LINE_WAITING_TEXT));
        return;
    }
    m_link.WriteComm(QByteArrayView(&STOP_BYTE, 1));
    m_dispatcher.recordStop(deviceName());
}

void Terminal::handle(Message& message) {
    std::visit(Overloaded{[this](PortMessage& port) { handle(port); },
                          [this](SendCommand& command) { m_dispatcher.WMSendCommand(command); }},
               message);
}

void Terminal::handle(PortMessage& message) {
    std::visit(Overloaded{[this](Received& received) {
                              const Journal::Burst burst(m_journal);
                              m_assembler.addBytes(received.bytes);
                          },
                          [this](CtsChanged&) { emit ctsChanged(); },
                          [this](DsrChanged&) { emit dsrChanged(); }, [this](LineUp&) { lineUp(); },
                          [this](LineLost& lost) { lineLost(lost.reason); }},
               message);
}

// The prompt ends the command in progress at once, here on the window thread, before the
// bytes that follow it are routed.
void Terminal::replyEnded() {
    m_dispatcher.WMSendCommand(
        SendCommand::ended(m_dispatcher.commandNumber(), CommandEnd::Prompt));
}

// The run-out is posted, behind the bytes already received: should the prompt that ends the
// command be among them, it ends the command first, and the run-out, which names that
// command, then ends nothing.
void Terminal::TimerWaitEndTimer() {
    const std::uint64_t command = m_dispatcher.commandNumber();
    m_replyWait.disable();
    m_assembler.EndStr();
    m_windowMessages.post(SendCommand::ended(command, CommandEnd::Silence));
}

void Terminal::consoleLine(const ReplyLine& line) {
    if (m_console)
        m_console->appendLine(line);
    m_dispatcher.recordLine(line);
}

void Terminal::restartReplyWait() {
    m_replyWait.restart();
}

void Terminal::restartConsoleTrim() {
    m_consoleTrim.restart();
}
