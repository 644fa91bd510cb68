#pragma once

#include "RequestHandler.h"

#include <QString>

#include <functional>
#include <future>
#include <memory>
#include <vector>

// The web server on cpp-httplib, as the window thread switches it on and off. It listens on
// all IPv4 addresses; GET, POST and HEAD requests on every path go to one handler, one
// request per connection, each on a thread of its own. Every response that the handler
// completes is "text/html" in code page 1251 and closes the connection.
class HttpServer {
public:
    using Handler = std::function<WebResponse(const WebRequest&)>;
    static constexpr std::size_t BODY_LIMIT = 64 * 1024; // bytes of a request body

    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Starts listening on `port` (0: any free port) with `handler`; the system's reason when
    // the port cannot be had, an empty text on success.
    QString listen(int port, Handler handler);
    // Stops listening at once: the port is free when this returns. Requests still being
    // handled finish on their own threads, which are joined in the background, so the
    // caller never waits for a client.
    void stop();
    bool isListening() const { return m_run != nullptr; }
    int port() const { return m_port; }
    // Waits until every stopped server's threads have ended (tests; destruction).
    void waitStopped();

    // The Content-Type of every response.
    static const char* const CONTENT_TYPE;

private:
    struct Run;
    void reapStopped();

    std::unique_ptr<Run> m_run;
    int m_port = 0;
    std::vector<std::future<void>> m_stopping;
};
