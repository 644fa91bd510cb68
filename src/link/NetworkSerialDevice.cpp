#include "link/NetworkSerialDevice.h"

#include "shared/Cp1251.h"

#include <QRegularExpression>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A dead connection (a server switched off, a cable cut) is noticed within about 25 s of
// silence, and a write that no acknowledgement follows fails after 30 s.
constexpr int KEEPALIVE_IDLE_S = 10;
constexpr int KEEPALIVE_INTERVAL_S = 5;
constexpr int KEEPALIVE_PROBES = 3;
constexpr int UNACKNOWLEDGED_MS = 30000;
// What a refusing server's text may take at most.
constexpr std::size_t REFUSAL_BYTES = 512;

int msUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// Waits until `fd` reports one of `events` or the deadline passes; the reader's wake-up
// descriptor is drained on the way (a write to the port wakes it too), and the wait ends
// early once `stopping` is set. Returns the events that came; 0 at the deadline or stop.
short waitFor(int fd, short events, int wakeFd, const std::atomic<bool>& stopping,
              Clock::time_point deadline) {
    while (!stopping) {
        pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, 2, msUntil(deadline));
        if (ready < 0 && errno != EINTR)
            return 0;
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto got = ::read(wakeFd, &count, sizeof count);
        }
        if (fds[0].revents)
            return fds[0].revents;
        if (ready == 0)
            return 0;
    }
    return 0;
}

// A name looked up on a thread of its own: the system's resolver cannot be interrupted,
// and a port being closed must not wait for it. The lookup outlives the wait if need be.
struct Lookup {
    int doneFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    std::mutex mutex;
    addrinfo* result = nullptr;
    int error = EAI_AGAIN;
    ~Lookup() {
        if (result)
            ::freeaddrinfo(result);
        ::close(doneFd);
    }
};

struct Endpoint {
    sockaddr_storage address{};
    socklen_t length = 0;
    int family = AF_INET;
};

std::vector<Endpoint> lookUp(const QByteArray& host, int port, int wakeFd,
                             const std::atomic<bool>& stopping, Clock::time_point deadline,
                             QString& why) {
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, port] {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* result = nullptr;
            const int error = ::getaddrinfo(host.constData(), QByteArray::number(port).constData(),
                                            &hints, &result);
            std::lock_guard lock(lookup->mutex);
            lookup->result = result;
            lookup->error = error;
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto written = ::write(lookup->doneFd, &one, sizeof one);
        }).detach();
    } catch (const std::system_error&) {
        why = QStringLiteral("нет потока для поиска имени");
        return {};
    }
    if (!waitFor(lookup->doneFd, POLLIN, wakeFd, stopping, deadline)) {
        why = QStringLiteral("имя %1 не найдено за %2 с")
                  .arg(QString::fromUtf8(host))
                  .arg(NetworkSerialDevice::CONNECT_TIMEOUT_MS / 1000);
        return {};
    }
    std::lock_guard lock(lookup->mutex);
    if (lookup->error != 0) {
        why = QStringLiteral("имя %1 не найдено: %2")
                  .arg(QString::fromUtf8(host),
                       QString::fromLocal8Bit(::gai_strerror(lookup->error)));
        return {};
    }
    std::vector<Endpoint> endpoints;
    for (const addrinfo* entry = lookup->result; entry; entry = entry->ai_next) {
        Endpoint endpoint;
        std::memcpy(&endpoint.address, entry->ai_addr, entry->ai_addrlen);
        endpoint.length = entry->ai_addrlen;
        endpoint.family = entry->ai_family;
        endpoints.push_back(endpoint);
    }
    return endpoints;
}

void setOption(int fd, int level, int name, int value) {
    ::setsockopt(fd, level, name, &value, sizeof value);
}

// Commands are short and wait for their reply: they go out at once. A silent connection
// is probed, so that a dead one ends like an unplugged cable.
void tuneSocket(int fd) {
    setOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    setOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
    setOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, KEEPALIVE_IDLE_S);
    setOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, KEEPALIVE_INTERVAL_S);
    setOption(fd, IPPROTO_TCP, TCP_KEEPCNT, KEEPALIVE_PROBES);
    setOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, UNACKNOWLEDGED_MS);
}

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

