#include "link/PortReader.h"

#include <array>
#include <cerrno>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

PortReader::PortReader(SerialDevice& device, PortMessages& poster)
    : m_device(device), m_poster(poster), m_wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

PortReader::~PortReader() {
    stop();
    ::close(m_wakeFd);
}

void PortReader::start() {
    m_stopping = false;
    {
        std::lock_guard lock(m_outMutex);
        m_output.clear(); // what the previous port did not send is not this port's
    }
    m_modem = m_device.modemLines();
    m_thread = std::thread([this] { run(); });
}

void PortReader::stop() {
    if (!m_thread.joinable())
        return;
    m_stopping = true;
    wake();
    m_thread.join();
}

void PortReader::write(QByteArrayView bytes) {
    {
        std::lock_guard lock(m_outMutex);
        m_output.append(bytes.data(), bytes.size());
    }
    wake();
}

void PortReader::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(m_wakeFd, &one, sizeof one);
}

bool PortReader::outputPending() {
    std::lock_guard lock(m_outMutex);
    return !m_output.empty();
}

void PortReader::run() {
    pthread_setname_np(pthread_self(), "port-reader");
    if (!m_device.connect(m_wakeFd, m_stopping))
        return m_stopping ? void() : lineLost();
    m_poster.post(LineUp{});
    // A terminal device's modem lines are sampled while it has them; other devices tell of
    // every change among what they read. Without either the thread sleeps until something
    // happens.
    const bool sampled = m_device.samplesModemLines();
    const int timeout = sampled && m_modem ? MODEM_POLL_MS : -1;
    for (;;) {
        std::array<pollfd, 2> fds{{{m_device.descriptor(), POLLIN, 0}, {m_wakeFd, POLLIN, 0}}};
        if ((outputPending() && m_device.mayWrite()) || m_device.hasOutput())
            fds[0].events |= POLLOUT;
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR)
            return lineLost();
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto got = ::read(m_wakeFd, &count, sizeof count);
        }
        if (m_stopping)
            return;
        const short events = fds[0].revents;
        if (events & (POLLHUP | POLLERR | POLLNVAL)) {
            // The last bytes before a hang-up still reach the console.
            while (readInput() == ReadResult::Bytes)
                ;
            return lineLost();
        }
        if ((events & POLLIN) && readInput() == ReadResult::LineGone)
            return lineLost();
        if ((events & POLLOUT) && !writeAll())
            return lineLost();
        if (m_modem || !sampled)
            sampleModemLines();
    }
}

// The device's own output first, then the data, while the far end lets it go.
bool PortReader::writeAll() {
    if (!m_device.flushOutput())
        return false;
    return !m_device.mayWrite() || writeOutput();
}

// Reads one block of what is waiting. A read that returns 0 after poll reported input,
// or fails with anything but "try again", means the line is gone.
PortReader::ReadResult PortReader::readInput() {
    std::array<char, READ_BLOCK> buffer;
    const ssize_t n = m_device.readSome(buffer.data(), buffer.size());
    if (n > 0) {
        m_poster.post(Received{std::string(buffer.data(), std::size_t(n))});
        return ReadResult::Bytes;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return ReadResult::Nothing;
    return ReadResult::LineGone;
}

bool PortReader::writeOutput() {
    std::lock_guard lock(m_outMutex);
    if (m_output.empty())
        return true;
    const ssize_t n = m_device.writeSome(m_output.data(), m_output.size());
    if (n > 0)
        m_output.erase(0, n);
    return n >= 0 || errno == EAGAIN || errno == EINTR;
}

// A line whose state was not known yet counts as changed.
void PortReader::sampleModemLines() {
    const auto now = m_device.modemLines();
    if (!now || now == m_modem)
        return;
    if (!m_modem || now->cts != m_modem->cts)
        m_poster.post(CtsChanged{});
    if (!m_modem || now->dsr != m_modem->dsr)
        m_poster.post(DsrChanged{});
    m_modem = now;
}

void PortReader::lineLost() {
    m_poster.post(LineLost{m_device.failure().toStdString()});
}
