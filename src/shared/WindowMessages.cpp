#include "WindowMessages.h"

#include <QElapsedTimer>
#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

namespace {
// Milliseconds of handling before the event loop runs again. The same pass of the loop may
// also show a console frame (up to 600 lines in one edit, some 3 - 4 ms) and paint it, and
// the window thread must never pause longer than 8 ms.
constexpr int PASS_BUDGET_MS = 1;
// Received blocks are joined up to this size, so that one message is handled in well under
// a millisecond and the pass budget can be kept.
constexpr std::size_t JOINED_BLOCK_BYTES = 16 * 1024;
} // namespace

WindowMessageQueue::WindowMessageQueue(QObject* parent)
    : QObject(parent), m_wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    m_notifier = new QSocketNotifier(m_wakeFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &WindowMessageQueue::onWake);
}

WindowMessageQueue::~WindowMessageQueue() {
    delete m_notifier;
    ::close(m_wakeFd);
}

void WindowMessageQueue::post(PostedMessage message) {
    bool mustWake = false;
    {
        std::lock_guard lock(m_mutex);
        if (message.message == WM_RECEIVED && !m_messages.empty() &&
            m_messages.back().message == WM_RECEIVED &&
            m_messages.back().data.size() < JOINED_BLOCK_BYTES)
            m_messages.back().data.append(message.data);
        else
            m_messages.push_back(std::move(message));
        mustWake = !m_wakePending;
        m_wakePending = true;
    }
    if (mustWake)
        wake();
}

void WindowMessageQueue::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(m_wakeFd, &one, sizeof one);
}

void WindowMessageQueue::onWake() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read(m_wakeFd, &count, sizeof count);
    deliver(PASS_BUDGET_MS);
}

void WindowMessageQueue::deliverPending() {
    deliver(-1);
}

bool WindowMessageQueue::isEmpty() const {
    std::lock_guard lock(m_mutex);
    return m_messages.empty();
}

void WindowMessageQueue::deliver(int timeBudgetMs) {
    if (m_delivering) // a handler that opens a modal box must not hand out messages inside it twice
        return;
    m_delivering = true;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        PostedMessage message;
        {
            std::lock_guard lock(m_mutex);
            if (m_messages.empty()) {
                m_wakePending = false;
                break;
            }
            if (timeBudgetMs >= 0 && clock.elapsed() >= timeBudgetMs) {
                m_delivering = false;
                wake(); // the rest after the event loop has had its turn
                return;
            }
            message = std::move(m_messages.front());
            m_messages.pop_front();
        }
        if (m_handler)
            m_handler->handleMessage(message);
    }
    m_delivering = false;
}
