#include "TerminalServers.h"

#include "Probes.h"

#include <QFile>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#ifndef KORVANT_SOURCE_DIR
#error "the terminal servers need KORVANT_SOURCE_DIR"
#endif

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

QString url(const char* scheme, int port) {
    return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(port);
}

} // namespace

int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// A port that cannot be bound is listened on. (A connection to find out would make ser2net
// open its device, which it does not let go at once.)
bool isListenedOn(int port, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = loopback(port);
        const bool bound =
            ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (!bound)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // ser2net is starting up
    }
    return false;
}

Ser2net::Ser2net(const QString& device)
    : m_rawPort(freeLoopbackPort()), m_rfc2217Port(freeLoopbackPort()) {
    const QString config = m_dir.filePath(QStringLiteral("ser2net.yaml"));
    const QString yaml = QStringLiteral("%YAML 1.1\n---\n"
                                        "connection: &raw\n"
                                        "    accepter: tcp,127.0.0.1,%1\n"
                                        "    connector: serialdev,%3,local\n"
                                        "    options:\n"
                                        "      kickolduser: true\n"
                                        "connection: &rfc2217\n"
                                        "    accepter: telnet(rfc2217),tcp,127.0.0.1,%2\n"
                                        "    connector: serialdev,%3,local\n"
                                        "    options:\n"
                                        "      kickolduser: true\n")
                             .arg(m_rawPort)
                             .arg(m_rfc2217Port)
                             .arg(device);
    if (!writeFile(config, yaml.toUtf8())) {
        m_error = QStringLiteral("cannot write ") + config;
        return;
    }
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(QStringLiteral("/usr/sbin/ser2net"),
                    {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-c"), config,
                     QStringLiteral("-P"), m_dir.filePath(QStringLiteral("ser2net.pid"))});
    if (!m_process.waitForStarted()) {
        m_error = QStringLiteral("ser2net does not start: ") + m_process.errorString();
        return;
    }
    m_running = isListenedOn(m_rawPort) && isListenedOn(m_rfc2217Port);
    if (!m_running)
        m_error = QStringLiteral("ser2net does not listen: ") +
                  QString::fromLocal8Bit(m_process.readAll());
}

Ser2net::~Ser2net() {
    m_process.terminate();
    if (!m_process.waitForFinished(3000))
        m_process.kill();
    m_process.waitForFinished();
}

QString Ser2net::rawUrl() const {
    return url("socket", m_rawPort);
}

QString Ser2net::rfc2217Url() const {
    return url("rfc2217", m_rfc2217Port);
}

PyserialServer::PyserialServer() {
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(KORVANT_SOURCE_DIR "/tests/remote/rfc2217_server.py")});
    if (waitForLine())
        m_port = m_process.readLine().trimmed().toInt();
}

bool PyserialServer::waitForLine() {
    while (!m_process.canReadLine())
        if (!m_process.waitForReadyRead(10000))
            return false;
    return true;
}

PyserialServer::~PyserialServer() {
    m_process.write("quit\n");
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(3000))
        m_process.kill();
    m_process.waitForFinished();
}

QString PyserialServer::url() const {
    return ::url("rfc2217", m_port);
}

bool PyserialServer::setLine(const char* line, bool on) {
    m_process.write(QByteArray(line) + (on ? " 1\n" : " 0\n"));
    return waitForLine() && m_process.readLine().trimmed() == "ok";
}
