#include "HttpProbe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int HttpProbe::connectFrom() const {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, m_from.constData(), &local.sin_addr);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(std::uint16_t(m_port));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{30, 0}; // a test never waits for ever
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(s, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

int HttpProbe::send(const QByteArray& method, const QByteArray& target,
                    const QByteArray& body) const {
    return sendRequest(method, target, body, "application/x-www-form-urlencoded", {});
}

HttpAnswer HttpProbe::request(const QByteArray& method, const QByteArray& target,
                              const QByteArray& body, const QByteArray& contentType,
                              const QByteArray& headers) const {
    const int s = sendRequest(method, target, body, contentType, headers);
    return s < 0 ? HttpAnswer{} : receive(s);
}

int HttpProbe::sendRequest(const QByteArray& method, const QByteArray& target,
                           const QByteArray& body, const QByteArray& contentType,
                           const QByteArray& headers) const {
    const int s = connectFrom();
    if (s < 0)
        return -1;
    const bool ownHost = ("\r\n" + headers).toLower().contains("\r\nhost:");
    QByteArray request = method + ' ' + target + " HTTP/1.1\r\n" +
                         (ownHost ? QByteArray() : "Host: 127.0.0.1\r\n") + headers;
    if (method == "POST")
        request += "Content-Type: " + contentType +
                   "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    request += "\r\n" + body;
    for (qsizetype sent = 0; sent < request.size();) {
        const ssize_t n =
            ::send(s, request.constData() + sent, size_t(request.size() - sent), MSG_NOSIGNAL);
        if (n <= 0) {
            ::close(s);
            return -1;
        }
        sent += n;
    }
    return s;
}

HttpAnswer HttpProbe::receive(int socket) {
    QByteArray raw;
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(socket, buffer, sizeof buffer, 0)) > 0)
        raw.append(buffer, n);
    ::close(socket);
    HttpAnswer answer;
    const qsizetype end = raw.indexOf("\r\n\r\n");
    if (end < 0)
        return answer;
    const QList<QByteArray> lines = raw.left(end).split('\n');
    const QList<QByteArray> status = lines.first().split(' ');
    answer.status = status.size() > 1 ? status[1].toInt() : 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            answer.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                  lines[i].mid(colon + 1).trimmed());
    }
    answer.body = raw.mid(end + 4);
    return answer;
}
