#pragma once

#include <QString>

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <sys/types.h>

// The line settings that the port's configuration dialog edits.
struct LineSettings {
    enum class Parity { None, Odd, Even, Mark, Space };
    // Flow control as the line holds it: RTS/CTS and the three XON/XOFF bits, in any mix.
    enum Flow : unsigned {
        RtsCts = 1,    // hardware flow control
        XonOutput = 2, // output pauses on XOFF and goes on at XON (IXON)
        XoffInput = 4, // XOFF is sent while input cannot be taken (IXOFF)
        XonAny = 8,    // any received byte lets paused output go on (IXANY)
    };
    static constexpr unsigned XON_XOFF = XonOutput | XoffInput;
    int baudRate = 9600;
    int dataBits = 8;
    Parity parity = Parity::None;
    int stopBits = 1;
    unsigned flow = 0; // Flow bits
    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

struct ModemLines {
    bool cts = false;
    bool dsr = false;
    friend bool operator==(const ModemLines&, const ModemLines&) = default;
};

// One serial device as the link uses it: a pollable descriptor plus the few controls of
// a serial line. The real ones are a POSIX terminal device and a terminal server's port over
// the network; tests substitute their own.
class SerialDevice {
public:
    virtual ~SerialDevice() = default;
    // Opens the device for exclusive use; on failure returns false and leaves it closed.
    virtual bool open(const QString& path) = 0;
    // Called on the port reader's thread before its first read or write. A device reached
    // over the network connects here, and gives up once `stopping` is set (the reader is
    // woken through `wakeFd` for it). False when the line cannot be had: failure() says why.
    virtual bool connect(int wakeFd, const std::atomic<bool>& stopping) {
        (void)wakeFd;
        (void)stopping;
        return true;
    }
    // Why the last open or connect failed, when the device can tell (a terminal server's own
    // words, or the system's reason); empty otherwise.
    virtual QString failure() const { return {}; }
    // Releases the device at once: output not yet sent is dropped, never waited for.
    virtual void close() = 0;
    // The descriptor that the reader polls for input, output room and hang-up.
    virtual int descriptor() const = 0;
    // Non-blocking transfers with the meaning of read(2)/write(2).
    virtual ssize_t readSome(char* buffer, std::size_t size) = 0;
    virtual ssize_t writeSome(const char* bytes, std::size_t size) = 0;
    // Discards everything queued for sending and everything received but not yet read.
    virtual void purge() = 0;
    // The CTS and DSR lines, or nothing when the device has no modem lines.
    virtual std::optional<ModemLines> modemLines() const = 0;
    virtual std::optional<LineSettings> settings() const = 0;
    virtual bool applySettings(const LineSettings& settings) = 0;

    // A device with a protocol of its own (Telnet) may have bytes of its own to send, and may
    // be asked by the far end to pause the data; its output goes out through flushOutput(),
    // false when the line failed.
    virtual bool hasOutput() const { return false; }
    virtual bool flushOutput() { return true; }
    virtual bool mayWrite() const { return true; }
    // True when CTS and DSR must be sampled to see them change; false when the device hears
    // of every change among what it reads.
    virtual bool samplesModemLines() const { return true; }
};
