#pragma once

#include "web/WebSlots.h"

#include <QByteArrayView>

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>

// Slows the guessing of passwords. After FREE_TRIES wrong passwords in a row from one
// address, that address gets one password check every PAUSE, however many requests it
// sends at once: each request is given its turn, the next one a PAUSE later, and is
// checked when its turn comes. The count goes back to 0 at a right password, or after
// FORGET_AFTER without a try; it does not depend on the address's slot. At most ADDRESSES
// addresses are remembered, the one tried longest ago forgotten first. Safe on any thread.
class PasswordThrottle {
public:
    static constexpr int FREE_TRIES = 3;                    // wrong passwords before the pause
    static constexpr std::chrono::milliseconds PAUSE{2000}; // between two checks after that
    static constexpr std::chrono::minutes FORGET_AFTER{10}; // without a try, the count is 0
    static constexpr std::size_t ADDRESSES = 256;           // remembered at most

    using time_point = SlotClock::time_point;

    // When the password that `address` sent at `now` may be checked: at once, or at the
    // address's next turn. The turn is taken; every turn must be followed by checked().
    // Turns given out and not yet checked count as tries, so that requests sent at the same
    // moment do not all pass as free tries.
    time_point turn(QByteArrayView address, time_point now);
    // The password of `address` was checked at `at` and found right or wrong; returns the
    // wrong passwords of the address in a row now (0 after a right one).
    int checked(QByteArrayView address, bool right, time_point at);
    // A turn of `address` that was given out and will never be checked (the request went
    // away, or the server was switched off): it counts as no try.
    void withdrawn(QByteArrayView address);

    // Addresses remembered now.
    std::size_t remembered() const;

private:
    struct Tries {
        int wrong = 0;         // wrong passwords in a row
        int waiting = 0;       // turns given out and not yet checked
        time_point lastTry{};  // the last password sent or checked
        time_point lastTurn{}; // the latest check, made or given out as a turn
    };
    Tries& triesOf(const QByteArray& address, time_point now);

    mutable std::mutex m_mutex;
    std::map<QByteArray, Tries> m_addresses;
};
