#include "link/ComPortClient.h"

namespace {

using Telnet::BINARY;
using Telnet::COM_PORT;
using Telnet::SGA;

// Options this client uses and lets the server use; ECHO and all others are refused, so
// that nothing the client sends comes back as if the exchange had sent it.
bool acceptedHere(std::uint8_t option) {
    return option == BINARY || option == SGA || option == COM_PORT;
}
bool acceptedThere(std::uint8_t option) {
    return option == BINARY || option == SGA;
}

// RFC 2217's values of SET-PARITY, in the order of LineSettings::Parity.
constexpr std::uint8_t PARITY_VALUES[] = {1, 2, 3, 4, 5};
// SET-CONTROL's values for flow control, outbound and both ways.
constexpr std::uint8_t FLOW_NONE = 1;
constexpr std::uint8_t FLOW_XON_XOFF = 2;
constexpr std::uint8_t FLOW_HARDWARE = 3;

std::uint8_t flowValue(unsigned flow) {
    if (flow == LineSettings::RtsCts)
        return FLOW_HARDWARE;
    return flow == LineSettings::XON_XOFF ? FLOW_XON_XOFF : FLOW_NONE;
}

QByteArray bigEndian(std::uint32_t value) {
    QByteArray bytes(4, '\0');
    for (int i = 3; i >= 0; --i, value >>= 8)
        bytes[i] = char(value & 0xFF);
    return bytes;
}

std::uint32_t bigEndianOf(QByteArrayView bytes) {
    std::uint32_t value = 0;
    for (const char byte : bytes.first(4))
        value = value << 8 | static_cast<std::uint8_t>(byte);
    return value;
}

} // namespace

QByteArray ComPortClient::greeting() {
    m_local[BINARY] = m_remote[BINARY] = m_local[SGA] = m_remote[SGA] = true;
    m_local[COM_PORT] = true;
    return Telnet::command(Telnet::WILL, BINARY) + Telnet::command(Telnet::DO, BINARY) +
           Telnet::command(Telnet::WILL, SGA) + Telnet::command(Telnet::DO, SGA) +
           Telnet::command(Telnet::WILL, COM_PORT);
}

bool ComPortClient::expressible(const LineSettings& settings) {
    return settings.flow == 0 || settings.flow == LineSettings::XON_XOFF ||
           settings.flow == LineSettings::RtsCts;
}

void ComPortClient::receive(QByteArrayView bytes, QByteArray& data) {
    m_decoder.decode(bytes, data, *this);
}

QByteArray ComPortClient::takeOutput() {
    return std::exchange(m_output, {});
}

std::optional<LineSettings> ComPortClient::settings() const {
    if (m_told != All)
        return std::nullopt;
    return m_settings;
}

bool ComPortClient::requestSettings(const LineSettings& wanted) {
    if (!expressible(wanted))
        return false;
    const auto told = settings();
    if (!told || told->baudRate != wanted.baudRate)
        ask(SetBaudRate, bigEndian(std::uint32_t(wanted.baudRate)));
    if (!told || told->dataBits != wanted.dataBits)
        ask(SetDataSize, QByteArray(1, char(wanted.dataBits)));
    if (!told || told->parity != wanted.parity)
        ask(SetParity, QByteArray(1, char(PARITY_VALUES[int(wanted.parity)])));
    if (!told || told->stopBits != wanted.stopBits)
        ask(SetStopSize, QByteArray(1, char(wanted.stopBits == 2 ? 2 : 1)));
    if (!told || told->flow != wanted.flow)
        ask(SetControl, QByteArray(1, char(flowValue(wanted.flow))));
    return true;
}

// Option negotiation as RFC 1143 has it: a request to enable is answered yes (once, when
// the option was off) or no (each time); a request to disable is answered only when the
// option was on. A request that finds the option as it is answers nothing, so that the
// server's answers to this side's own requests start no loop.
void ComPortClient::agree(bool& enabled, bool accept, std::uint8_t yes, std::uint8_t no,
                          std::uint8_t option) {
    if (enabled)
        return;
    enabled = accept;
    m_output += Telnet::command(accept ? yes : no, option);
}

void ComPortClient::disable(bool& enabled, std::uint8_t no, std::uint8_t option) {
    if (!enabled)
        return;
    enabled = false;
    m_output += Telnet::command(no, option);
}

void ComPortClient::negotiation(std::uint8_t verb, std::uint8_t option) {
    switch (verb) {
    case Telnet::DO:
        agree(m_local[option], acceptedHere(option), Telnet::WILL, Telnet::WONT, option);
        break;
    case Telnet::DONT:
        disable(m_local[option], Telnet::WONT, option);
        break;
    case Telnet::WILL:
        agree(m_remote[option], acceptedThere(option), Telnet::DO, Telnet::DONT, option);
        break;
    case Telnet::WONT:
        disable(m_remote[option], Telnet::DONT, option);
        break;
    default:
        break;
    }
    // The server has agreed to COM-PORT: its settings and its modem lines are asked for,
    // once; nothing is set.
    if (verb == Telnet::DO && option == COM_PORT && !m_asked) {
        m_asked = true;
        ask(SetBaudRate, bigEndian(0));
        for (const Command query : {SetDataSize, SetParity, SetStopSize, SetControl})
            ask(query, QByteArray(1, '\0'));
        ask(SetModemStateMask, QByteArray(1, char(CTS | DSR | CTS_CHANGED | DSR_CHANGED)));
    }
}

void ComPortClient::ask(Command command, QByteArrayView value) {
    m_output +=
        Telnet::subnegotiation(COM_PORT, QByteArray(1, char(command)) + value.toByteArray());
}

void ComPortClient::subnegotiation(std::uint8_t option, QByteArrayView payload) {
    if (option != COM_PORT || payload.isEmpty())
        return;
    const auto code = static_cast<std::uint8_t>(payload.front());
    // The suspension may come as the client's code too.
    const std::uint8_t command = code >= SERVER ? code - SERVER : code;
    serverTold(command, payload.sliced(1));
}

void ComPortClient::serverTold(std::uint8_t command, QByteArrayView value) {
    if (command == FlowControlSuspend || command == FlowControlResume) {
        m_suspended = command == FlowControlSuspend;
        return;
    }
    if (value.isEmpty())
        return;
    const auto byte = static_cast<std::uint8_t>(value.front());
    switch (command) {
    case SetBaudRate:
        if (value.size() >= 4 && bigEndianOf(value) > 0) {
            m_settings.baudRate = int(bigEndianOf(value));
            m_told |= Baud;
        }
        break;
    case SetDataSize:
        if (byte >= 5 && byte <= 8) {
            m_settings.dataBits = byte;
            m_told |= Size;
        }
        break;
    case SetParity:
        if (byte >= 1 && byte <= 5) {
            m_settings.parity = LineSettings::Parity(byte - 1);
            m_told |= Parity;
        }
        break;
    case SetStopSize:
        if (byte == 1 || byte == 2) {
            m_settings.stopBits = byte;
            m_told |= Stop;
        }
        break;
    case SetControl: // its other values answer DTR, RTS, BREAK and inbound flow
        if (byte == FLOW_NONE || byte == FLOW_XON_XOFF || byte == FLOW_HARDWARE) {
            m_settings.flow = byte == FLOW_HARDWARE   ? LineSettings::RtsCts
                              : byte == FLOW_XON_XOFF ? LineSettings::XON_XOFF
                                                      : 0u;
            m_told |= Flow;
        }
        break;
    case NotifyModemState:
        m_modem = ModemLines{(byte & CTS) != 0, (byte & DSR) != 0};
        break;
    default:
        break;
    }
}
