#pragma once

#include <QByteArray>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <variant>

// One browser request as the handler sees it.
struct WebRequest {
    QByteArray address;       // the client's IP address, dotted
    QByteArray path;          // the document path, percent escapes decoded once
    QByteArray parameterText; // see WebParameters
    QByteArray method;        // GET, POST or HEAD
    // Request headers as the client sent them; empty when absent.
    QByteArray host;
    QByteArray origin;
    QByteArray secFetchSite;
    bool https = false; // the connection is HTTPS
};

// Status 200 and "text/html" unless something failed; no body when nothing is set.
struct WebResponse {
    int status = 200;
    std::optional<QByteArray> body;
    friend bool operator==(const WebResponse&, const WebResponse&) = default;
};

// A response that is not known yet when the request is handled (a command waits for its
// reply): whoever completes it later, on any thread, has it sent. Meanwhile the server
// parks the request's connection, which then holds no thread.
class PendingResponse {
public:
    // The first completion counts; later ones change nothing.
    void complete(WebResponse response);
    bool isComplete() const;
    // The completed response (an empty one until then).
    WebResponse response() const;

    // The server's side. Unless the response is complete already (false: neither runs),
    // `park` runs now and `resume` once the response is complete, on the completing thread.
    // Both run under the response's lock, so they must not wait for its completion.
    bool parkUntilComplete(const std::function<void()>& park, std::function<void()> resume);
    // The server stops: takes back the resume that has not run yet (empty when it has), so
    // that the server resumes the parked connection itself and no completion does it later.
    std::function<void()> withdraw();

private:
    mutable std::mutex m_mutex;
    std::optional<WebResponse> m_response;
    std::function<void()> m_resume;
};

// What the handler answers a request with: a response now, or one completed later.
using WebAnswer = std::variant<WebResponse, std::shared_ptr<PendingResponse>>;
