#pragma once

#include "shared/ShortText.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

using SlotClock = std::chrono::steady_clock;
using ClientAddress = ShortText<15>; // the longest dotted IPv4 address fits exactly

enum SlotState : std::uint8_t { SlotFree = 0, SlotConnected = 1, SlotLoggedIn = 2 };

struct WebSlot {
    ClientAddress address; // empty while the slot is free
    SlotState state = SlotFree;
    SlotClock::time_point deadline{}; // when the slot falls free unless restarted
};

// The four places for browser clients, each known by its IP address alone. A new address
// is admitted into the lowest free slot; an admitted client has 30 s to give its password
// (restarted by a wrong one, as the handler decides) and, once logged in, keeps its slot
// while it asks for "/" at least every 5 minutes. An address whose place ran out before a
// right password rests for RESTING_TIME: it is not admitted again meanwhile, so that
// addresses that never know a password cannot take the places back at once, one after
// another, and keep the users who do know one out.
//
// Every operation is atomic under one lock, so two requests never share a slot by
// accident, whichever thread handles them; the connection count is the number of occupied
// slots.
// Each request keeps its own slot number. The time-outs are deadlines in the table; the
// window thread frees what has expired (expire) at the earliest deadline.
class WebSlots {
public:
    static constexpr int SLOT_COUNT = 4;
    static constexpr std::chrono::milliseconds CONNECTED_TIMEOUT{30000};  // before the password
    static constexpr std::chrono::milliseconds LOGGED_IN_TIMEOUT{300000}; // after the last "/"
    static constexpr std::chrono::milliseconds RESTING_TIME{60000};       // after a place ran out
    // Addresses resting at once at most. A place runs out at most once per CONNECTED_TIMEOUT
    // and rests last two of them, so no client can make more; should a clock make more,
    // the rest that ends first is dropped.
    static constexpr std::size_t RESTING_LIMIT = 3 * SLOT_COUNT;

    enum class Outcome { Admitted, Known, Full, Resting };
    // What a request holds of its slot: the slot number and its own address. A slot
    // operation acts only while the slot still holds that address, so a request whose slot
    // expired meanwhile and went to another client never touches the newcomer's slot.
    struct Admission {
        Outcome outcome = Outcome::Full;
        int slot = -1; // -1 when full
        ClientAddress address;
    };

    // Called after every change, outside the lock, on the thread that made it.
    void onChange(std::function<void()> observer) { m_changed = std::move(observer); }

    // The admission of one request: a known address keeps its slot (its time-out is not
    // touched); a new one takes the lowest free slot with a 30 s time-out, or finds all
    // full, or finds that it still rests.
    Admission admit(QByteArrayView address, SlotClock::time_point now);
    // The password was accepted (or no password is needed): 5 minutes from now.
    void NextConnect(const Admission& client, SlotClock::time_point now);
    // Another full time-out for the slot from now, with its present length.
    void restart(const Admission& client, SlotClock::time_point now);
    // SlotFree when the slot no longer belongs to the client.
    SlotState state(const Admission& client) const;

    // The state of the slot that `address` holds; SlotFree when it holds none.
    SlotState stateOf(QByteArrayView address) const;

    // Frees every occupied slot whose deadline has come; returns the addresses freed. Those
    // that had not logged in rest from their deadline on.
    std::vector<ClientAddress> expire(SlotClock::time_point now);
    // Frees every slot and ends every rest (the server was switched off).
    void freeAll();
    // Addresses resting at `now`.
    std::size_t resting(SlotClock::time_point now) const;
    // The earliest deadline of an occupied slot; nothing when all are free.
    std::optional<SlotClock::time_point> nextDeadline() const;

    int ConnectionCount() const;
    std::array<WebSlot, SLOT_COUNT> table() const;

private:
    struct Rest {
        ClientAddress address;
        SlotClock::time_point until;
    };

    WebSlot* slotOf(const Admission& client); // nothing unless the slot is still the client's
    const WebSlot* slotOf(const Admission& client) const;
    bool rests(const ClientAddress& address, SlotClock::time_point now);
    void rest(const ClientAddress& address, SlotClock::time_point until);
    void changed();

    mutable std::mutex m_mutex;
    std::array<WebSlot, SLOT_COUNT> m_slots;
    std::vector<Rest> m_resting; // at most RESTING_LIMIT
    std::function<void()> m_changed;
};
