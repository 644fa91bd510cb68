#pragma once

#include "PageFolder.h"
#include "WebExchange.h"
#include "WebSlots.h"

#include <QByteArray>
#include <QList>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

class Dispatcher;
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
// on its own storage: its address, its slot, its parameters, its command and its reply. A
// client is admitted into a slot (WebSlots) and then gives its password at "/";
// once logged in, every value it sends to "/" is a command: permitted when its first 7
// characters equal an entry of the permitted list, then queued for the exchange with the
// console's commands. Its answer is then pending, and is completed with its own reply when
// that ends, on the thread that ends it.
class RequestHandler {
public:
    static constexpr qsizetype COMMAND_CAPACITY = 35; // characters of a web command
    static constexpr qsizetype HEAD_LENGTH = 7;       // characters compared with the list

    using Clock = std::function<SlotClock::time_point()>;

    RequestHandler(WebSlots& table, const WebAccessList& lists, const PageFolder& pages,
                   Dispatcher& dispatcher, Clock clock);

    WebAnswer IdHTTPServer1CommandGet(const WebRequest& request);

    // The server is switched off: every waiting request is released at once with what its
    // reply holds so far, and no further command is queued.
    void releaseWaiting();
    // Called each time a request has taken its reply, on the thread that completed it.
    void onReplyTaken(std::function<void()> observer) { m_replyTaken = std::move(observer); }

private:
    WebResponse documentRequest(const WebRequest& request);
    WebResponse passwordRequest(const WebSlots::Admission& client, const WebRequest& request);
    WebAnswer commandRequest(const WebSlots::Admission& client, const WebRequest& request);
    WebAnswer runCommand(const QByteArray& command, const QByteArray& address);
    WebResponse replyOf(const WebCommand& command) const;
    WebResponse page(const char* name) const;
    WebResponse page(const QString& name) const;
    bool startWaiting(const std::shared_ptr<WebCommand>& command);
    void stopWaiting(const WebCommand* command);

    WebSlots& m_slots;
    const WebAccessList& m_lists;
    const PageFolder& m_pages;
    Dispatcher& m_dispatcher;
    Clock m_clock;
    std::function<void()> m_replyTaken;

    std::mutex m_waitMutex;
    std::set<std::shared_ptr<WebCommand>> m_waiting;
    bool m_released = false;
};
