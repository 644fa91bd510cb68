#pragma once

#include "dispatch/Journal.h"

#include <QByteArrayView>

#include <cstdint>
#include <functional>
#include <memory>

// Milliseconds since 1970 (UTC) by the journal's clock; tests put their own clock here.
using JournalClock = std::function<std::int64_t()>;

// One report on its way to the file, stamped with the time when it was made. Its texts are
// views: JournalReports copies them, so that nothing of a report is shared with the thread
// that made it.
struct JournalReport {
    // Stop: STOP went out while `command` was in progress (0: none was); its text is the
    // device. Sent: `what` is 1 when the command went out right after a give-up.
    enum class Kind : std::uint8_t { Queued, Sent, Ended, Line, Refused, Web, Port, Stop };

    Kind kind = Kind::Line;
    std::uint8_t what = 0;                       // the CommandEnd, Refusal, WebEvent or PortEvent
    CommandSource source = CommandSource::Typed; // of a command, a refusal or a web event
    std::int64_t time = 0;
    Journal::Record command = 0;
    QByteArrayView text;    // command, line or device, code page 1251
    QByteArrayView address; // a web client's
};

// Reports packed one behind the other in a room of a fixed number of bytes: each takes its
// header and its texts' bytes, so a flood of short lines fits many more than a room of
// reports of the longest size would. Texts longer than the terminal's own (a reply line
// is cut at 80, an address at 45) are cut there.
class JournalReports {
public:
    static constexpr std::size_t TEXT_BYTES = 80;
    static constexpr std::size_t ADDRESS_BYTES = 45;

    // The room is allocated, not yet used; a touched room has had every page written once,
    // so that filling it later costs no first use of the memory.
    explicit JournalReports(std::size_t roomBytes = 0, bool touched = false);

    // Copies the report in; false, and nothing kept, when it does not fit in what is left.
    bool append(const JournalReport& report);
    // Appends the reports of `other` in order, as many as fit; returns how many.
    std::size_t appendAll(const JournalReports& other);
    // The bytes that a report takes in the room.
    static std::size_t bytesOf(const JournalReport& report);

    std::size_t size() const { return m_count; }
    std::size_t bytes() const { return m_used; }
    bool empty() const { return m_count == 0; }
    void clear() { m_count = m_used = 0; }
    void swap(JournalReports& other) noexcept;

    class Iterator {
    public:
        JournalReport operator*() const;
        Iterator& operator++();
        bool operator!=(const Iterator& other) const { return m_at != other.m_at; }

    private:
        friend class JournalReports;
        explicit Iterator(const char* at) : m_at(at) {}
        const char* m_at;
    };
    Iterator begin() const { return Iterator(m_room.get()); }
    Iterator end() const { return Iterator(m_room.get() + m_used); }

private:
    std::unique_ptr<char[]> m_room;
    std::size_t m_roomBytes = 0;
    std::size_t m_used = 0;
    std::size_t m_count = 0;
};

// What a record of the file is; kept in its column "kind".
enum class RecordKind : std::uint8_t {
    Command = 1,  // a command with its reply lines
    Lines = 2,    // lines that answer no command, arrived one close behind the other
    Refusal = 3,  // a command that never reached the line
    Web = 4,      // a web event
    Port = 5,     // the port was opened, closed or lost
    Lost = 6,     // reports that the journal could not keep (its text holds their count)
    Refusals = 7, // web requests refused one after the other, summed (its text: their count)
};
