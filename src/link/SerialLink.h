#pragma once

#include "link/PortReader.h"
#include "link/PortWriter.h"
#include "link/SerialDevice.h"

#include <QString>

#include <cstdint>
#include <memory>

// The line to the exchange on the window thread's side: opens and closes the device,
// runs its reader thread and passes writes to it. Which device "Com1" and "Com2" name
// comes from KORVANT_COM1 / KORVANT_COM2 (default /dev/ttyS0, /dev/ttyS1, or a terminal
// server's port: "rfc2217://HOST:PORT", "socket://HOST:PORT").
//
// A port whose line was lost stays open, waiting: its device is released and its reader
// stopped until reopen() has the line again, or close() ends the waiting.
class SerialLink final : public PortWriter {
public:
    SerialLink(std::unique_ptr<SerialDevice> device, PortMessages& poster);
    ~SerialLink() override;

    // Opens the port, purges both of its queues and starts a fresh reader; false when the
    // device is missing or held by someone else.
    bool open(const QString& name, std::uint8_t number);
    // Stops the reader (wakes and joins it) and closes the device; bytes not yet sent are
    // dropped. Harmless when nothing is open.
    void close();
    bool isOpen() const { return m_number != 0; }
    std::uint8_t PortOpen() const override { return m_number; }
    const QString& name() const { return m_name; }
    // The device path or network address of the open port.
    QString device() const { return isOpen() ? devicePath(m_number) : QString(); }
    bool isRemote() const;

    // The line was lost: the reader has stopped by itself; the device is released and the
    // port waits for its line. Harmless when nothing is open.
    void release();
    bool isWaiting() const { return m_waiting; }
    // Tries to have the waiting port's device again and starts its reader, which posts
    // LineUp once the line is there or LineLost when it is not. False when the device
    // cannot be opened now; failure() says why, when the device can tell.
    bool reopen();
    QString failure() const { return m_device->failure(); }

    // Bytes written while no port is open, or while it waits for its line, are dropped
    // without notice, as a failed write.
    void WriteComm(QByteArrayView bytes) override;

    std::optional<ModemLines> modemLines() const;
    std::optional<LineSettings> settings() const;
    bool applySettings(const LineSettings& settings);

    static QString devicePath(std::uint8_t number);

private:
    bool start(const QString& path);
    bool lineIsThere() const;

    std::unique_ptr<SerialDevice> m_device;
    PortReader m_reader;
    std::uint8_t m_number = 0;
    QString m_name;
    bool m_waiting = false;
};
