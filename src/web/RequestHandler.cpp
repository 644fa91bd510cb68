#include "web/RequestHandler.h"

#include "dispatch/CommandText.h"
#include "dispatch/Dispatcher.h"
#include "dispatch/Journal.h"
#include "dispatch/WebCommand.h"
#include "shared/Cp1251.h"
#include "web/PasswordThrottle.h"
#include "web/RequestGuards.h"
#include "web/WebAccessList.h"
#include "web/WebPage.h"
#include "web/WebParameters.h"

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

namespace {

// A request for "/" that the browser started by itself, which no page of ours sent: our
// pages send their forms by POST.
bool startedByTheBrowser(const WebRequest& request) {
    return request.method != "POST" && RequestGuards::startedByTheBrowser(request.secFetchSite);
}

QByteArray text(const QString& unicode) {
    return Cp1251::fromUnicode(unicode);
}

// The command shown with a button that sends it from this page, by POST: one click for a
// command typed into the address bar or kept as a bookmark, and nothing at all for a link
// that someone else made.
QByteArray confirmationPage(const QByteArray& command) {
    const QByteArray shown = WebPage::escaped(command);
    return WebPage::build(
        QStringLiteral("подтверждение команды"),
        WebPage::paragraph(QStringLiteral("Команда ещё не передана в АТС."), true) +
            WebPage::paragraph(QStringLiteral(
                "Адрес с командой открыт не со страницы терминала, а из адресной строки, "
                "закладки или по ссылке, которую могла подсунуть чужая страница. "
                "Передать эту команду?")) +
            "<form method=\"POST\" action=\"/\">\n<p><code>" + shown +
            "</code><input type=\"hidden\" name=\"Command\" value=\"" + shown +
            "\"><input type=\"submit\" value=\"" + text(QStringLiteral("Выполнить")) +
            "\" autofocus></p>\n</form>\n<p><small><a href=\"/Command.html\">" +
            text(QStringLiteral("Ввести другую команду")) + "</a></small></p>\n");
}

// A password in the address of a navigation is not checked: a link could carry a guess.
QByteArray passwordInAddressPage() {
    return WebPage::build(
        QStringLiteral("вход"),
        WebPage::paragraph(QStringLiteral("Пароль из адреса страницы не проверяется."), true) +
            WebPage::paragraph(QStringLiteral("Введите пароль здесь, на странице входа.")) +
            "<form method=\"POST\" action=\"/\">\n<input type=\"password\" name=\"Password\" "
            "maxlength=\"16\" autofocus autocomplete=\"current-password\"><input "
            "type=\"submit\" value=\"" +
            text(QStringLiteral("Войти")) + "\">\n</form>\n");
}

QByteArray restingPage() {
    return WebPage::build(
        QStringLiteral("вход через минуту"),
        WebPage::paragraph(QStringLiteral("Место освобождено: пароль не был введён вовремя."),
                           true) +
            WebPage::paragraph(QStringLiteral("С этого адреса можно снова войти через минуту.")));
}

} // namespace

RequestHandler::RequestHandler(Parts parts)
    : m_parts(std::move(parts)), m_ownNames(RequestGuards::ownNames()) {}

WebAnswer RequestHandler::handle(const WebRequest& request) {
    if (auto refused = refusal(request))
        return std::move(*refused);
    const auto client = m_parts.table.admit(request.address, m_parts.clock());
    switch (client.outcome) {
    case WebSlots::Outcome::Admitted:
        m_parts.journal.webEvent(WebEvent::Admitted, request.address);
        return page(PageFolder::LOGIN);
    case WebSlots::Outcome::Full:
        m_parts.journal.requestRefused(Refusal::PlacesFull, request.address, {});
        return page(PageFolder::ALL_PLACES_TAKEN);
    case WebSlots::Outcome::Resting:
        return WebResponse{200, restingPage()};
    case WebSlots::Outcome::Known:
        break;
    }
    if (request.path != "/")
        return documentRequest(request);
    switch (m_parts.table.state(client)) {
    case SlotConnected:
        return passwordRequest(client, request);
    case SlotLoggedIn:
        return commandRequest(client, request);
    case SlotFree:
        break;
    }
    return page(PageFolder::LOGIN); // the slot expired just after the admission
}

// The guards, before the request touches any slot: a Host that is no name of this computer,
// or a request that another site's page sent, whatever it asks for. A refused value is
// recorded only when it would have been a command: it might be a password otherwise.
std::optional<WebResponse> RequestHandler::refusal(const WebRequest& request) {
    if (!RequestGuards::hostAllowed(request.host, m_ownNames)) {
        m_parts.journal.requestRefused(Refusal::Host, request.address,
                                       request.host.left(COMMAND_CAPACITY));
        return WebResponse{403, RequestGuards::foreignHostPage()};
    }
    if (!RequestGuards::fromAnotherSite(
            {request.host, request.origin, request.secFetchSite, request.https, request.referer}))
        return std::nullopt;
    const bool loggedIn = m_parts.table.stateOf(request.address) == SlotLoggedIn;
    m_parts.journal.requestRefused(
        Refusal::CrossSite, request.address,
        loggedIn && request.path == "/"
            ? WebParameters::valueOf(request.parameterText).left(COMMAND_CAPACITY)
            : QByteArray());
    return WebResponse{403, RequestGuards::crossSitePage(loggedIn)};
}

