#include "web/WebService.h"

#include "dispatch/Dispatcher.h"
#include "shared/Timer.h"

#include <chrono>

WebService::WebService(Dispatcher& dispatcher, const QString& workingDirectory,
                       HttpSettings settings, Timer& webTimer, RequestHandler::Clock clock,
                       Journal& journal, QObject* parent)
    : QObject(parent), m_dispatcher(dispatcher), m_settings(std::move(settings)), m_timer(webTimer),
      m_clock(std::move(clock)), m_journal(journal), m_pages(workingDirectory) {
    m_messages.setHandler([this](const Message& message) { handle(message); });
    m_slots.onChange([this] { slotsChangedElsewhere(); });
    m_timer.onTimeout([this] { timeCame(); });
}

WebService::~WebService() {
    switchOff();
    m_server.waitStopped();
    m_timer.onTimeout(nullptr);
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
    auto handler = std::make_shared<RequestHandler>(RequestHandler::Parts{
        m_slots, m_lists, m_pages, m_dispatcher, m_throttle, m_journal, m_clock});
    handler->onReplyTaken([this] { m_messages.post(ReplyTaken{}); });
    handler->onTurnWaiting([this] { m_messages.post(TurnWaiting{}); });
    const QString failure = m_server.listen(
        m_settings, [handler](const WebRequest& request) { return handler->handle(request); });
    if (!failure.isEmpty())
        return failure;
    m_handler = std::move(handler);
    m_journal.webEvent(WebEvent::ServerOn, {});
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
    m_dispatcher.clearWebReplyReady();
    m_journal.webEvent(WebEvent::ServerOff, {});
    emit listeningChanged(false);
}

// On any thread: the window thread shows the change when it next runs, once for a burst.
void WebService::slotsChangedElsewhere() {
    if (!m_slotsPosted.exchange(true))
        m_messages.post(SlotsChanged{});
}

void WebService::handle(const Message& message) {
    if (std::holds_alternative<SlotsChanged>(message)) {
        m_slotsPosted = false;
        showSlots();
    } else if (std::holds_alternative<ReplyTaken>(message)) {
        m_dispatcher.clearWebReplyReady();
    } else {
        armTimer();
    }
}

std::uint8_t WebService::WebReplyReady() const {
    return m_dispatcher.WebReplyReady();
}

void WebService::showSlots() {
    armTimer();
    emit slotsChanged();
}

// The one timer always waits for the earliest slot deadline or password turn; it is
// stopped while no slot is occupied and no password waits.
void WebService::armTimer() {
    auto next = m_slots.nextDeadline();
    if (m_handler)
        if (const auto turn = m_handler->nextTurn(); turn && (!next || *turn < *next))
            next = turn;
    if (!next) {
        m_timer.disable();
        return;
    }
    using namespace std::chrono;
    const auto wait = ceil<milliseconds>(*next - m_clock());
    m_timer.setInterval(int(std::max<milliseconds::rep>(0, wait.count())));
    m_timer.restart();
}

void WebService::timeCame() {
    m_timer.disable();
    const auto now = m_clock();
    for (const ClientAddress& address : m_slots.expire(now)) // a change posts SlotsChanged
        m_journal.webEvent(WebEvent::SlotExpired, address.view());
    if (m_handler)
        m_handler->checkDueTurns(now);
    armTimer();
}
