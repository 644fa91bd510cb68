#pragma once

#include "shared/Vars.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class WebCommand;

enum class Origin : std::uint8_t { Console = 0, Web = 1 };

struct QueueEntry {
    QueueText text;
    Origin origin = Origin::Console;
    std::shared_ptr<WebCommand> web; // the waiting web request, for a web entry
    std::uint64_t record = 0;        // its record in the operator's journal
    std::int64_t queuedMs = 0;       // when it was queued, on the dispatcher's steady clock
};

// The one first-in-first-out queue of commands for the exchange. Slot 0 is the head; when
// the queue is empty it still holds the last head, whose origin the reply end reads.
// Appends come from any thread, so every access takes the lock.
class CommandQueue {
public:
    static constexpr int CAPACITY = 255;

    // False when 255 entries are already queued: nothing changes.
    bool append(QueueEntry entry);
    int count() const;
    bool isFull() const;
    QueueEntry head() const;
    // Drops the head and moves the later entries down one slot; returns the new count.
    int dropHead();
    // Empties the queue (a port was opened) and hands back the entries it held, so that
    // their web requests can be released. The head slot keeps its last content.
    std::vector<QueueEntry> clear();
    // Takes every web entry from slot `first` on (those of them that `which` picks, when
    // given) out of the queue, the other entries keeping their order, and hands them back.
    using Which = std::function<bool(const QueueEntry&)>;
    std::vector<QueueEntry> takeWeb(int first, const Which& which = {});
    // The first web entry in the queue, if any.
    std::optional<QueueEntry> firstWeb() const;

private:
    mutable std::mutex m_mutex;
    std::array<QueueEntry, CAPACITY + 1> m_slots;
    int m_count = 0;
};
