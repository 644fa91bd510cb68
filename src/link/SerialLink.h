#pragma once

#include "link/PortReader.h"
#include "link/PortWriter.h"
#include "link/SerialDevice.h"

#include <QString>

#include <cstdint>
#include <memory>

// The line to the exchange on the window thread's side: opens and closes the device,
// runs its reader thread and passes writes to it. Which device "Com1" and "Com2" name
// comes from KORVANT_COM1 / KORVANT_COM2 (default /dev/ttyS0, /dev/ttyS1).
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

    // Bytes written while no port is open are dropped without notice, as a failed write.
    void WriteComm(QByteArrayView bytes) override;

    std::optional<ModemLines> modemLines() const;
    std::optional<LineSettings> settings() const;
    bool applySettings(const LineSettings& settings);

    static QString devicePath(std::uint8_t number);

private:
    std::unique_ptr<SerialDevice> m_device;
    PortReader m_reader;
    std::uint8_t m_number = 0;
    QString m_name;
};
