#pragma once

#include <QByteArrayView>

// The raw write to the exchange's line: queues the bytes and returns at once.
class PortWriter {
public:
    virtual ~PortWriter() = default;
    virtual void WriteComm(QByteArrayView bytes) = 0;
};
