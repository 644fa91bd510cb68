#include "Terminal.h"

#include "ConsoleOutput.h"
#include "Cp1251.h"
#include "OperatorMessages.h"
#include "Timer.h"
#include "Vars.h"

Terminal::Terminal(Vars& vars, std::unique_ptr<SerialDevice> device, Timer& replyWait,
                   Timer& consoleTrim, ConsoleOutput& console, OperatorMessages& messages,
                   Journal& journal, QObject* parent)
    : QObject(parent), m_vars(vars), m_replyWait(replyWait), m_consoleTrim(consoleTrim),
      m_console(console), m_messages(messages), m_journal(journal),
      m_link(std::move(device), m_windowMessages),
      m_dispatcher(m_queue, vars, m_link, replyWait, m_windowMessages, messages, journal),
      m_assembler(*this) {
    m_windowMessages.setHandler(this);
    m_replyWait.onTimeout([this] { TimerWaitEndTimer(); });
    m_consoleTrim.onTimeout([this] { m_console.trim(); });
}

Terminal::~Terminal() {
    m_replyWait.onTimeout(nullptr);
    m_consoleTrim.onTimeout(nullptr);
    m_link.close();
    m_windowMessages.setHandler(nullptr);
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
    m_vars.PortOpen = number;
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
    m_link.close();
    m_vars.PortOpen = 0;
    // What the line delivered before it closed is routed first: a prompt among it ended
    // its command before the close did.
    m_windowMessages.deliverPending();
    m_dispatcher.portGone(why == PortEvent::Lost ? CommandEnd::PortLost : CommandEnd::PortClosed);
    m_journal.portEvent(why, device);
    emit portClosed();
}

QByteArray Terminal::deviceName() const {
    return Cp1251::fromUnicode(m_link.name() + QLatin1Char(' ') +
                               SerialLink::devicePath(m_link.number()));
}

void Terminal::sendStop() {
    if (m_vars.PortOpen == 0) {
        m_messages.plain(QString::fromUtf8(PORT_NOT_OPEN_TEXT));
        return;
    }
    m_link.WriteComm(QByteArrayView(&STOP_BYTE, 1));
    m_dispatcher.recordStop(deviceName());
}

void Terminal::handleMessage(const PostedMessage& message) {
    switch (message.message) {
    case WM_RECEIVED: {
        const Journal::Burst burst(m_journal);
        m_assembler.addBytes(message.data);
        break;
    }
    case WM_SENDCOMMAND:
        m_dispatcher.WMSendCommand(sendCommandOf(message));
        break;
    case WM_POSTCTS:
        emit ctsChanged();
        break;
    case WM_POSTDSR:
        emit dsrChanged();
        break;
    case WM_LINELOST:
        closeLine(PortEvent::Lost);
        break;
    default:
        break;
    }
}

// The end is posted with the number of the command whose wait ran out: should the prompt
// that ends it be waiting in the messages already, the late run-out ends nothing.
void Terminal::TimerWaitEndTimer() {
    const std::uint64_t command = m_dispatcher.commandNumber();
    m_replyWait.disable();
    m_assembler.EndStr();
    m_windowMessages.post(postedSendCommand(SendCommand::ended(command, CommandEnd::Silence)));
}

void Terminal::consoleLine(const ReplyLine& line) {
    m_console.appendLine(line);
    m_dispatcher.recordLine(line);
}

void Terminal::restartReplyWait() {
    m_replyWait.restart();
}

void Terminal::restartConsoleTrim() {
    m_consoleTrim.restart();
}
