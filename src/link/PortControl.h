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
    virtual std::optional<LineSettings> lineSettings() const = 0;
    virtual bool applyLineSettings(const LineSettings& settings) = 0;
};
