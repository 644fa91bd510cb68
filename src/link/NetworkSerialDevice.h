#pragma once

#include "link/ComPortClient.h"
#include "link/SerialDevice.h"

#include <QString>

#include <mutex>
#include <optional>

// A serial port behind a terminal server (ser2net, a Moxa NPort, a Lantronix or Digi box),
// reached over TCP: "socket://HOST:PORT" is the port's raw byte stream, "rfc2217://HOST:PORT"
// is Telnet with the COM-PORT option (ComPortClient), which also carries the line settings
// and the CTS and DSR lines. The socket is non-blocking and polled by the port's reader like
// a terminal device; the connection is made on the reader's thread, so the window thread
// never waits for it.
//
// A terminal server that cannot open its device says so in a line of text and closes the
// connection at once (ser2net: "Device open failure: ..."). What a connection brings before
// it closes within SETTLE_MS of its start is therefore taken as the server's refusal
// (failure()), not as the exchange's output.
class NetworkSerialDevice final : public SerialDevice {
public:
    enum class Protocol { Raw, Rfc2217 };
    struct Address {
        Protocol protocol = Protocol::Raw;
        QString host;
        int port = 0;
        friend bool operator==(const Address&, const Address&) = default;
    };

    static constexpr int CONNECT_TIMEOUT_MS = 5000;
    static constexpr int SETTLE_MS = 500;
    // Data bytes taken from the reader per write: their Telnet form is at most twice this.
    static constexpr std::size_t WRITE_CHUNK = 1024;

    // "rfc2217://HOST:PORT" or "socket://HOST:PORT" (HOST a name, an IPv4 address or an IPv6
    // one in brackets); anything after "?" is ignored. Nothing for any other text.
    static std::optional<Address> parse(const QString& url);
    // The name has the form of a network address (SCHEME://...), well formed or not.
    static bool isNetworkAddress(const QString& name);

    NetworkSerialDevice() = default;
    ~NetworkSerialDevice() override;
    NetworkSerialDevice(const NetworkSerialDevice&) = delete;
    NetworkSerialDevice& operator=(const NetworkSerialDevice&) = delete;

    // Takes the address; the connection is made by connect().
    bool open(const QString& url) override;
    bool connect(int wakeFd, const std::atomic<bool>& stopping) override;
    QString failure() const override;
    void close() override;
    int descriptor() const override { return m_fd; }
    ssize_t readSome(char* buffer, std::size_t size) override;
    ssize_t writeSome(const char* bytes, std::size_t size) override;
    // The server opens its device afresh for each connection: nothing old waits there.
    void purge() override {}
    std::optional<ModemLines> modemLines() const override;
    std::optional<LineSettings> settings() const override;
    bool applySettings(const LineSettings& settings) override;
    bool hasOutput() const override;
    bool flushOutput() override;
    bool mayWrite() const override;
    bool samplesModemLines() const override { return false; }

private:
    bool settled(int wakeFd, const std::atomic<bool>& stopping);
    bool fail(const QString& why);
    bool sendPending(); // under m_mutex

    std::optional<Address> m_address;
    int m_fd = -1;
    mutable std::mutex m_mutex; // the protocol state: the reader's and the window's threads
    ComPortClient m_client;
    QByteArray m_pending; // Telnet bytes not yet taken by the socket
    QString m_failure;
};
