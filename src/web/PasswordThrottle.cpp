#include "web/PasswordThrottle.h"

#include <algorithm>

PasswordThrottle::time_point PasswordThrottle::turn(QByteArrayView address, time_point now) {
    std::lock_guard lock(m_mutex);
    Tries& tries = triesOf(ClientAddress(address).bytes(), now);
    const bool free = tries.wrong + tries.waiting < FREE_TRIES;
    const time_point at = free ? now : std::max(now, tries.lastTurn + PAUSE);
    ++tries.waiting;
    tries.lastTurn = std::max(tries.lastTurn, at);
    tries.lastTry = std::max(tries.lastTry, now);
    return at;
}

int PasswordThrottle::checked(QByteArrayView address, bool right, time_point at) {
    std::lock_guard lock(m_mutex);
    const QByteArray key = ClientAddress(address).bytes();
    Tries& tries = triesOf(key, at);
    tries.waiting = std::max(0, tries.waiting - 1);
    tries.lastTry = std::max(tries.lastTry, at);
    tries.lastTurn = std::max(tries.lastTurn, at);
    tries.wrong = right ? 0 : tries.wrong + 1;
    const int wrong = tries.wrong;
    if (tries.wrong == 0 && tries.waiting == 0)
        m_addresses.erase(key); // nothing left to remember
    return wrong;
}

void PasswordThrottle::withdrawn(QByteArrayView address) {
    std::lock_guard lock(m_mutex);
    const auto known = m_addresses.find(ClientAddress(address).bytes());
    if (known == m_addresses.end())
        return;
    Tries& tries = known->second;
    tries.waiting = std::max(0, tries.waiting - 1);
    if (tries.wrong == 0 && tries.waiting == 0)
        m_addresses.erase(known);
}

std::size_t PasswordThrottle::remembered() const {
    std::lock_guard lock(m_mutex);
    return m_addresses.size();
}

// The address's tries; a count that has rested FORGET_AFTER starts again at 0. A new
// address beyond ADDRESSES pushes out the one tried longest ago.
PasswordThrottle::Tries& PasswordThrottle::triesOf(const QByteArray& address, time_point now) {
    if (const auto known = m_addresses.find(address); known != m_addresses.end()) {
        Tries& tries = known->second;
        if (tries.waiting == 0 && now - tries.lastTry >= FORGET_AFTER)
            tries = Tries{};
        return tries;
    }
    if (m_addresses.size() >= ADDRESSES) {
        const auto oldest = std::ranges::min_element(
            m_addresses, {}, [](const auto& entry) { return entry.second.lastTry; });
        m_addresses.erase(oldest);
    }
    return m_addresses[address];
}
