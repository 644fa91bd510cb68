#pragma once

#include "link/SerialDevice.h"
#include "link/Telnet.h"

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstdint>
#include <optional>

// The client's side of a serial port behind a terminal server, reached by Telnet with the
// COM-PORT option (RFC 2217). It asks for 8-bit data both ways (BINARY), so that a CR goes
// out as one byte and only IAC is doubled, and takes the server's line settings as they are:
// once the server agrees to the option it only asks for them (the value-0 queries) and for
// notices of CTS and DSR; a setting is sent only when the operator changes it. Answers are
// never waited for: the settings and the modem lines are known from the first answer on.
// A plain class: the device that owns it feeds it what arrives and sends what it gives.
class ComPortClient final : private Telnet::Decoder::Events {
public:
    // RFC 2217's commands, client to server; the server answers each with its code + 100.
    enum Command : std::uint8_t {
        SetBaudRate = 1,
        SetDataSize = 2,
        SetParity = 3,
        SetStopSize = 4,
        SetControl = 5,
        NotifyModemState = 7,
        FlowControlSuspend = 8,
        FlowControlResume = 9,
        SetModemStateMask = 11,
    };
    static constexpr std::uint8_t SERVER = 100;
    // NOTIFY-MODEMSTATE's bits: CTS and DSR, and their change bits.
    static constexpr std::uint8_t CTS = 0x10;
    static constexpr std::uint8_t DSR = 0x20;
    static constexpr std::uint8_t CTS_CHANGED = 0x01;
    static constexpr std::uint8_t DSR_CHANGED = 0x02;

    // What the client sends first, as soon as the connection stands: it will use, and asks
    // the server to use, BINARY and suppress-go-ahead, and it will use COM-PORT.
    QByteArray greeting();
    // Data on its way out: every IAC doubled, nothing else changed.
    static QByteArray encoded(QByteArrayView data) { return Telnet::escaped(data); }
    // RFC 2217 can say no flow control, XON/XOFF both ways, or RTS/CTS; not XON/XOFF one
    // way only, nor IXANY.
    static bool expressible(const LineSettings& settings);

    // What arrived: its data bytes are appended to `data`; the server's negotiation and
    // answers are taken in.
    void receive(QByteArrayView bytes, QByteArray& data);
    // What is to be sent before any further data (answers to the server's negotiation, the
    // queries, settings asked for); empty when nothing is. Each byte is handed out once.
    QByteArray takeOutput();
    bool hasOutput() const { return !m_output.isEmpty(); }

    // The line settings as the server last told them; nothing until it has told all five.
    std::optional<LineSettings> settings() const;
    // Asks the server for what `wanted` changes against what it told (all of it while it has
    // told nothing). False, and nothing asked, when RFC 2217 cannot express `wanted`.
    bool requestSettings(const LineSettings& wanted);
    // CTS and DSR as the server last told them; nothing until it has.
    std::optional<ModemLines> modemLines() const { return m_modem; }
    // The server asked to stop sending data and has not said to go on.
    bool suspended() const { return m_suspended; }

private:
    enum Told : unsigned { Baud = 1, Size = 2, Parity = 4, Stop = 8, Flow = 16, All = 31 };

    void negotiation(std::uint8_t verb, std::uint8_t option) override;
    void subnegotiation(std::uint8_t option, QByteArrayView payload) override;
    void agree(bool& enabled, bool accept, std::uint8_t yes, std::uint8_t no, std::uint8_t option);
    void disable(bool& enabled, std::uint8_t no, std::uint8_t option);
    void ask(Command command, QByteArrayView value);
    void serverTold(std::uint8_t command, QByteArrayView value);

    Telnet::Decoder m_decoder;
    QByteArray m_output;
    std::array<bool, 256> m_local{};  // options this side uses (it said WILL)
    std::array<bool, 256> m_remote{}; // options the server uses (this side said DO)
    bool m_asked = false;             // the queries have been sent
    LineSettings m_settings;
    unsigned m_told = 0; // Told bits
    std::optional<ModemLines> m_modem;
    bool m_suspended = false;
};
