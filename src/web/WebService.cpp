#include "WebService.h"

#include "Dispatcher.h"
#include "Timer.h"
#include "Vars.h"

#include <chrono>

WebService::WebService(Dispatcher& dispatcher, Vars& vars, const QString& workingDirectory,
                       HttpSettings settings, Timer& expiryTimer, RequestHandler::Clock clock,
                       QObject* parent)
    : QObject(parent), m_dispatcher(dispatcher), m_vars(vars), m_settings(std::move(settings)),
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

HttpSettings WebService::configuredSettings() {
    HttpSettings settings{DEFAULT_PORT, qEnvironmentVariable("KORVANT_HTTPS_CERT"),
                          qEnvironmentVariable("KORVANT_HTTPS_KEY")};
    const QByteArray port = qgetenv("KORVANT_HTTP_PORT");
    if (!port.isEmpty()) {
        bool number = false;
        settings.port = port.toInt(&number);
        if (!number || settings.port < 0 || settings.port > 65535)
            settings.port = -1; // refused with its reason when the server is switched on
    }
    return settings;
}

QString WebService::switchOn() {
    if (m_server.isListening())
        return {};
    auto handler =
        std::make_shared<RequestHandler>(m_slots, m_lists, m_pages, m_dispatcher, m_clock);
    handler->onReplyTaken([this] { m_messages.post(WM_WEBREPLYTAKEN, 0, 0); });
    const QString failure = m_server.listen(m_settings, [handler](const WebRequest& request) {
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
    m_server.stop(); // from here on no request reaches the handler
    m_dispatcher.discardWaitingWeb();
    m_handler->releaseWaiting();
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
