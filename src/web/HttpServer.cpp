#include "web/HttpServer.h"

#include "web/HttpsPair.h"
#include "web/WebParameters.h"

#include <QList>

#include <microhttpd.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <mutex>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

// Every text the server sends is code page 1251; the reply page does not say so itself,
// and a browser left to guess reads a mostly Latin reply with a few Cyrillic words wrongly.
const char* const HttpServer::CONTENT_TYPE = "text/html; charset=windows-1251";
const char* const HttpServer::TLS_PRIORITIES = "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2";

namespace {

// One request on its connection, from its request line until it is completed.
struct Exchange {
    QByteArray target; // the request target as it came: the path and the query, escaped
    bool headersSeen = false;
    bool formBody = false; // a POST of a urlencoded form: its body holds parameters
    long long bodyBytes = 0;
    QByteArray body; // a form's body, at most BODY_LIMIT bytes
    std::shared_ptr<PendingResponse> pending;
};

QByteArray headerOf(MHD_Connection* connection, const char* name) {
    return QByteArray(MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name));
}

bool isServedMethod(QByteArrayView method) {
    return method == MHD_HTTP_METHOD_GET || method == MHD_HTTP_METHOD_POST ||
           method == MHD_HTTP_METHOD_HEAD;
}

bool isFormPost(MHD_Connection* connection, QByteArrayView method) {
    if (method != MHD_HTTP_METHOD_POST)
        return false;
    const QByteArray type = headerOf(connection, MHD_HTTP_HEADER_CONTENT_TYPE);
    return type.split(';').first().trimmed().toLower() == "application/x-www-form-urlencoded";
}

bool declaresTooLongBody(MHD_Connection* connection) {
    bool number = false;
    const qulonglong length =
        headerOf(connection, MHD_HTTP_HEADER_CONTENT_LENGTH).toULongLong(&number);
    return number && length > qulonglong(HttpServer::BODY_LIMIT);
}

QByteArray clientAddress(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    char text[INET_ADDRSTRLEN] = {};
    if (info && info->client_addr && info->client_addr->sa_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(info->client_addr)->sin_addr,
                    text, sizeof text);
    return text;
}

MHD_Response* textResponse(const QByteArray& text) {
    auto* body = new QByteArray(text);
    MHD_Response* out = MHD_create_response_from_buffer_with_free_callback_cls(
        size_t(body->size()), body->data(),
        [](void* kept) { delete static_cast<QByteArray*>(kept); }, body);
    if (!out)
        delete body;
    return out;
}

// A file goes out from a descriptor of its own, which the server library reads as it sends
// and closes at the end.
MHD_Response* fileResponse(const ResponseFile& file) {
    const std::int64_t size = file.size();
    const int descriptor = ::fcntl(file.descriptor(), F_DUPFD_CLOEXEC, 0);
    if (size < 0 || descriptor < 0) {
        if (descriptor >= 0)
            ::close(descriptor);
        return nullptr;
    }
    MHD_Response* out = MHD_create_response_from_fd64(std::uint64_t(size), descriptor);
    if (!out)
        ::close(descriptor);
    return out;
}

// Queues the response; the server library leaves the body out for HEAD and adds the
// Content-Length and a Date. It compresses nothing and does not look at Range.
MHD_Result send(MHD_Connection* connection, WebResponse response) {
    MHD_Response* out = response.file ? fileResponse(*response.file)
                                      : textResponse(response.body.value_or(QByteArray()));
    if (!out)
        return MHD_NO;
    MHD_add_response_header(out, MHD_HTTP_HEADER_CONTENT_TYPE, HttpServer::CONTENT_TYPE);
    MHD_add_response_header(out, MHD_HTTP_HEADER_CONNECTION, "close");
    // No page of another site may show ours in a frame, where it could lead the user to
    // press a button of ours (a confirmation) without knowing it.
    MHD_add_response_header(out, MHD_HTTP_HEADER_X_FRAME_OPTIONS, "DENY");
    MHD_add_response_header(out, MHD_HTTP_HEADER_CONTENT_SECURITY_POLICY, "frame-ancestors 'none'");
    if (response.status == MHD_HTTP_METHOD_NOT_ALLOWED)
        MHD_add_response_header(out, MHD_HTTP_HEADER_ALLOW, "GET, POST, HEAD");
    const MHD_Result queued = MHD_queue_response(connection, unsigned(response.status), out);
    MHD_destroy_response(out);
    return queued;
}

