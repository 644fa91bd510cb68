#include "link/PosixSerialDevice.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

struct BaudRate {
    int rate;
    speed_t code;
};
constexpr std::array<BaudRate, 18> kBaudRates{{{50, B50},
                                               {75, B75},
                                               {110, B110},
                                               {150, B150},
                                               {300, B300},
                                               {600, B600},
                                               {1200, B1200},
                                               {2400, B2400},
                                               {4800, B4800},
                                               {9600, B9600},
                                               {19200, B19200},
                                               {38400, B38400},
                                               {57600, B57600},
                                               {115200, B115200},
                                               {230400, B230400},
                                               {460800, B460800},
                                               {921600, B921600},
                                               {1000000, B1000000}}};

int rateOf(speed_t code) {
    for (const auto& baud : kBaudRates)
        if (baud.code == code)
            return baud.rate;
    return 0;
}

std::optional<speed_t> codeOf(int rate) {
    for (const auto& baud : kBaudRates)
        if (baud.rate == rate)
            return baud.code;
    return std::nullopt;
}

// Raw line discipline without touching c_cflag (speed, framing, hardware flow control) or
// IXON, IXOFF and IXANY: those input flags are the line's XON/XOFF flow control.
void makeDisciplineRaw(termios& tio) {
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IMAXBEL);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
}

int dataBitsOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

tcflag_t sizeFlagOf(int dataBits) {
    switch (dataBits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

LineSettings::Parity parityOf(tcflag_t cflag) {
    if (!(cflag & PARENB))
        return LineSettings::Parity::None;
    const bool odd = cflag & PARODD;
    if (cflag & CMSPAR)
        return odd ? LineSettings::Parity::Mark : LineSettings::Parity::Space;
    return odd ? LineSettings::Parity::Odd : LineSettings::Parity::Even;
}

void setParity(termios& tio, LineSettings::Parity parity) {
    tio.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (parity) {
    case LineSettings::Parity::None:
        break;
    case LineSettings::Parity::Odd:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case LineSettings::Parity::Even:
        tio.c_cflag |= PARENB;
        break;
    case LineSettings::Parity::Mark:
        tio.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case LineSettings::Parity::Space:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    }
}

struct FlowFlag {
    LineSettings::Flow flow;
    tcflag_t termios::*field;
    tcflag_t flag;
};
constexpr std::array<FlowFlag, 4> kFlowFlags{{{LineSettings::RtsCts, &termios::c_cflag, CRTSCTS},
                                              {LineSettings::XonOutput, &termios::c_iflag, IXON},
                                              {LineSettings::XoffInput, &termios::c_iflag, IXOFF},
                                              {LineSettings::XonAny, &termios::c_iflag, IXANY}}};

unsigned flowOf(const termios& tio) {
    unsigned flow = 0;
    for (const auto& bit : kFlowFlags)
        if (tio.*bit.field & bit.flag)
            flow |= bit.flow;
    return flow;
}

void setFlow(termios& tio, unsigned flow) {
    for (const auto& bit : kFlowFlags) {
        if (flow & bit.flow)
            tio.*bit.field |= bit.flag;
        else
            tio.*bit.field &= ~bit.flag;
    }
}

} // namespace

PosixSerialDevice::~PosixSerialDevice() {
    close();
}

std::unique_ptr<SerialDevice> PosixSerialDevice::create() {
    return std::make_unique<PosixSerialDevice>();
}

bool PosixSerialDevice::open(const QString& path) {
    close();
    const int fd =
        ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    termios tio{};
    // flock holds against every other process, root included; TIOCEXCL refuses later opens.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::tcgetattr(fd, &tio) != 0 ||
        ::ioctl(fd, TIOCEXCL) != 0) {
        ::close(fd);
        return false;
    }
    makeDisciplineRaw(tio);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

// A serial driver's close() first waits until the device has sent what it holds, for up to
// the port's closing wait (30 s by default). With hardware flow control and CTS low that is
// the whole wait, so the output not yet sent is discarded, and the port is released for the
// next open at once. What an adapter's own chip still holds cannot be discarded from here:
// the descriptor itself is closed on a thread of its own, so that neither the window thread
// nor the program's exit waits for it (at exit the kernel ends that thread's wait at once).
void PosixSerialDevice::close() {
    if (m_fd < 0)
        return;
    const int fd = std::exchange(m_fd, -1);
    ::tcflush(fd, TCOFLUSH);
    ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
    try {
        std::thread closer([fd] { ::close(fd); });
        ::pthread_setname_np(closer.native_handle(), CLOSER_THREAD_NAME);
        closer.detach();
    } catch (const std::system_error&) {
        ::close(fd); // no thread to be had: close here rather than keep the port
    }
}

ssize_t PosixSerialDevice::readSome(char* buffer, std::size_t size) {
    return ::read(m_fd, buffer, size);
}

ssize_t PosixSerialDevice::writeSome(const char* bytes, std::size_t size) {
    return ::write(m_fd, bytes, size);
}

void PosixSerialDevice::purge() {
    ::tcflush(m_fd, TCIOFLUSH);
}

std::optional<ModemLines> PosixSerialDevice::modemLines() const {
    int status = 0;
    if (m_fd < 0 || ::ioctl(m_fd, TIOCMGET, &status) != 0)
        return std::nullopt; // pseudo-terminals have no modem lines
    return ModemLines{(status & TIOCM_CTS) != 0, (status & TIOCM_DSR) != 0};
}

std::optional<LineSettings> PosixSerialDevice::settings() const {
    termios tio{};
    if (m_fd < 0 || ::tcgetattr(m_fd, &tio) != 0)
        return std::nullopt;
    LineSettings line;
    line.baudRate = rateOf(::cfgetospeed(&tio));
    line.dataBits = dataBitsOf(tio.c_cflag);
    line.parity = parityOf(tio.c_cflag);
    line.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
    line.flow = flowOf(tio);
    return line;
}

bool PosixSerialDevice::applySettings(const LineSettings& line) {
    termios tio{};
    const auto speed = codeOf(line.baudRate);
    if (m_fd < 0 || ::tcgetattr(m_fd, &tio) != 0)
        return false;
    if (speed) { // a speed the table does not know is kept as it is
        ::cfsetispeed(&tio, *speed);
        ::cfsetospeed(&tio, *speed);
    }
    tio.c_cflag = (tio.c_cflag & ~CSIZE) | sizeFlagOf(line.dataBits);
    setParity(tio, line.parity);
    if (line.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    else
        tio.c_cflag &= ~CSTOPB;
    setFlow(tio, line.flow);
    return ::tcsetattr(m_fd, TCSANOW, &tio) == 0;
}
