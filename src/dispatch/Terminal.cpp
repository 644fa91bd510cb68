#include "Terminal.h"

#include "ConsoleOutput.h"
#include "Cp1251.h"
#include "OperatorMessages.h"
#include "Timer.h"
#include "Vars.h"

Terminal::Terminal(Vars& vars, std::unique_ptr<SerialDevice> device, Timer& replyWait,
                   Timer& consoleTrim, ConsoleOutput& console, OperatorMessages& messages,
                   QObject* parent)
    : QObject(parent), m_vars(vars), m_replyWait(replyWait), m_consoleTrim(consoleTrim),
      m_console(console), m_messages(messages), m_link(std::move(device), m_windowMessages),
      m_dispatcher(m_queue, vars, m_link, replyWait, m_windowMessages, messages),
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
    m_assembler.reset();
    m_dispatcher.resetForOpen();
    emit portOpened();
    return true;
}

void Terminal::closePort() {
    if (!m_link.isOpen())
        return;
    m_link.close();
    m_vars.PortOpen = 0;
    emit portClosed();
}

void Terminal::SpeedButton3Click() {
    if (m_vars.PortOpen == 0) {
        m_messages.plain(QString::fromUtf8(PORT_NOT_OPEN_TEXT));
        return;
    }
    m_link.WriteComm(QByteArrayView(&STOP_BYTE, 1));
}

void Terminal::handleMessage(const PostedMessage& message) {
    switch (message.message) {
    case WM_RECEIVED:
        m_assembler.addBytes(message.data);
        break;
    case WM_SENDCOMMAND:
        m_dispatcher.WMSendCommand(message.lParam);
        break;
    case WM_POSTCTS:
        emit ctsChanged();
        break;
    case WM_POSTDSR:
        emit dsrChanged();
        break;
    case WM_LINELOST:
        closePort();
        break;
    default:
        break;
    }
}

void Terminal::TimerWaitEndTimer() {
    m_replyWait.disable();
    m_assembler.EndStr();
    m_windowMessages.post(WM_SENDCOMMAND, 0, 1);
}

void Terminal::consoleLine(const ReplyLine& line) {
    m_console.appendLine(Cp1251::toUnicode(line.view()));
}

void Terminal::restartReplyWait() {
    m_replyWait.restart();
}

void Terminal::restartConsoleTrim() {
    m_consoleTrim.restart();
}
