#include "link/SerialLink.h"

#include "link/NetworkSerialDevice.h"

#include <cstdlib>

SerialLink::SerialLink(std::unique_ptr<SerialDevice> device, PortMessages& poster)
    : m_device(std::move(device)), m_reader(*m_device, poster) {}

SerialLink::~SerialLink() {
    close();
}

QString SerialLink::devicePath(std::uint8_t number) {
    const char* variable = number == 2 ? "KORVANT_COM2" : "KORVANT_COM1";
    const char* configured = std::getenv(variable);
    if (configured && *configured)
        return QString::fromLocal8Bit(configured);
    return number == 2 ? QStringLiteral("/dev/ttyS1") : QStringLiteral("/dev/ttyS0");
}

bool SerialLink::isRemote() const {
    return isOpen() && NetworkSerialDevice::isNetworkAddress(device());
}

bool SerialLink::open(const QString& name, std::uint8_t number) {
    if (isOpen() || !start(devicePath(number)))
        return false;
    m_number = number;
    m_name = name;
    return true;
}

bool SerialLink::start(const QString& path) {
    if (!m_device->open(path))
        return false;
    m_device->purge();
    m_reader.start();
    return true;
}

void SerialLink::close() {
    if (!isOpen())
        return;
    release();
    m_waiting = false;
    m_number = 0;
    m_name.clear();
}

void SerialLink::release() {
    if (!isOpen())
        return;
    m_reader.stop();
    m_device->close();
    m_waiting = true;
}

bool SerialLink::reopen() {
    if (!m_waiting || !start(device()))
        return false;
    m_waiting = false;
    return true;
}

bool SerialLink::lineIsThere() const {
    return isOpen() && !m_waiting;
}

void SerialLink::WriteComm(QByteArrayView bytes) {
    if (lineIsThere())
        m_reader.write(bytes);
}

std::optional<ModemLines> SerialLink::modemLines() const {
    return lineIsThere() ? m_device->modemLines() : std::nullopt;
}

std::optional<LineSettings> SerialLink::settings() const {
    return lineIsThere() ? m_device->settings() : std::nullopt;
}

// A device that sends its settings over its line (a terminal server's port) leaves them to
// the reader, which is woken for it.
bool SerialLink::applySettings(const LineSettings& settings) {
    if (!lineIsThere() || !m_device->applySettings(settings))
        return false;
    m_reader.wake();
    return true;
}
