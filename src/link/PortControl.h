#pragma once

#include "link/SerialDevice.h"

#include <QString>

#include <cstdint>
#include <optional>

// What the port window asks of the link.
class PortControl {
public:
    virtual ~PortControl() = default;
    virtual bool OpenComPort(const QString& name, std::uint8_t number) = 0;
    virtual void closePort() = 0;
    virtual bool portIsOpen() const = 0;
    virtual QString portName() const = 0;
    // The open port's device path or terminal server address.
    virtual QString portDevice() const = 0;
    virtual bool portIsRemote() const = 0;
    // The open port lost its line and waits for it to return.
    virtual bool lineWaiting() const = 0;
    virtual std::optional<LineSettings> lineSettings() const = 0;
    virtual bool applyLineSettings(const LineSettings& settings) = 0;
};
