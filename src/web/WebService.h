#pragma once

#include "HttpServer.h"
#include "PageFolder.h"
#include "RequestHandler.h"
#include "WebAccessList.h"
#include "WebSlots.h"
#include "WindowMessages.h"

#include <QObject>

#include <atomic>
#include <memory>

class Dispatcher;
class Timer;
struct Vars;

// The web access on the window thread's side: the access lists, the connection slots with
// their time-outs, and the HTTP server with its request handler. The connection threads
// change the slots under the table's lock and post WM_WEBSLOTS; the window thread then
// shows the table and sets the one expiry timer to the earliest deadline, and frees the
// slots whose time has come when it fires. No connection thread touches a timer or a widget.
class WebService final : public QObject, private MessageHandler {
    Q_OBJECT
public:
    static constexpr int DEFAULT_PORT = 80;

    // The server listens on `port` (0: any free port) when switched on. `expiryTimer` is a
    // window timer; `clock` tells the time for the slots' deadlines.
    WebService(Dispatcher& dispatcher, Vars& vars, const QString& workingDirectory, int port,
               Timer& expiryTimer, RequestHandler::Clock clock, QObject* parent = nullptr);
    ~WebService() override;

    // KORVANT_HTTP_PORT when it is set, otherwise port 80.
    static int configuredPort();

    WebAccessList& lists() { return m_lists; }
    WebSlots& webSlots() { return m_slots; }

    // Starts listening; the system's reason on failure.
    QString switchOn();
    // Frees every slot, releases every waiting request and stops listening at once;
    // WebReplyReady is cleared. The connections still open end on their own threads.
    void switchOff();
    bool isListening() const { return m_server.isListening(); }
    // The port listened on (the one chosen when any free port was asked for).
    int port() const { return m_server.port(); }
    HttpServer& server() { return m_server; }

signals:
    void slotsChanged(); // the table changed; ConnectionCount may have changed
    void listeningChanged(bool listening);

private:
    void handleMessage(const PostedMessage& message) override;
    void slotsChangedElsewhere();
    void showSlots();
    void armExpiry();
    void expireSlots();

    Dispatcher& m_dispatcher;
    Vars& m_vars;
    int m_port;
    Timer& m_expiryTimer;
    RequestHandler::Clock m_clock;
    WebAccessList m_lists;
    WebSlots m_slots;
    PageFolder m_pages;
    WindowMessageQueue m_messages;
    std::atomic<bool> m_slotsPosted{false};
    std::shared_ptr<RequestHandler> m_handler; // the running server's
    HttpServer m_server;
};
