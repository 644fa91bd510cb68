#pragma once

#include <QByteArrayView>

#include <cstdint>

// The exchange's line as the dispatcher sees it: which port is open, and the raw write,
// which queues the bytes and returns at once.
class PortWriter {
public:
    virtual ~PortWriter() = default;
    // 1 = COM1 open, 2 = COM2 open, 0 = no port; commands are refused while it is 0.
    virtual std::uint8_t PortOpen() const = 0;
    virtual void WriteComm(QByteArrayView bytes) = 0;
};
