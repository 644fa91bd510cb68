#include "HttpServer.h"

#include "ConnectionThreads.h"
#include "WebParameters.h"

#include <httplib.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

// Every text the server sends is code page 1251; the reply page does not say so itself,
// and a browser left to guess reads a mostly Latin reply with a few Cyrillic words wrongly.
const char* const HttpServer::CONTENT_TYPE = "text/html; charset=windows-1251";

namespace {

constexpr auto ANY_IPV4 = "0.0.0.0";

bool isFormPost(const httplib::Request& request) {
    if (request.method != "POST")
        return false;
    const std::string type = request.get_header_value("Content-Type");
    const QByteArray media = QByteArray::fromStdString(type.substr(0, type.find(';')));
    return media.trimmed().toLower() == "application/x-www-form-urlencoded";
}

WebRequest webRequestOf(const httplib::Request& request) {
    const auto question = request.target.find('?');
    const QByteArray query = question == std::string::npos
                                 ? QByteArray()
                                 : QByteArray::fromStdString(request.target.substr(question + 1));
    const QByteArray body =
        isFormPost(request) ? QByteArray::fromStdString(request.body) : QByteArray();
    return {QByteArray::fromStdString(request.remote_addr), QByteArray::fromStdString(request.path),
            WebParameters::parameterText(body, query)};
}

void answer(const WebResponse& response, httplib::Response& out) {
    out.status = response.status;
    if (response.body)
        out.set_content(response.body->constData(), size_t(response.body->size()),
                        HttpServer::CONTENT_TYPE);
    else
        out.set_header("Content-Type", HttpServer::CONTENT_TYPE);
}

// Only one program at a time may listen on the port: the address may be reused after a
// close (TIME_WAIT), but never shared with a second listener (no SO_REUSEPORT).
void listeningSocketOptions(socket_t socket) {
    const int yes = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

// cpp-httplib does not say why a bind failed: a socket bound the same way tells.
QString bindFailure(int port) {
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    listeningSocketOptions(probe);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    QString reason;
    if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(probe, 1) != 0)
        reason = QString::fromLocal8Bit(std::strerror(errno));
    ::close(probe);
    return reason.isEmpty() ? QStringLiteral("Port %1 cannot be listened on").arg(port) : reason;
}

} // namespace

struct HttpServer::Run {
    httplib::Server server;
    std::thread thread;
    std::atomic<bool> ended{false};
};

HttpServer::HttpServer() = default;

HttpServer::~HttpServer() {
    stop();
    waitStopped();
}

QString HttpServer::listen(int port, Handler handler) {
    stop();
    if (port < 0 || port > 65535)
        return QStringLiteral("%1 is not a TCP port").arg(port);
    auto run = std::make_unique<Run>();
    httplib::Server& server = run->server;
    server.new_task_queue = [] { return new ConnectionThreads; };
    server.set_address_family(AF_INET);
    server.set_socket_options(listeningSocketOptions);
    server.set_keep_alive_max_count(1);
    server.set_payload_max_length(BODY_LIMIT);
    const auto serve = [handler = std::move(handler)](const httplib::Request& request,
                                                      httplib::Response& response) {
        answer(handler(webRequestOf(request)), response);
    };
    server.Get(".*", serve); // HEAD comes here too and is answered without the body
    server.Post(".*", serve);
    const int bound = port == 0 ? server.bind_to_any_port(ANY_IPV4)
                                : (server.bind_to_port(ANY_IPV4, port) ? port : -1);
    if (bound <= 0)
        return bindFailure(port);
    run->thread = std::thread([run = run.get()] {
        run->server.listen_after_bind();
        run->ended = true;
    });
    // stop() is heard only once the server runs; this takes no longer than a thread's start.
    while (!server.is_running() && !run->ended)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    m_port = bound;
    m_run = std::move(run);
    return {};
}

void HttpServer::stop() {
    reapStopped();
    if (!m_run)
        return;
    m_run->server.stop();
    m_stopping.push_back(
        std::async(std::launch::async, [run = std::move(m_run)] { run->thread.join(); }));
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