// Only one program at a time may listen on the port: the address may be reused after a
// close (TIME_WAIT), but never shared with a second listener (no SO_REUSEPORT).
int listeningSocket(int port, QString& failure) {
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket < 0) {
        failure = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    const int yes = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket, HttpServer::LISTEN_BACKLOG) != 0) {
        failure = QString::fromLocal8Bit(std::strerror(errno));
        ::close(socket);
        return -1;
    }
    return socket;
}

int boundPort(int socket) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

} // namespace

// One switch-on: the daemon with its polling thread, and what its callbacks share.
struct HttpServer::Run {
    Handler handler;
    bool https = false;
    HttpsPair pair; // the daemon reads it at its start
    MHD_Daemon* daemon = nullptr;
    // The descriptor of the listening socket once the daemon was quiesced: it stays open,
    // holding a socket that listens on nothing, until the daemon has stopped.
    int quiesced = -1;

    // Held while the handler runs and while a connection is parked: once `refusing` is
    // set under it, no request reaches the handler and nothing is parked any more.
    std::mutex gate;
    bool refusing = false;

    // The requests whose answer was pending, until they are completed.
    std::mutex answeringMutex;
    std::condition_variable settled;
    std::set<Exchange*> answering;

    MHD_Result onRequest(MHD_Connection* connection, const char* method, const char* upload,
                         size_t* uploadSize, Exchange& exchange);
    MHD_Result begin(MHD_Connection* connection, const char* method, Exchange& exchange);
    MHD_Result answer(MHD_Connection* connection, const char* method, Exchange& exchange);
    WebRequest requestOf(MHD_Connection* connection, const char* method,
                         const Exchange& exchange) const;
    void completed(Exchange* exchange);
    void refuseRequests();
    void closeConnections();

    // The library's callbacks.
    static void* onRequestLine(void* run, const char* target, MHD_Connection*);
    static MHD_Result onAccess(void* run, MHD_Connection* connection, const char* url,
                               const char* method, const char* version, const char* upload,
                               size_t* uploadSize, void** context);
    static void onCompleted(void* run, MHD_Connection*, void** context, MHD_RequestTerminationCode);
};

// Every request line that parses makes an exchange; the library reports each one's end.
void* HttpServer::Run::onRequestLine(void*, const char* target, MHD_Connection*) {
    auto* exchange = new Exchange;
    exchange->target = target;
    return exchange;
}

MHD_Result HttpServer::Run::onAccess(void* run, MHD_Connection* connection, const char*,
                                     const char* method, const char*, const char* upload,
                                     size_t* uploadSize, void** context) {
    auto* exchange = static_cast<Exchange*>(*context);
    if (!exchange)
        return MHD_NO;
    return static_cast<Run*>(run)->onRequest(connection, method, upload, uploadSize, *exchange);
}

void HttpServer::Run::onCompleted(void* run, MHD_Connection*, void** context,
                                  MHD_RequestTerminationCode) {
    static_cast<Run*>(run)->completed(static_cast<Exchange*>(*context));
    *context = nullptr;
}

