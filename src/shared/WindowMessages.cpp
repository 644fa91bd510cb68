#include "shared/WindowMessages.h"

#include <QElapsedTimer>
#include <QSocketNotifier>

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {
// Milliseconds of handling before the event loop runs again. The same pass of the loop may
// also show a console frame (up to 600 lines in one edit, some 3 - 4 ms) and paint it, and
// the window thread must never pause longer than 8 ms.
constexpr int PASS_BUDGET_MS = 1;
} // namespace

WindowMessagePump::WindowMessagePump(QObject* parent)
    : QObject(parent), m_wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    m_notifier = new QSocketNotifier(m_wakeFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &WindowMessagePump::onWake);
}

WindowMessagePump::~WindowMessagePump() {
    delete m_notifier;
    ::close(m_wakeFd);
}

bool WindowMessagePump::markPending() {
    const bool mustWake = !m_wakePending;
    m_wakePending = true;
    return mustWake;
}

void WindowMessagePump::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(m_wakeFd, &one, sizeof one);
}

void WindowMessagePump::onWake() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read(m_wakeFd, &count, sizeof count);
    deliver(PASS_BUDGET_MS);
}

void WindowMessagePump::deliverPending() {
    deliver(-1);
}

bool WindowMessagePump::isEmpty() const {
    std::lock_guard lock(m_mutex);
    return !hasMessage();
}

void WindowMessagePump::deliver(int timeBudgetMs) {
    if (m_delivering) // a handler that opens a modal box must not hand out messages inside it twice
        return;
    m_delivering = true;
    QElapsedTimer clock;
    clock.start();
    std::unique_lock lock(m_mutex);
    while (hasMessage()) {
        if (timeBudgetMs >= 0 && clock.elapsed() >= timeBudgetMs) {
            lock.unlock();
            m_delivering = false;
            wake(); // the rest after the event loop has had its turn
            return;
        }
        handleOldest(lock);
    }
    m_wakePending = false;
    m_delivering = false;
}
