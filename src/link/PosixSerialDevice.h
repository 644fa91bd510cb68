#pragma once

#include "link/SerialDevice.h"

// A terminal device (/dev/ttyS0, /dev/ttyUSB0, a pseudo-terminal) opened as the exchange's
// line. The open keeps the line's speed, framing and flow control as the system holds
// them and only makes the line discipline raw: no echo, no canonical mode, no CR/LF
// translation, reads that return what is there.
class PosixSerialDevice final : public SerialDevice {
public:
    // The name of the short-lived thread that closes a released device's descriptor.
    static constexpr const char* CLOSER_THREAD_NAME = "port close";

    PosixSerialDevice() = default;
    ~PosixSerialDevice() override;
    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

    bool open(const QString& path) override;
    void close() override;
    int descriptor() const override { return m_fd; }
    ssize_t readSome(char* buffer, std::size_t size) override;
    ssize_t writeSome(const char* bytes, std::size_t size) override;
    void purge() override;
    std::optional<ModemLines> modemLines() const override;
    std::optional<LineSettings> settings() const override;
    bool applySettings(const LineSettings& settings) override;

    static std::unique_ptr<SerialDevice> create();

private:
    int m_fd = -1;
};
