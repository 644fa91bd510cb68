#include "web/WebSlots.h"

#include <algorithm>
#include <utility>

namespace {

SlotClock::duration timeoutOf(SlotState state) {
    return state == SlotLoggedIn ? WebSlots::LOGGED_IN_TIMEOUT : WebSlots::CONNECTED_TIMEOUT;
}

} // namespace

WebSlots::Admission WebSlots::admit(QByteArrayView address, SlotClock::time_point now) {
    Admission admission{Outcome::Full, -1, ClientAddress(address)};
    {
        std::lock_guard lock(m_mutex);
        for (int slot = 0; slot < SLOT_COUNT; ++slot)
            if (m_slots[slot].state != SlotFree && m_slots[slot].address == admission.address)
                return {Outcome::Known, slot, admission.address};
        if (rests(admission.address, now))
            return {Outcome::Resting, -1, admission.address};
        for (int slot = 0; slot < SLOT_COUNT && admission.slot < 0; ++slot)
            if (m_slots[slot].state == SlotFree)
                admission.slot = slot;
        if (admission.slot < 0)
            return admission;
        admission.outcome = Outcome::Admitted;
        m_slots[admission.slot] = {admission.address, SlotConnected, now + CONNECTED_TIMEOUT};
    }
    changed();
    return admission;
}

void WebSlots::NextConnect(const Admission& client, SlotClock::time_point now) {
    {
        std::lock_guard lock(m_mutex);
        WebSlot* slot = slotOf(client);
        if (!slot)
            return; // it expired meanwhile: the client is admitted anew on its next request
        slot->state = SlotLoggedIn;
        slot->deadline = now + LOGGED_IN_TIMEOUT;
    }
    changed();
}

void WebSlots::restart(const Admission& client, SlotClock::time_point now) {
    std::lock_guard lock(m_mutex);
    if (WebSlot* slot = slotOf(client))
        slot->deadline = now + timeoutOf(slot->state);
}

SlotState WebSlots::state(const Admission& client) const {
    std::lock_guard lock(m_mutex);
    const WebSlot* slot = slotOf(client);
    return slot ? slot->state : SlotFree;
}

WebSlot* WebSlots::slotOf(const Admission& client) {
    return const_cast<WebSlot*>(std::as_const(*this).slotOf(client));
}

const WebSlot* WebSlots::slotOf(const Admission& client) const {
    if (client.slot < 0 || client.slot >= SLOT_COUNT)
        return nullptr;
    const WebSlot& slot = m_slots[client.slot];
    return slot.state != SlotFree && slot.address == client.address ? &slot : nullptr;
}

SlotState WebSlots::stateOf(QByteArrayView address) const {
    const ClientAddress client(address);
    std::lock_guard lock(m_mutex);
    for (const WebSlot& slot : m_slots)
        if (slot.state != SlotFree && slot.address == client)
            return slot.state;
    return SlotFree;
}

std::vector<ClientAddress> WebSlots::expire(SlotClock::time_point now) {
    std::vector<ClientAddress> freed;
    {
        std::lock_guard lock(m_mutex);
        for (WebSlot& slot : m_slots)
            if (slot.state != SlotFree && slot.deadline <= now) {
                freed.push_back(slot.address);
                if (slot.state == SlotConnected)
                    rest(slot.address, slot.deadline + RESTING_TIME);
                slot = WebSlot{};
            }
    }
    if (!freed.empty())
        changed();
    return freed;
}

void WebSlots::freeAll() {
    {
        std::lock_guard lock(m_mutex);
        m_slots.fill(WebSlot{});
        m_resting.clear();
    }
    changed();
}

std::size_t WebSlots::resting(SlotClock::time_point now) const {
    std::lock_guard lock(m_mutex);
    return std::size_t(
        std::ranges::count_if(m_resting, [now](const Rest& rest) { return rest.until > now; }));
}

// Under the lock: whether the address rests at `now`; the rests that have ended go.
bool WebSlots::rests(const ClientAddress& address, SlotClock::time_point now) {
    std::erase_if(m_resting, [now](const Rest& rest) { return rest.until <= now; });
    return std::ranges::any_of(m_resting,
                               [&address](const Rest& rest) { return rest.address == address; });
}

// Under the lock.
void WebSlots::rest(const ClientAddress& address, SlotClock::time_point until) {
    if (m_resting.size() >= RESTING_LIMIT)
        m_resting.erase(std::ranges::min_element(m_resting, {}, &Rest::until));
    m_resting.push_back({address, until});
}

std::optional<SlotClock::time_point> WebSlots::nextDeadline() const {
    std::lock_guard lock(m_mutex);
    std::optional<SlotClock::time_point> earliest;
    for (const WebSlot& slot : m_slots)
        if (slot.state != SlotFree && (!earliest || slot.deadline < *earliest))
            earliest = slot.deadline;
    return earliest;
}

int WebSlots::ConnectionCount() const {
    std::lock_guard lock(m_mutex);
    return int(
        std::ranges::count_if(m_slots, [](const WebSlot& slot) { return slot.state != SlotFree; }));
}

std::array<WebSlot, WebSlots::SLOT_COUNT> WebSlots::table() const {
    std::lock_guard lock(m_mutex);
    return m_slots;
}

void WebSlots::changed() {
    if (m_changed)
        m_changed();
}
