#pragma once

#include "link/ForwardingDevice.h"
#include "link/NetworkSerialDevice.h"
#include "link/PosixSerialDevice.h"
#include "link/SerialDevice.h"

#include <memory>

// The device that a port's name leads to: a terminal server's port when the name is a
// network address ("rfc2217://HOST:PORT", "socket://HOST:PORT"), a terminal device
// (/dev/ttyS0, /dev/ttyUSB0) otherwise. Each open chooses anew.
class PortDevice final : public ForwardingDevice {
public:
    static std::unique_ptr<SerialDevice> create() { return std::make_unique<PortDevice>(); }

    bool open(const QString& path) override {
        m_active->close();
        m_active = NetworkSerialDevice::isNetworkAddress(path)
                       ? static_cast<SerialDevice*>(&m_network)
                       : static_cast<SerialDevice*>(&m_local);
        return m_active->open(path);
    }

private:
    SerialDevice& target() override { return *m_active; }
    const SerialDevice& target() const override { return *m_active; }

    PosixSerialDevice m_local;
    NetworkSerialDevice m_network;
    SerialDevice* m_active = &m_local;
};
