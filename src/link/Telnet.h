#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>

// Telnet's framing of a byte stream, as a terminal server speaks it: data bytes, in which the
// byte IAC (0xFF, the letter "я" of code page 1251) is doubled, and commands that begin with
// IAC: option negotiation (IAC WILL/WONT/DO/DONT option) and subnegotiation (IAC SB option
// ... IAC SE).
namespace Telnet {

constexpr std::uint8_t IAC = 255;
constexpr std::uint8_t DONT = 254;
constexpr std::uint8_t DO = 253;
constexpr std::uint8_t WONT = 252;
constexpr std::uint8_t WILL = 251;
constexpr std::uint8_t SB = 250;
constexpr std::uint8_t SE = 240;

constexpr std::uint8_t BINARY = 0;    // 8-bit data, CR not followed by NUL or LF
constexpr std::uint8_t ECHO = 1;      // the other side echoes what it receives
constexpr std::uint8_t SGA = 3;       // no go-ahead: a full-duplex line
constexpr std::uint8_t COM_PORT = 44; // RFC 2217: the serial port behind the server

// Data as it goes out: every IAC doubled.
QByteArray escaped(QByteArrayView data);
QByteArray command(std::uint8_t verb, std::uint8_t option);
// IAC SB option payload IAC SE, an IAC in the payload doubled.
QByteArray subnegotiation(std::uint8_t option, QByteArrayView payload);

// Takes the received stream apart. A command or subnegotiation that a read splits goes on
// with the next read; what the stream means is reported through Events, data bytes are
// appended to the caller's buffer. A subnegotiation longer than SUBNEGOTIATION_BYTES is read
// to its end and dropped: nothing a server sends can make the decoder grow.
class Decoder {
public:
    static constexpr qsizetype SUBNEGOTIATION_BYTES = 64;

    class Events {
    public:
        virtual ~Events() = default;
        virtual void negotiation(std::uint8_t verb, std::uint8_t option) = 0;
        virtual void subnegotiation(std::uint8_t option, QByteArrayView payload) = 0;
    };

    // Appends the data bytes of `bytes` to `data`.
    void decode(QByteArrayView bytes, QByteArray& data, Events& events);

private:
    enum class State { Data, Command, Option, SubOption, SubData, SubCommand };
    void subnegotiationByte(char byte);

    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    std::uint8_t m_subOption = 0;
    QByteArray m_sub;
    bool m_subTooLong = false;
};

} // namespace Telnet