// Any other file of the page folder; the slot's time-out is left alone.
WebResponse RequestHandler::documentRequest(const WebRequest& request) {
    if (auto file = m_parts.pages.serve(request.path))
        return {200, std::nullopt, std::move(file)};
    return page(PageFolder::NO_PAGE);
}

// A password is checked now, or, after too many wrong ones, when its address's turn comes;
// the answer waits for the turn meanwhile.
WebAnswer RequestHandler::passwordRequest(const WebSlots::Admission& client,
                                          const WebRequest& request) {
    const auto now = m_parts.clock();
    if (!m_parts.lists.hasPasswords()) {
        m_parts.table.NextConnect(client, now);
        m_parts.journal.webEvent(WebEvent::LoggedIn, request.address);
        return WebResponse{};
    }
    if (request.parameterText.isEmpty())
        return WebResponse{};
    if (startedByTheBrowser(request))
        return WebResponse{200, passwordInAddressPage()};
    const QByteArray password = WebParameters::valueOf(request.parameterText);
    const auto turn = m_parts.throttle.turn(request.address, now);
    if (turn <= now)
        return checkPassword(client, password, now);
    auto answer = std::make_shared<PendingResponse>();
    {
        std::lock_guard lock(m_waitMutex);
        if (m_released) {
            m_parts.throttle.withdrawn(request.address);
            return page(PageFolder::LOGIN);
        }
        m_turns.emplace(turn, Turn{client, password, answer});
    }
    if (m_turnWaiting)
        m_turnWaiting();
    return answer;
}

// A wrong password gives the place another 30 s only while it is one of the free tries:
// an address that goes on guessing loses its place 30 s after the last of them.
WebResponse RequestHandler::checkPassword(const WebSlots::Admission& client,
                                          const QByteArray& password, SlotClock::time_point now) {
    const QByteArray address = client.address.bytes();
    const bool right = m_parts.lists.passwordMatches(password);
    const int wrongInARow = m_parts.throttle.checked(address, right, now);
    if (right) {
        m_parts.table.NextConnect(client, now);
        m_parts.journal.webEvent(WebEvent::LoggedIn, address);
        return page(PageFolder::COMMAND);
    }
    if (wrongInARow <= PasswordThrottle::FREE_TRIES)
        m_parts.table.restart(client, now);
    m_parts.journal.webEvent(WebEvent::WrongPassword, address);
    return page(PageFolder::WRONG_PASSWORD);
}

std::optional<SlotClock::time_point> RequestHandler::nextTurn() const {
    std::lock_guard lock(m_waitMutex);
    if (m_turns.empty())
        return std::nullopt;
    return m_turns.begin()->first;
}

std::size_t RequestHandler::passwordsWaiting() const {
    std::lock_guard lock(m_waitMutex);
    return m_turns.size();
}

// A password whose slot changed while it waited (it expired, or another request of the
// address logged in) is not checked: it gets the page of the slot's state.
void RequestHandler::checkDueTurns(SlotClock::time_point now) {
    std::vector<Turn> due;
    {
        std::lock_guard lock(m_waitMutex);
        const auto end = m_turns.upper_bound(now);
        for (auto turn = m_turns.begin(); turn != end; ++turn)
            due.push_back(std::move(turn->second));
        m_turns.erase(m_turns.begin(), end);
    }
    for (Turn& turn : due) {
        const SlotState state = m_parts.table.state(turn.client);
        if (state == SlotConnected) {
            turn.answer->complete(checkPassword(turn.client, turn.password, now));
            continue;
        }
        m_parts.throttle.withdrawn(turn.client.address.bytes());
        turn.answer->complete(
            page(state == SlotLoggedIn ? PageFolder::COMMAND : PageFolder::LOGIN));
    }
}

WebAnswer RequestHandler::commandRequest(const WebSlots::Admission& client,
                                         const WebRequest& request) {
    m_parts.table.restart(client, m_parts.clock());
    if (request.parameterText.isEmpty())
        return WebResponse{};
    const QByteArray value = WebParameters::valueOf(request.parameterText);
    if (value.isEmpty())
        return page(PageFolder::COMMAND);
    // The command is queued exactly as it is checked here: every decoding is done, and the
    // queue keeps all of its 35 characters.
    const QByteArray command = value.left(COMMAND_CAPACITY);
    if (!m_parts.lists.commandPermitted(command.left(HEAD_LENGTH))) {
        m_parts.journal.commandRefused(Refusal::NotPermitted, CommandSource::Web, request.address,
                                       command);
        return page(PageFolder::NOT_PERMITTED);
    }
    if (startedByTheBrowser(request))
        return WebResponse{200, confirmationPage(command)};
    return runCommand(command, client.address);
}

