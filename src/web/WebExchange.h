#pragma once

#include <QByteArray>

#include <cstdint>
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
    QByteArray referer;
    bool https = false; // the connection is HTTPS
};

// A page file that a response sends from its open descriptor: the server reads it as it
// goes out, so a file is never held whole in memory, however large it is and however many
// clients ask for it at once. The descriptor is closed with the last response that holds it.
class ResponseFile {
public:
    explicit ResponseFile(int descriptor); // the file takes the descriptor over
    ~ResponseFile();
    ResponseFile(const ResponseFile&) = delete;
    ResponseFile& operator=(const ResponseFile&) = delete;

    int descriptor() const { return m_descriptor; }
    // Its size now; -1 when it cannot be told.
    std::int64_t size() const;
    // The whole file, read from its start (for checks; the server does not use it).
    QByteArray readAll() const;

private:
    int m_descriptor;
};

// Status 200 and "text/html" unless something failed. The body is a text, or a file that
// the handler opened; no body when neither is set.
struct WebResponse {
    int status = 200;
    std::optional<QByteArray> body;
    std::shared_ptr<const ResponseFile> file{};
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