// The library calls once the head is in, once for every piece of the body, and then until
// a response is queued: at once, and again after each resume of a parked connection.
MHD_Result HttpServer::Run::onRequest(MHD_Connection* connection, const char* method,
                                      const char* upload, size_t* uploadSize, Exchange& exchange) {
    if (!exchange.headersSeen)
        return begin(connection, method, exchange);
    if (*uploadSize > 0) {
        exchange.bodyBytes += static_cast<long long>(*uploadSize);
        if (exchange.bodyBytes > BODY_LIMIT)
            return MHD_NO;
        if (exchange.formBody)
            exchange.body.append(upload, qsizetype(*uploadSize));
        *uploadSize = 0;
        return MHD_YES;
    }
    if (exchange.pending) // resumed: by its completion, or by a stop that withdrew it
        return exchange.pending->isComplete() ? send(connection, exchange.pending->response())
                                              : MHD_NO;
    return answer(connection, method, exchange);
}

MHD_Result HttpServer::Run::begin(MHD_Connection* connection, const char* method,
                                  Exchange& exchange) {
    exchange.headersSeen = true;
    {
        std::lock_guard lock(gate);
        if (refusing)
            return MHD_NO;
    }
    if (!isServedMethod(method))
        return send(connection, {MHD_HTTP_METHOD_NOT_ALLOWED, {}});
    if (declaresTooLongBody(connection))
        return MHD_NO;
    exchange.formBody = isFormPost(connection, method);
    return MHD_YES;
}

MHD_Result HttpServer::Run::answer(MHD_Connection* connection, const char* method,
                                   Exchange& exchange) {
    std::unique_lock lock(gate);
    if (refusing)
        return MHD_NO;
    WebAnswer answer = handler(requestOf(connection, method, exchange));
    if (auto* now = std::get_if<WebResponse>(&answer)) {
        lock.unlock();
        return send(connection, std::move(*now));
    }
    exchange.pending = std::get<std::shared_ptr<PendingResponse>>(std::move(answer));
    {
        std::lock_guard answeringLock(answeringMutex);
        answering.insert(&exchange);
    }
    if (exchange.pending->parkUntilComplete([connection] { MHD_suspend_connection(connection); },
                                            [connection] { MHD_resume_connection(connection); }))
        return MHD_YES;
    lock.unlock();
    return send(connection, exchange.pending->response());
}

WebRequest HttpServer::Run::requestOf(MHD_Connection* connection, const char* method,
                                      const Exchange& exchange) const {
    const qsizetype question = exchange.target.indexOf('?');
    const QByteArray path = question < 0 ? exchange.target : exchange.target.first(question);
    const QByteArray query = question < 0 ? QByteArray() : exchange.target.sliced(question + 1);
    WebRequest request;
    request.address = clientAddress(connection);
    request.path = WebParameters::percentDecoded(path);
    request.parameterText = WebParameters::parameterText(exchange.body, query);
    request.method = method;
    request.host = headerOf(connection, MHD_HTTP_HEADER_HOST);
    request.origin = headerOf(connection, MHD_HTTP_HEADER_ORIGIN);
    request.secFetchSite = headerOf(connection, "Sec-Fetch-Site");
    request.referer = headerOf(connection, MHD_HTTP_HEADER_REFERER);
    request.https = https;
    return request;
}

void HttpServer::Run::completed(Exchange* exchange) {
    {
        std::lock_guard lock(answeringMutex);
        answering.erase(exchange);
    }
    settled.notify_all();
    delete exchange;
}

void HttpServer::Run::refuseRequests() {
    std::lock_guard lock(gate);
    refusing = true;
}

// The answers completed meanwhile go out; a parked connection whose answer never came is
// resumed here and closed without one, since the library must not stop with a parked
// connection. Then every connection is closed.
void HttpServer::Run::closeConnections() {
    std::vector<std::function<void()>> resumes;
    {
        std::unique_lock lock(answeringMutex);
        settled.wait_for(lock, std::chrono::milliseconds(STOP_GRACE_MS),
                         [this] { return answering.empty(); });
        for (Exchange* exchange : answering)
            if (auto resume = exchange->pending->withdraw())
                resumes.push_back(std::move(resume));
    }
    for (const auto& resume : resumes)
        resume();
    MHD_stop_daemon(daemon);
    if (quiesced >= 0)
        ::close(quiesced);
}

HttpServer::HttpServer() = default;

