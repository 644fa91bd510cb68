#include "WebService.h"

#include "Timer.h"
#include "Vars.h"

#include <chrono>
#include <cstdlib>

WebService::WebService(Dispatcher& dispatcher, Vars& vars, const QString& workingDirectory,
                       int port, Timer& expiryTimer, RequestHandler::Clock clock, QObject* parent)
    : QObject(parent), m_dispatcher(dispatcher), m_vars(vars), m_port(port),
      m_expiryTimer(expiryTimer), m_clock(std::move(clock)), m_pages(workingDirectory) {
    m_messages.setHandler(this);
    m_slots.onChange([this] { slotsChangedElsewhere(); });
    m_expiryTimer.onTimeout([this] { expireSlots(); });
}

WebService::~WebService() {
    switchOff();
    m_server.waitStopped();
    m_expiryTimer.onTimeout(nullptr);
    m_messages.setHandler(nullptr);
}

int WebService::configuredPort() {
    const char* configured = std::getenv("KORVANT_HTTP_PORT");
    if (!configured || !*configured)
        return DEFAULT_PORT;
    char* end = nullptr;
    const long port = std::strtol(configured, &end, 10);
    return *end == '\0' && port >= 0 && port <= 65535 ? int(port) : -1;
}

QString WebService::switchOn() {
    if (m_server.isListening())
        return {};
    auto handler =
        std::make_shared<RequestHandler>(m_slots, m_lists, m_pages, m_dispatcher, m_clock);
    handler->onReplyTaken([this] { m_messages.post(WM_WEBREPLYTAKEN, 0, 0); });
    const QString failure = m_server.listen(m_port, [handler](const WebRequest& request) {
        return handler->IdHTTPServer1CommandGet(request);
    });
    if (!failure.isEmpty())
        return failure;
    m_handler = std::move(handler);
    emit listeningChanged(true);
    return {};
}

void WebService::switchOff() {
    if (!m_server.isListening())
        return;
    m_handler->releaseWaiting();
    m_server.stop();
    m_handler.reset();
    m_slots.freeAll();
    showSlots();
    m_vars.WebReplyReady = 0;
    emit listeningChanged(false);
}

// On any thread: the window thread shows the change when it next runs, once for a burst.
void WebService::slotsChangedElsewhere() {
    if (!m_slotsPosted.exchange(true))
        m_messages.post(WM_WEBSLOTS, 0, 0);
}

void WebService::handleMessage(const PostedMessage& message) {
    switch (message.message) {
    case WM_WEBSLOTS:
        m_slotsPosted = false;
        showSlots();
        break;
    case WM_WEBREPLYTAKEN:
        m_vars.WebReplyReady = 0;
        break;
    default:
        break;
    }
}

void WebService::showSlots() {
    armExpiry();
    emit slotsChanged();
}

// The one timer always waits for the earliest deadline; it is stopped while all are free.
void WebService::armExpiry() {
    const auto deadline = m_slots.nextDeadline();
    if (!deadline) {
        m_expiryTimer.disable();
        return;
    }
    using namespace std::chrono;
    const auto wait = ceil<milliseconds>(*deadline - m_clock());
    m_expiryTimer.setInterval(int(std::max<milliseconds::rep>(0, wait.count())));
    m_expiryTimer.restart();
}

void WebService::expireSlots() {
    m_expiryTimer.disable();
    m_slots.expire(m_clock()); // a change posts WM_WEBSLOTS, which shows it
    armExpiry();
}