std::optional<NetworkSerialDevice::Address> NetworkSerialDevice::parse(const QString& url) {
    static const QRegularExpression form(
        QStringLiteral(
            R"(^(rfc2217|socket)://(\[[0-9A-Fa-f:.]+\]|[^:/?\[\]@\s]+):(\d{1,5})/?(\?.*)?$)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto match = form.match(url.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const int port = match.captured(3).toInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    QString host = match.captured(2);
    if (host.startsWith(QLatin1Char('[')))
        host = host.mid(1, host.size() - 2);
    const bool rfc2217 =
        match.captured(1).compare(QLatin1String("rfc2217"), Qt::CaseInsensitive) == 0;
    return Address{rfc2217 ? Protocol::Rfc2217 : Protocol::Raw, host, port};
}

bool NetworkSerialDevice::isNetworkAddress(const QString& name) {
    return name.contains(QLatin1String("://"));
}

NetworkSerialDevice::~NetworkSerialDevice() {
    close();
}

bool NetworkSerialDevice::open(const QString& url) {
    close();
    m_address = parse(url);
    m_failure = m_address ? QString() : QStringLiteral("адрес не понят: ") + url;
    return m_address.has_value();
}

bool NetworkSerialDevice::fail(const QString& why) {
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
    std::lock_guard lock(m_mutex);
    m_failure = why;
    return false;
}

QString NetworkSerialDevice::failure() const {
    std::lock_guard lock(m_mutex);
    return m_failure;
}

bool NetworkSerialDevice::connect(int wakeFd, const std::atomic<bool>& stopping) {
    if (!m_address)
        return false;
    {
        std::lock_guard lock(m_mutex);
        m_client = ComPortClient();
        m_pending.clear();
        m_failure.clear();
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(CONNECT_TIMEOUT_MS);
    QString why;
    const auto endpoints =
        lookUp(m_address->host.toUtf8(), m_address->port, wakeFd, stopping, deadline, why);
    if (endpoints.empty())
        return fail(why);
    for (const Endpoint& endpoint : endpoints) {
        const int fd = ::socket(endpoint.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            why = systemReason(errno);
            continue;
        }
        m_fd = fd;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&endpoint.address), endpoint.length) !=
                0 &&
            errno != EINPROGRESS) {
            why = systemReason(errno);
            fail(why);
            continue;
        }
        if (!waitFor(fd, POLLOUT, wakeFd, stopping, deadline)) {
            why = stopping ? QString()
                           : QStringLiteral("нет ответа за %1 с").arg(CONNECT_TIMEOUT_MS / 1000);
            fail(why);
            continue;
        }
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0) {
            why = systemReason(error);
            fail(why);
            continue;
        }
        tuneSocket(fd);
        if (m_address->protocol == Protocol::Rfc2217) {
            std::lock_guard lock(m_mutex);
            m_pending = m_client.greeting();
            if (!sendPending()) {
                why = systemReason(errno);
                fail(why);
                continue;
            }
        }
        return settled(wakeFd, stopping);
    }
    return fail(why);
}

// Waits SETTLE_MS for the server to close at once; what it sent before is its refusal. The
// data of a connection that stays is left where it is, for the reader.
bool NetworkSerialDevice::settled(int wakeFd, const std::atomic<bool>& stopping) {
    const auto end = Clock::now() + std::chrono::milliseconds(SETTLE_MS);
    if (!(waitFor(m_fd, POLLRDHUP, wakeFd, stopping, end) & (POLLRDHUP | POLLHUP | POLLERR)))
        return !stopping || fail({});
    QByteArray said;
    char buffer[REFUSAL_BYTES];
    for (ssize_t n; said.size() < qsizetype(REFUSAL_BYTES) &&
                    (n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) {
        std::lock_guard lock(m_mutex);
        if (m_address->protocol == Protocol::Rfc2217)
            m_client.receive(QByteArrayView(buffer, n), said);
        else
            said.append(buffer, n);
    }
    const QString text = Cp1251::toUnicode(said).simplified();
    return fail(text.isEmpty() ? QStringLiteral("сервер закрыл соединение") : text);
}

void NetworkSerialDevice::close() {
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
}

ssize_t NetworkSerialDevice::readSome(char* buffer, std::size_t size) {
    const ssize_t n = ::recv(m_fd, buffer, size, 0);
    if (n <= 0 || m_address->protocol == Protocol::Raw)
        return n;
    QByteArray data;
    {
        std::lock_guard lock(m_mutex);
        m_client.receive(QByteArrayView(buffer, n), data);
    }
    if (data.isEmpty()) { // Telnet's commands alone: nothing for the exchange's line
        errno = EAGAIN;
        return -1;
    }
    std::memcpy(buffer, data.constData(), std::size_t(data.size())); // never longer than read
    return data.size();
}

ssize_t NetworkSerialDevice::writeSome(const char* bytes, std::size_t size) {
    if (m_address->protocol == Protocol::Raw)
        return ::send(m_fd, bytes, size, MSG_NOSIGNAL);
    std::lock_guard lock(m_mutex);
    if (!sendPending())
        return -1;
    if (!m_pending.isEmpty() || m_client.suspended()) {
        errno = EAGAIN;
        return -1;
    }
    const std::size_t taken = std::min(size, WRITE_CHUNK);
    m_pending = ComPortClient::encoded(QByteArrayView(bytes, qsizetype(taken)));
    if (!sendPending())
        return -1;
    return ssize_t(taken);
}

// Sends what the protocol has to say and what waits of the data; false when the connection
// failed (errno says why).
bool NetworkSerialDevice::sendPending() {
    m_pending += m_client.takeOutput();
    while (!m_pending.isEmpty()) {
        const ssize_t n =
            ::send(m_fd, m_pending.constData(), std::size_t(m_pending.size()), MSG_NOSIGNAL);
        if (n < 0)
            return errno == EAGAIN || errno == EINTR;
        m_pending.remove(0, n);
    }
    return true;
}

bool NetworkSerialDevice::hasOutput() const {
    std::lock_guard lock(m_mutex);
    return !m_pending.isEmpty() || m_client.hasOutput();
}

bool NetworkSerialDevice::flushOutput() {
    std::lock_guard lock(m_mutex);
    return m_address->protocol == Protocol::Raw || sendPending();
}

bool NetworkSerialDevice::mayWrite() const {
    std::lock_guard lock(m_mutex);
    return !m_client.suspended();
}

std::optional<ModemLines> NetworkSerialDevice::modemLines() const {
    std::lock_guard lock(m_mutex);
    return m_client.modemLines();
}

std::optional<LineSettings> NetworkSerialDevice::settings() const {
    std::lock_guard lock(m_mutex);
    return m_client.settings();
}

bool NetworkSerialDevice::applySettings(const LineSettings& settings) {
    if (!m_address || m_address->protocol == Protocol::Raw)
        return false;
    std::lock_guard lock(m_mutex);
    return m_client.requestSettings(settings);
}