HttpServer::~HttpServer() {
    stop();
    waitStopped();
}

QString HttpServer::listen(const Settings& settings, Handler handler) {
    stop();
    if (settings.port < 0 || settings.port > 65535)
        return QStringLiteral("%1 is not a TCP port").arg(settings.port);
    auto run = std::make_unique<Run>();
    run->handler = std::move(handler);
    if (settings.https()) {
        auto pair = HttpsPair::read(settings.certificateFile, settings.keyFile);
        if (const auto* failure = std::get_if<QString>(&pair))
            return *failure;
        run->pair = std::get<HttpsPair>(std::move(pair));
        run->https = true;
    }
    QString failure;
    const int socket = listeningSocket(settings.port, failure);
    if (socket < 0)
        return failure;
    const MHD_OptionItem https[] = {
        {MHD_OPTION_HTTPS_MEM_CERT, 0, run->pair.certificate.data()},
        {MHD_OPTION_HTTPS_MEM_KEY, 0, run->pair.key.data()},
        {MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(TLS_PRIORITIES)},
        {MHD_OPTION_END, 0, nullptr},
    };
    run->daemon = MHD_start_daemon(
        MHD_USE_POLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | (run->https ? MHD_USE_TLS : 0), 0,
        nullptr, nullptr, &Run::onAccess, run.get(), MHD_OPTION_LISTEN_SOCKET, socket,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, CONNECTION_MEMORY_LIMIT, MHD_OPTION_CONNECTION_LIMIT,
        CONNECTION_LIMIT, MHD_OPTION_PER_IP_CONNECTION_LIMIT, CONNECTIONS_PER_ADDRESS,
        MHD_OPTION_CONNECTION_TIMEOUT, settings.idleTimeoutS, MHD_OPTION_URI_LOG_CALLBACK,
        &Run::onRequestLine, run.get(), MHD_OPTION_NOTIFY_COMPLETED, &Run::onCompleted, run.get(),
        MHD_OPTION_ARRAY, run->https ? https : std::end(https) - 1, MHD_OPTION_END);
    if (!run->daemon) {
        ::close(socket);
        return QStringLiteral("The web server cannot start on port %1").arg(settings.port);
    }
    m_port = boundPort(socket);
    m_run = std::move(run);
    return {};
}

void HttpServer::stop() {
    reapStopped();
    if (!m_run)
        return;
    m_run->refuseRequests();
    // The polling thread no longer polls the listening socket. It stops listening at once,
    // and a socket that listens on nothing takes its place: the descriptor stays valid, so
    // an accept the thread began just before fails harmlessly and never reaches another
    // socket that took the number. (poll, not epoll: quiescing an epoll daemon from another
    // thread races with its own removal of the socket, and the library aborts.)
    const MHD_socket listening = MHD_quiesce_daemon(m_run->daemon);
    if (listening != MHD_INVALID_SOCKET) {
        ::shutdown(listening, SHUT_RDWR); // stops listening now, whoever still holds it
        const int placeholder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (placeholder >= 0 && ::dup2(placeholder, listening) >= 0)
            m_run->quiesced = listening;
        else
            ::close(listening); // no placeholder to be had: the port is freed all the same
        if (placeholder >= 0)
            ::close(placeholder);
    }
    m_stopping.push_back(
        std::async(std::launch::async, [run = std::move(m_run)] { run->closeConnections(); }));
}

unsigned HttpServer::openConnections() const {
    if (!m_run)
        return 0;
    const MHD_DaemonInfo* info =
        MHD_get_daemon_info(m_run->daemon, MHD_DAEMON_INFO_CURRENT_CONNECTIONS);
    return info ? info->num_connections : 0;
}

void HttpServer::waitStopped() {
    for (auto& stopping : m_stopping)
        stopping.wait();
    m_stopping.clear();
}

void HttpServer::reapStopped() {
    std::erase_if(m_stopping, [](const std::future<void>& stopping) {
        return stopping.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    });
}
