#include "link/Telnet.h"

#include <initializer_list>

namespace Telnet {

QByteArray escaped(QByteArrayView data) {
    QByteArray out;
    out.reserve(data.size() + data.size() / 16);
    for (const char byte : data) {
        out += byte;
        if (static_cast<std::uint8_t>(byte) == IAC)
            out += byte;
    }
    return out;
}

namespace {
QByteArray bytes(std::initializer_list<std::uint8_t> values) {
    QByteArray out;
    for (const std::uint8_t value : values)
        out += char(value);
    return out;
}
} // namespace

QByteArray command(std::uint8_t verb, std::uint8_t option) {
    return bytes({IAC, verb, option});
}

QByteArray subnegotiation(std::uint8_t option, QByteArrayView payload) {
    return bytes({IAC, SB, option}) + escaped(payload) + bytes({IAC, SE});
}

void Decoder::decode(QByteArrayView bytes, QByteArray& data, Events& events) {
    for (const char c : bytes) {
        const auto byte = static_cast<std::uint8_t>(c);
        switch (m_state) {
        case State::Data:
            if (byte == IAC)
                m_state = State::Command;
            else
                data += c;
            break;
        case State::Command:
            m_state = State::Data;
            if (byte == IAC) {
                data += c; // a doubled IAC is one data byte
            } else if (byte >= WILL && byte <= DONT) {
                m_verb = byte;
                m_state = State::Option;
            } else if (byte == SB) {
                m_state = State::SubOption;
            } // any other command (NOP, GA, a stray SE...) means nothing here
            break;
        case State::Option:
            m_state = State::Data;
            events.negotiation(m_verb, byte);
            break;
        case State::SubOption:
            m_subOption = byte;
            m_sub.clear();
            m_subTooLong = false;
            m_state = State::SubData;
            break;
        case State::SubData:
            if (byte == IAC)
                m_state = State::SubCommand;
            else
                subnegotiationByte(c);
            break;
        case State::SubCommand:
            if (byte == SE) {
                m_state = State::Data;
                if (!m_subTooLong)
                    events.subnegotiation(m_subOption, m_sub);
                m_sub.clear();
            } else {
                // IAC IAC is an IAC of the payload; a server that forgets IAC SE is taken
                // as far as the payload goes.
                m_state = State::SubData;
                subnegotiationByte(c);
            }
            break;
        }
    }
}

void Decoder::subnegotiationByte(char byte) {
    if (m_sub.size() < SUBNEGOTIATION_BYTES)
        m_sub += byte;
    else
        m_subTooLong = true;
}

} // namespace Telnet
