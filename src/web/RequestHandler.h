#pragma once

#include "web/PageFolder.h"
#include "web/WebExchange.h"
#include "web/WebSlots.h"

#include <QByteArray>
#include <QList>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

class Dispatcher;
class Journal;
class PasswordThrottle;
class WebAccessList;
class WebCommand;

// The page that carries a web command's reply: the fixed head with the next command's
// form, every captured line followed by "<br>", the fixed tail. The lines are the
// exchange's own bytes (code page 1251), neither escaped nor converted.
namespace ReplyPage {
extern const QByteArray HEAD;
extern const QByteArray TAIL;
QByteArray build(const QList<QByteArray>& lines);
} // namespace ReplyPage

// Answers one request, on the web server's thread; it never waits there. Each request works
// on its own storage: its address, its slot, its parameters, its command and its reply.
// Requests that another site's page made, or that name this computer by a name it does not
// have, are refused before anything else (RequestGuards). A client is admitted into a slot
// (WebSlots) and then gives its password at "/"; after three wrong ones its passwords are
// checked one every 2 s (PasswordThrottle), each in its turn, its answer pending meanwhile,
// and no longer give the place more time. Once logged in, every value it sends to "/" is a
// command: permitted when its first 7 characters equal an entry of the permitted list and it
// holds no byte that the line cannot carry (CommandText), then queued for the exchange with
// the console's commands, at most COMMANDS_PER_ADDRESS of one address at a time. A command or
// a password in a navigation that the browser started by itself is neither run nor checked:
// the command is shown with a button that sends it, the password with the login form. A
// command's answer is then pending, and is completed with its own reply when that ends, on
// the thread that ends it. What happens is reported to the operator's journal (never a
// password).
class RequestHandler {
public:
    static constexpr qsizetype COMMAND_CAPACITY = 35; // characters of a web command
    static constexpr qsizetype HEAD_LENGTH = 7;       // characters compared with the list
    // Commands of one address waiting in the queue or in progress at once: the console and
    // the other users always find room.
    static constexpr int COMMANDS_PER_ADDRESS = 8;

    using Clock = std::function<SlotClock::time_point()>;

    // What the handler works with; every part outlives it.
    struct Parts {
        WebSlots& table;
        const WebAccessList& lists;
        const PageFolder& pages;
        Dispatcher& dispatcher;
        PasswordThrottle& throttle;
        Journal& journal;
        Clock clock;
    };

    explicit RequestHandler(Parts parts);

    WebAnswer handle(const WebRequest& request);

    // The server is switched off: every waiting request is released at once with what its
    // reply holds so far, and no further command is queued; passwords that wait for their
    // turn are never checked.
    void releaseWaiting();
    // Called each time a request has taken its reply, on the thread that completed it.
    void onReplyTaken(std::function<void()> observer) { m_replyTaken = std::move(observer); }

    // The earliest turn of a password that waits to be checked; nothing when none waits.
    std::optional<SlotClock::time_point> nextTurn() const;
    // Checks the passwords whose turn has come (window thread) and completes their answers.
    void checkDueTurns(SlotClock::time_point now);
    // Passwords waiting for their turn now.
    std::size_t passwordsWaiting() const;
    // Called, on the server's thread, each time a password starts waiting for its turn.
    void onTurnWaiting(std::function<void()> observer) { m_turnWaiting = std::move(observer); }

private:
    struct Turn {
        WebSlots::Admission client;
        QByteArray password;
        std::shared_ptr<PendingResponse> answer;
    };

    std::optional<WebResponse> refusal(const WebRequest& request);
    WebResponse documentRequest(const WebRequest& request);
    WebAnswer passwordRequest(const WebSlots::Admission& client, const WebRequest& request);
    WebResponse checkPassword(const WebSlots::Admission& client, const QByteArray& password,
                              SlotClock::time_point now);
    WebAnswer commandRequest(const WebSlots::Admission& client, const WebRequest& request);
    WebAnswer runCommand(const QByteArray& command, const ClientAddress& address);
    WebResponse replyOf(const WebCommand& command) const;
    WebResponse page(const char* name) const;
    WebResponse page(const QString& name) const;
    enum class Start { Waiting, Released, ShareFull };
    Start startWaiting(const std::shared_ptr<WebCommand>& command, const ClientAddress& address);
    static WebResponse queueFullPage();
    static WebResponse refusedPage(const QByteArray& command);
    void stopWaiting(const WebCommand* command, const ClientAddress& address);

    Parts m_parts;
    const QList<QByteArray> m_ownNames; // the names this computer answers to
    std::function<void()> m_replyTaken;
    std::function<void()> m_turnWaiting;

    mutable std::mutex m_waitMutex;
    std::set<std::shared_ptr<WebCommand>> m_waiting;
    std::map<QByteArray, int> m_commandsOf; // commands waiting or in progress, by address
    // Each waiting password holds its connection, suspended, until its turn: the server's
    // connection limits bound them.
    std::multimap<SlotClock::time_point, Turn> m_turns;
    bool m_released = false;
};
