#include "RequestHandler.h"

#include "Cp1251.h"
#include "Dispatcher.h"
#include "WebAccessList.h"
#include "WebCommand.h"
#include "WebParameters.h"

namespace ReplyPage {

const QByteArray HEAD = "<html><head><title>Command</title></head>\r\n"
                        "<body><form method=\"POST\"><input type=\"text\" name=\"Command\">"
                        "<input type=\"submit\" value=\"Send\"></form>";
const QByteArray TAIL = "</h1></body></html>";

QByteArray build(const QList<QByteArray>& lines) {
    QByteArray page = HEAD;
    for (const QByteArray& line : lines)
        page += line + "<br>";
    return page + TAIL;
}

} // namespace ReplyPage

RequestHandler::RequestHandler(WebSlots& table, const WebAccessList& lists, const PageFolder& pages,
                               Dispatcher& dispatcher, Clock clock)
    : m_slots(table), m_lists(lists), m_pages(pages), m_dispatcher(dispatcher),
      m_clock(std::move(clock)) {}

WebAnswer RequestHandler::IdHTTPServer1CommandGet(const WebRequest& request) {
    const auto client = m_slots.admit(request.address, m_clock());
    switch (client.outcome) {
    case WebSlots::Outcome::Admitted:
        return page(PageFolder::LOGIN);
    case WebSlots::Outcome::Full:
        return page(PageFolder::ALL_PLACES_TAKEN);
    case WebSlots::Outcome::Known:
        break;
    }
    if (request.path != "/")
        return documentRequest(request);
    switch (m_slots.state(client)) {
    case SlotConnected:
        return passwordRequest(client, request);
    case SlotLoggedIn:
        return commandRequest(client, request);
    case SlotFree:
        break;
    }
    return page(PageFolder::LOGIN); // the slot expired just after the admission
}

// Any other file of the page folder; the slot's time-out is left alone.
WebResponse RequestHandler::documentRequest(const WebRequest& request) {
    if (auto file = m_pages.serve(request.path))
        return {200, std::nullopt, std::move(file)};
    return page(PageFolder::NO_PAGE);
}

WebResponse RequestHandler::passwordRequest(const WebSlots::Admission& client,
                                            const WebRequest& request) {
    if (!m_lists.hasPasswords()) {
        m_slots.NextConnect(client, m_clock());
        return {};
    }
    if (request.parameterText.isEmpty())
        return {};
    if (m_lists.passwordMatches(WebParameters::valueOf(request.parameterText))) {
        m_slots.NextConnect(client, m_clock());
        return page(PageFolder::COMMAND);
    }
    m_slots.restart(client, m_clock());
    return page(PageFolder::WRONG_PASSWORD);
}

WebAnswer RequestHandler::commandRequest(const WebSlots::Admission& client,
                                         const WebRequest& request) {
    m_slots.restart(client, m_clock());
    if (request.parameterText.isEmpty())
        return {};
    const QByteArray value = WebParameters::valueOf(request.parameterText);
    if (value.isEmpty())
        return page(PageFolder::COMMAND);
    const QByteArray command = value.left(COMMAND_CAPACITY);
    if (!m_lists.commandPermitted(command.left(HEAD_LENGTH)))
        return page(PageFolder::NOT_PERMITTED);
    return runCommand(command, request.address);
}

// Queues the command; the answer is pending until its own reply has ended (or its entry
// was thrown away, or the server was switched off), and then holds the lines it got.
WebAnswer RequestHandler::runCommand(const QByteArray& command, const QByteArray& address) {
    auto reply = std::make_shared<WebCommand>();
    auto answer = std::make_shared<PendingResponse>();
    reply->whenFinished([this, reply = reply.get(), answer] {
        stopWaiting(reply);
        answer->complete(replyOf(*reply));
        if (m_replyTaken)
            m_replyTaken();
    });
    if (!startWaiting(reply))
        return page(PageFolder::COMMAND);
    if (m_dispatcher.appendWeb(command, address, reply) == Dispatcher::Append::QueueFull) {
        stopWaiting(reply.get());
        return WebResponse{
            200, ReplyPage::build({Cp1251::fromUnicode(QString::fromUtf8(QUEUE_FULL_TEXT))})};
    }
    return answer;
}

WebResponse RequestHandler::replyOf(const WebCommand& command) const {
    const QList<QByteArray> lines = command.lines();
    if (lines.isEmpty())
        return page(PageFolder::COMMAND);
    return {200, ReplyPage::build(lines)};
}

bool RequestHandler::startWaiting(const std::shared_ptr<WebCommand>& command) {
    std::lock_guard lock(m_waitMutex);
    if (m_released)
        return false;
    m_waiting.insert(command);
    return true;
}

void RequestHandler::stopWaiting(const WebCommand* command) {
    std::lock_guard lock(m_waitMutex);
    std::erase_if(m_waiting, [command](const auto& waiting) { return waiting.get() == command; });
}

void RequestHandler::releaseWaiting() {
    std::set<std::shared_ptr<WebCommand>> waiting;
    {
        std::lock_guard lock(m_waitMutex);
        m_released = true;
        waiting.swap(m_waiting);
    }
    for (const auto& command : waiting)
        command->finish(WebCommand::Outcome::Abandoned);
}

WebResponse RequestHandler::page(const char* name) const {
    return page(QString::fromLatin1(name));
}

WebResponse RequestHandler::page(const QString& name) const {
    auto read = m_pages.read(name);
    if (!read.file)
        return {500, Cp1251::fromUnicode(read.error)};
    return {200, std::nullopt, std::move(read.file)};
}
