#pragma once

#include "shared/Poster.h"

#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

class QSocketNotifier;

// What every window message queue shares: an eventfd that a QSocketNotifier reads wakes the
// window thread, which hands the messages out one at a time, in posting order. A pass hands
// out messages for about a millisecond and then lets the event loop breathe (console frames,
// paint, keys, timers) before it goes on, so a burst never freezes the window. (Qt's own
// postEvent is not used: Qt is not built for ThreadSanitizer, which would take its locking
// for races.)
class WindowMessagePump : public QObject {
    Q_OBJECT
public:
    ~WindowMessagePump() override;
    // Hands out every message posted so far, at once (before a port is reopened).
    void deliverPending();
    bool isEmpty() const;

protected:
    explicit WindowMessagePump(QObject* parent);
    // Under m_mutex, after a message was queued: true when the window thread is to be woken.
    bool markPending();
    void wake();
    // Under m_mutex (held by `lock`): whether a message waits; the oldest one is handed out
    // with the lock released meanwhile.
    virtual bool hasMessage() const = 0;
    virtual void handleOldest(std::unique_lock<std::mutex>& lock) = 0;

    mutable std::mutex m_mutex;

private:
    void onWake();
    void deliver(int timeBudgetMs);

    bool m_wakePending = false;
    int m_wakeFd = -1;
    QSocketNotifier* m_notifier = nullptr;
    bool m_delivering = false;
};

// A window message queue whose messages are of type M (a std::variant of small structs, as
// a rule). Any thread may post; the handler runs on the thread that created the queue. A
// `join` may fold a message into the one posted just before it (received bytes into
// received bytes, so that a flood costs few messages): it returns true when it did.
template <class M> class WindowMessageQueue final : public WindowMessagePump, public Poster<M> {
public:
    using Handler = std::function<void(M&)>;
    using Join = std::function<bool(M& last, M& next)>;

    explicit WindowMessageQueue(Handler handler = {}, Join join = {}, QObject* parent = nullptr)
        : WindowMessagePump(parent), m_handler(std::move(handler)), m_join(std::move(join)) {}

    // On the window thread.
    void setHandler(Handler handler) { m_handler = std::move(handler); }

    void post(M message) override {
        bool mustWake = false;
        {
            std::lock_guard lock(m_mutex);
            if (!m_join || m_messages.empty() || !m_join(m_messages.back(), message))
                m_messages.push_back(std::move(message));
            mustWake = markPending();
        }
        if (mustWake)
            wake();
    }

private:
    bool hasMessage() const override { return !m_messages.empty(); }
    void handleOldest(std::unique_lock<std::mutex>& lock) override {
        M message = std::move(m_messages.front());
        m_messages.pop_front();
        lock.unlock();
        if (m_handler)
            m_handler(message);
        lock.lock();
    }

    Handler m_handler;
    Join m_join;
    std::deque<M> m_messages;
};
