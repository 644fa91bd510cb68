#pragma once

#include <QObject>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

class QSocketNotifier;

// The window messages of the terminal, with their fixed numbers.
enum WindowMessage : int {
    WM_POSTCTS = 1025,        // the CTS line changed
    WM_POSTDSR = 1026,        // the DSR line changed
    WM_SENDCOMMAND = 1027,    // lParam 0: a command was queued; 1: the reply is finished
    WM_RECEIVED = 1100,       // bytes from the port, in arrival order (data)
    WM_LINELOST = 1101,       // the port hung up or failed; the reader has stopped
    WM_WEBSLOTS = 1110,       // the web connection slots changed
    WM_WEBREPLYTAKEN = 1111,  // a web request has taken its reply
    WM_WEBTURNS = 1112,       // a web password waits for its turn to be checked
    WM_JOURNALTROUBLE = 1120, // the journal's file failed or was set aside (data: the text)
    WM_JOURNALREAD = 1121,    // the journal window's reader has answers waiting
};

// Data crosses threads as std::string: it is moved, never shared, between them.
struct PostedMessage {
    int message = 0;
    std::intptr_t wParam = 0;
    std::intptr_t lParam = 0;
    std::string data;
};

// Where a thread posts a window message. Posting never waits for the handler.
class MessagePoster {
public:
    virtual ~MessagePoster() = default;
    virtual void post(PostedMessage message) = 0;
    void post(int message, std::intptr_t wParam, std::intptr_t lParam) {
        post(PostedMessage{message, wParam, lParam, {}});
    }
};

class MessageHandler {
public:
    virtual ~MessageHandler() = default;
    virtual void handleMessage(const PostedMessage& message) = 0;
};

// The window thread's message queue. Any thread may post; the messages are handled on the
// thread that created the queue, one at a time and in posting order. Received byte blocks
// that follow each other are joined up to a few kilobytes, so a flood costs few messages
// and each is handled quickly. A pass hands out messages for about a millisecond and then
// lets the event loop breathe (console frames, paint, keys, timers) before it goes on, so a
// burst never freezes the window.
class WindowMessageQueue final : public QObject, public MessagePoster {
    Q_OBJECT
public:
    explicit WindowMessageQueue(QObject* parent = nullptr);
    ~WindowMessageQueue() override;

    void setHandler(MessageHandler* handler) { m_handler = handler; }
    using MessagePoster::post;
    void post(PostedMessage message) override;
    // Hands out every message posted so far, at once (used before a port is reopened).
    void deliverPending();
    bool isEmpty() const;

private:
    void wake();
    void onWake();
    void deliver(int timeBudgetMs);

    mutable std::mutex m_mutex;
    std::deque<PostedMessage> m_messages;
    bool m_wakePending = false;
    int m_wakeFd = -1;
    QSocketNotifier* m_notifier = nullptr;
    MessageHandler* m_handler = nullptr;
    bool m_delivering = false;
};
