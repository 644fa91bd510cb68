#pragma once

#include "link/SerialDevice.h"

// A device that hands every call to another one; a subclass names which, and takes over
// only the calls it does something with.
class ForwardingDevice : public SerialDevice {
public:
    bool open(const QString& path) override { return target().open(path); }
    bool connect(int wakeFd, const std::atomic<bool>& stopping) override {
        return target().connect(wakeFd, stopping);
    }
    QString failure() const override { return target().failure(); }
    void close() override { target().close(); }
    int descriptor() const override { return target().descriptor(); }
    ssize_t readSome(char* buffer, std::size_t size) override {
        return target().readSome(buffer, size);
    }
    ssize_t writeSome(const char* bytes, std::size_t size) override {
        return target().writeSome(bytes, size);
    }
    void purge() override { target().purge(); }
    std::optional<ModemLines> modemLines() const override { return target().modemLines(); }
    std::optional<LineSettings> settings() const override { return target().settings(); }
    bool applySettings(const LineSettings& settings) override {
        return target().applySettings(settings);
    }
    bool hasOutput() const override { return target().hasOutput(); }
    bool flushOutput() override { return target().flushOutput(); }
    bool mayWrite() const override { return target().mayWrite(); }
    bool samplesModemLines() const override { return target().samplesModemLines(); }

protected:
    virtual SerialDevice& target() = 0;
    virtual const SerialDevice& target() const = 0;
};
