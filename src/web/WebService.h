#pragma once

#include "dispatch/Journal.h"
#include "shared/WindowMessages.h"
#include "web/HttpServer.h"
#include "web/PageFolder.h"
#include "web/PasswordThrottle.h"
#include "web/RequestHandler.h"
#include "web/WebAccessList.h"
#include "web/WebSlots.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <variant>

class Dispatcher;
class Timer;

// The web access on the window thread's side: the access lists, the connection slots with
// their time-outs, the password throttle, and the HTTP server with its request handler.
// The server's thread changes the slots under the table's lock and posts SlotsChanged, and
// posts TurnWaiting when a password starts waiting for its turn; the window thread then
// sets the one web timer to the earliest of the slots' deadlines and the passwords' turns,
// and when it fires frees the slots whose time has come and checks the passwords whose
// turn has come. The server's thread never touches a timer or a widget.
class WebService final : public QObject {
    Q_OBJECT
public:
    static constexpr int DEFAULT_PORT = 80;

    // The server listens as `settings` say when switched on. `webTimer` is a window timer;
    // `clock` tells the time for the slots' deadlines and the passwords' turns. What
    // happens is reported to `journal`.
    WebService(Dispatcher& dispatcher, const QString& workingDirectory, HttpSettings settings,
               Timer& webTimer, RequestHandler::Clock clock, Journal& journal = Journal::none(),
               QObject* parent = nullptr);
    ~WebService() override;

    // The port is KORVANT_HTTP_PORT when it is set, otherwise port 80; HTTPS with the files
    // that KORVANT_HTTPS_CERT and KORVANT_HTTPS_KEY name.
    static HttpSettings configuredSettings();

    WebAccessList& lists() { return m_lists; }
    WebSlots& webSlots() { return m_slots; }

    // Starts listening; the reason on failure (the port, or the HTTPS files).
    QString switchOn();
    // Stops listening at once and refuses every further request, also on connections that
    // are open; the web commands still waiting in the queue are taken out, every waiting
    // request is released with what its reply holds, every slot is freed and WebReplyReady
    // cleared. The open connections are closed in the background once the released answers
    // have gone out.
    void switchOff();
    bool isListening() const { return m_server.isListening(); }
    // The port listened on (the one chosen when any free port was asked for).
    int port() const { return m_server.port(); }
    HttpServer& server() { return m_server; }
    // The dispatcher's WebReplyReady, for the web window's diagnostics.
    std::uint8_t WebReplyReady() const;
    // Passwords waiting for their turn to be checked.
    std::size_t passwordsWaiting() const { return m_handler ? m_handler->passwordsWaiting() : 0; }

signals:
    void slotsChanged(); // the table changed; ConnectionCount may have changed
    void listeningChanged(bool listening);

private:
    struct SlotsChanged {}; // the slot table changed
    struct ReplyTaken {};   // a web request has taken its reply
    struct TurnWaiting {};  // a password waits for its turn to be checked
    using Message = std::variant<SlotsChanged, ReplyTaken, TurnWaiting>;

    void handle(const Message& message);
    void slotsChangedElsewhere();
    void showSlots();
    void armTimer();
    void timeCame();

    Dispatcher& m_dispatcher;
    HttpSettings m_settings;
    Timer& m_timer;
    RequestHandler::Clock m_clock;
    Journal& m_journal;
    PasswordThrottle m_throttle; // outlives each switch-on: the counts survive a restart
    WebAccessList m_lists;
    WebSlots m_slots;
    PageFolder m_pages;
    WindowMessageQueue<Message> m_messages;
    std::atomic<bool> m_slotsPosted{false};
    std::shared_ptr<RequestHandler> m_handler; // the running server's
    HttpServer m_server;
};
