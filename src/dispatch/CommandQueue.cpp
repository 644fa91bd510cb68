#include "dispatch/CommandQueue.h"

#include <algorithm>

bool CommandQueue::append(QueueEntry entry) {
    std::lock_guard lock(m_mutex);
    if (m_count == CAPACITY)
        return false;
    m_slots[m_count++] = std::move(entry);
    return true;
}

int CommandQueue::count() const {
    std::lock_guard lock(m_mutex);
    return m_count;
}

bool CommandQueue::isFull() const {
    std::lock_guard lock(m_mutex);
    return m_count == CAPACITY;
}

QueueEntry CommandQueue::head() const {
    std::lock_guard lock(m_mutex);
    return m_slots[0];
}

int CommandQueue::dropHead() {
    std::lock_guard lock(m_mutex);
    if (m_count == 0)
        return 0;
    --m_count;
    if (m_count > 0) {
        std::move(m_slots.begin() + 1, m_slots.begin() + m_count + 1, m_slots.begin());
        m_slots[m_count] = QueueEntry{};
    }
    return m_count;
}

std::vector<QueueEntry> CommandQueue::clear() {
    std::lock_guard lock(m_mutex);
    std::vector<QueueEntry> discarded(m_slots.begin(), m_slots.begin() + m_count);
    m_count = 0;
    return discarded;
}

std::optional<QueueEntry> CommandQueue::firstWeb() const {
    std::lock_guard lock(m_mutex);
    const auto end = m_slots.begin() + m_count;
    const auto found = std::find_if(
        m_slots.begin(), end, [](const QueueEntry& entry) { return entry.origin == Origin::Web; });
    return found == end ? std::nullopt : std::optional<QueueEntry>(*found);
}

std::vector<QueueEntry> CommandQueue::takeWeb(int first, const Which& which) {
    std::lock_guard lock(m_mutex);
    std::vector<QueueEntry> taken;
    int kept = std::min(first, m_count);
    for (int slot = kept; slot < m_count; ++slot) {
        QueueEntry& entry = m_slots[slot];
        if (entry.origin == Origin::Web && (!which || which(entry))) {
            taken.push_back(std::move(entry));
        } else {
            if (slot != kept)
                m_slots[kept] = std::move(entry);
            ++kept;
        }
    }
    std::fill(m_slots.begin() + kept, m_slots.begin() + m_count, QueueEntry{});
    m_count = kept;
    return taken;
}