// Queues the command; the answer is pending until its own reply has ended (or its entry
// was thrown away, or the server was switched off), and then holds the lines it got.
WebAnswer RequestHandler::runCommand(const QByteArray& command, const ClientAddress& address) {
    auto reply = std::make_shared<WebCommand>();
    auto answer = std::make_shared<PendingResponse>();
    reply->whenFinished([this, reply = reply.get(), answer, address] {
        stopWaiting(reply, address);
        answer->complete(replyOf(*reply));
        if (m_replyTaken)
            m_replyTaken();
    });
    switch (startWaiting(reply, address)) {
    case Start::Released:
        return page(PageFolder::COMMAND);
    case Start::ShareFull:
        m_parts.journal.commandRefused(Refusal::ShareFull, CommandSource::Web, address.bytes(),
                                       command);
        return queueFullPage();
    case Start::Waiting:
        break;
    }
    switch (m_parts.dispatcher.appendWeb(command, address.bytes(), reply)) {
    case Dispatcher::Append::Queued:
        return answer;
    case Dispatcher::Append::QueueFull:
        stopWaiting(reply.get(), address);
        return queueFullPage();
    case Dispatcher::Append::Refused:
        stopWaiting(reply.get(), address);
        return refusedPage(command);
    }
    return answer;
}

WebResponse RequestHandler::queueFullPage() {
    return {200, ReplyPage::build({Cp1251::fromUnicode(QString::fromUtf8(QUEUE_FULL_TEXT))})};
}

// The reply page with one line that names the character the line cannot carry.
WebResponse RequestHandler::refusedPage(const QByteArray& command) {
    const QString text = CommandText::refusalText(*CommandText::unsafeByte(command));
    return {200, ReplyPage::build({Cp1251::fromUnicode(text.toHtmlEscaped())})};
}

// A reply cut by the line's loss, or a command that waited for a lost line in vain, ends
// with a line that says so: the user must not take it for the whole reply, nor send it again
// in the belief that it never reached the exchange.
WebResponse RequestHandler::replyOf(const WebCommand& command) const {
    QList<QByteArray> lines = command.lines();
    if (const char* notice = lineNotice(command.outcome()))
        lines.append(Cp1251::fromUnicode(QString::fromUtf8(notice)));
    if (lines.isEmpty())
        return page(PageFolder::COMMAND);
    return {200, ReplyPage::build(lines)};
}

// The command waits for its reply unless the server was switched off or its address
// already has its whole share of the queue.
RequestHandler::Start RequestHandler::startWaiting(const std::shared_ptr<WebCommand>& command,
                                                   const ClientAddress& address) {
    std::lock_guard lock(m_waitMutex);
    if (m_released)
        return Start::Released;
    int& commands = m_commandsOf[address.bytes()];
    if (commands >= COMMANDS_PER_ADDRESS)
        return Start::ShareFull;
    ++commands;
    m_waiting.insert(command);
    return Start::Waiting;
}

void RequestHandler::stopWaiting(const WebCommand* command, const ClientAddress& address) {
    std::lock_guard lock(m_waitMutex);
    const auto erased = std::erase_if(
        m_waiting, [command](const auto& waiting) { return waiting.get() == command; });
    const auto commands = m_commandsOf.find(address.bytes());
    if (erased > 0 && commands != m_commandsOf.end() && --commands->second <= 0)
        m_commandsOf.erase(commands);
}

// Passwords that wait for their turn are never checked: they get the login page.
void RequestHandler::releaseWaiting() {
    std::set<std::shared_ptr<WebCommand>> waiting;
    std::multimap<SlotClock::time_point, Turn> turns;
    {
        std::lock_guard lock(m_waitMutex);
        m_released = true;
        waiting.swap(m_waiting);
        turns.swap(m_turns);
        m_commandsOf.clear();
    }
    for (const auto& command : waiting)
        command->finish(WebCommand::Outcome::Abandoned);
    for (auto& [at, turn] : turns) {
        m_parts.throttle.withdrawn(turn.client.address.bytes());
        turn.answer->complete(page(PageFolder::LOGIN));
    }
}

WebResponse RequestHandler::page(const char* name) const {
    return page(QString::fromLatin1(name));
}

WebResponse RequestHandler::page(const QString& name) const {
    auto read = m_parts.pages.read(name);
    if (!read.file)
        return {500, Cp1251::fromUnicode(read.error)};
    return {200, std::nullopt, std::move(read.file)};
}
