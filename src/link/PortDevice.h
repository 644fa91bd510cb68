#pragma once

#include "link/NetworkSerialDevice.h"
#include "link/PosixSerialDevice.h"
#include "link/SerialDevice.h"

#include <memory>

// The device that a port's name leads to: a terminal server's port when the name is a
// network address ("rfc2217://HOST:PORT", "socket://HOST:PORT"), a terminal device
// (/dev/ttyS0, /dev/ttyUSB0) otherwise. Each open chooses anew.
class PortDevice final : public SerialDevice {
public:
    static std::unique_ptr<SerialDevice> create() { return std::make_unique<PortDevice>(); }

    bool open(const QString& path) override {
        m_active->close();
        m_active = NetworkSerialDevice::isNetworkAddress(path)
                       ? static_cast<SerialDevice*>(&m_network)
                       : static_cast<SerialDevice*>(&m_local);
        return m_active->open(path);
    }
    bool connect(int wakeFd, const std::atomic<bool>& stopping) override {
        return m_active->connect(wakeFd, stopping);
    }
    QString failure() const override { return m_active->failure(); }
    void close() override { m_active->close(); }
    int descriptor() const override { return m_active->descriptor(); }
    ssize_t readSome(char* buffer, std::size_t size) override {
        return m_active->readSome(buffer, size);
    }
    ssize_t writeSome(const char* bytes, std::size_t size) override {
        return m_active->writeSome(bytes, size);
    }
    void purge() override { m_active->purge(); }
    std::optional<ModemLines> modemLines() const override { return m_active->modemLines(); }
    std::optional<LineSettings> settings() const override { return m_active->settings(); }
    bool applySettings(const LineSettings& settings) override {
        return m_active->applySettings(settings);
    }
    bool hasOutput() const override { return m_active->hasOutput(); }
    bool flushOutput() override { return m_active->flushOutput(); }
    bool mayWrite() const override { return m_active->mayWrite(); }
    bool samplesModemLines() const override { return m_active->samplesModemLines(); }

private:
    PosixSerialDevice m_local;
    NetworkSerialDevice m_network;
    SerialDevice* m_active = &m_local;
};
