#pragma once

#include "web/WebExchange.h"

#include <QString>

#include <cstddef>
#include <functional>
#include <future>
#include <memory>
#include <vector>

// The web server on GNU libmicrohttpd, as the window thread switches it on and off. It
// listens on all IPv4 addresses; GET, POST and HEAD requests on every path go to one
// handler, one request per connection. All connections are served by one polling thread;
// a request whose answer is pending (a command waiting for its reply) parks its connection,
// which then holds no thread, until the answer is complete. Every response is "text/html"
// in code page 1251, never compressed, never cut into ranges, never to be shown in a frame
// of another page, and closes the connection. HTTPS speaks TLS 1.2 and 1.3 only.
//
// Everything a client can make the server spend is bounded by the constants below; a
// request beyond a bound never reaches the handler.
class HttpServer {
public:
    using Handler = std::function<WebAnswer(const WebRequest&)>;

    // Bytes of memory one connection may use for its request line, headers and buffers; a
    // longer head is answered 414 or 431 and the connection closed.
    static constexpr std::size_t CONNECTION_MEMORY_LIMIT = 32 * 1024;
    // Bytes of a request body; a longer one, declared or chunked, closes the connection.
    static constexpr long long BODY_LIMIT = 64 * 1024;
    // Open connections in all, and of one client address; a connection beyond the total
    // waits unaccepted in the system's queue, one beyond its address's share is closed.
    static constexpr unsigned CONNECTION_LIMIT = 256;
    static constexpr unsigned CONNECTIONS_PER_ADDRESS = 16;
    // Seconds without a byte in either direction after which a connection is closed. A
    // parked connection is not idle: the command's own reply wait governs it.
    static constexpr unsigned IDLE_TIMEOUT_S = 10;
    // Connections the system queues for acceptance: a burst of hundreds from one client,
    // which the server then closes, must not leave a newcomer's connection waiting for the
    // system's next try (a second). They cost the program nothing until accepted.
    static constexpr int LISTEN_BACKLOG = 1024;
    // Milliseconds the answers released at a switch-off have to go out before every
    // connection still open is closed.
    static constexpr int STOP_GRACE_MS = 500;

    // The Content-Type of every response.
    static const char* const CONTENT_TYPE;
    // What HTTPS offers (GnuTLS's priority string): its usual choice, but TLS 1.2 and 1.3
    // only; the older versions' weaknesses are known and no browser in use needs them.
    static const char* const TLS_PRIORITIES;

    // Where the server listens, and whether it speaks HTTPS.
    struct Settings {
        int port = 0; // 0: any free port
        // The PEM files of the certificate and its key (HttpsPair); both empty: plain HTTP.
        QString certificateFile{};
        QString keyFile{};
        unsigned idleTimeoutS = IDLE_TIMEOUT_S; // shorter in tests
        bool https() const { return !certificateFile.isEmpty() || !keyFile.isEmpty(); }
    };

    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Starts listening with `handler`; the reason when the port cannot be had or the HTTPS
    // files cannot serve, an empty text on success.
    QString listen(const Settings& settings, Handler handler);
    // Stops listening at once: the port is free when this returns, and no request that
    // arrives from now on, on any connection, reaches the handler. The answers that are
    // pending go out when they are complete (the caller completes them now); then every
    // connection is closed, idle ones too. The caller never waits for a client: that part
    // runs in the background.
    void stop();
    bool isListening() const { return m_run != nullptr; }
    int port() const { return m_port; }
    // Connections accepted and not yet closed (0 while not listening).
    unsigned openConnections() const;
    // Waits until every stopped server has closed its connections and its thread (tests;
    // destruction).
    void waitStopped();

private:
    struct Run;
    void reapStopped();

    std::unique_ptr<Run> m_run;
    int m_port = 0;
    std::vector<std::future<void>> m_stopping;
};

using HttpSettings = HttpServer::Settings;
