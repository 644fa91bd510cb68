#include "Fakes.h"

#include <sys/socket.h>
#include <unistd.h>

FakeSerialDevice::FakeSerialDevice() = default;

FakeSerialDevice::~FakeSerialDevice() {
    close();
}

bool FakeSerialDevice::open(const QString& path) {
    openedPath = path;
    if (refuseOpen)
        return false;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
        return false;
    m_fd = pair[0];
    m_exchangeEnd = pair[1];
    return true;
}

void FakeSerialDevice::close() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_exchangeEnd >= 0)
        ::close(m_exchangeEnd);
    m_fd = m_exchangeEnd = -1;
}

ssize_t FakeSerialDevice::readSome(char* buffer, std::size_t size) {
    return ::read(m_fd, buffer, size);
}

ssize_t FakeSerialDevice::writeSome(const char* bytes, std::size_t size) {
    return ::write(m_fd, bytes, size);
}

std::optional<ModemLines> FakeSerialDevice::modemLines() const {
    std::lock_guard lock(m_mutex);
    if (m_fd < 0)
        return std::nullopt;
    return m_lines;
}

void FakeSerialDevice::setModemLines(ModemLines lines) {
    std::lock_guard lock(m_mutex);
    m_lines = lines;
}

std::optional<LineSettings> FakeSerialDevice::settings() const {
    if (m_fd < 0 || settingsUnreadable)
        return std::nullopt;
    return lineSettings;
}

bool FakeSerialDevice::applySettings(const LineSettings& settings) {
    if (settingsRefused)
        return false;
    lineSettings = settings;
    ++applied;
    return true;
}
