#pragma once

#include <QByteArray>
#include <QMap>

// A browser as the web server sees it: one raw HTTP request per connection, sent from a
// chosen loopback address (all of 127.0.0.0/8 is this machine), so that tests can be
// several clients at once and send paths that no real client would.
struct HttpAnswer {
    int status = 0;                       // 0: no answer at all
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
    bool hasHeader(const QByteArray& name) const { return headers.contains(name); }
};

class HttpProbe {
public:
    explicit HttpProbe(int port, QByteArray from = "127.0.0.1")
        : m_port(port), m_from(std::move(from)) {}

    // A whole request: `target` goes on the request line exactly as given; `headers` are
    // further header lines, each ended by CR LF; a Host line among them replaces the default
    // "Host: 127.0.0.1".
    HttpAnswer request(const QByteArray& method, const QByteArray& target,
                       const QByteArray& body = {},
                       const QByteArray& contentType = "application/x-www-form-urlencoded",
                       const QByteArray& headers = {}) const;
    HttpAnswer get(const QByteArray& target) const { return request("GET", target); }
    HttpAnswer post(const QByteArray& form) const { return request("POST", "/", form); }

    // Sends the request and returns the connected socket without reading the answer
    // (a browser that is still waiting); -1 on failure.
    int send(const QByteArray& method, const QByteArray& target, const QByteArray& body = {}) const;
    // Reads the whole answer from a socket that `send` returned, and closes it.
    static HttpAnswer receive(int socket);
    // A connection from the probe's address that has sent nothing yet; -1 on failure.
    int connectFrom() const;

private:
    int sendRequest(const QByteArray& method, const QByteArray& target, const QByteArray& body,
                    const QByteArray& contentType, const QByteArray& headers) const;

    int m_port;
    QByteArray m_from;
};
