#pragma once

#include "Journal.h"
#include "ShortText.h"

#include <cstdint>
#include <functional>

// Milliseconds since 1970 (UTC) by the journal's clock; tests put their own clock here.
using JournalClock = std::function<std::int64_t()>;

// One report on its way to the file: stamped with the time when it was made and copied
// whole, so that nothing of it is shared with the thread that made it.
struct JournalReport {
    enum class Kind : std::uint8_t { Queued, Sent, Ended, Line, Refused, Web, Port };

    Kind kind = Kind::Line;
    std::uint8_t what = 0; // the CommandEnd, Refusal, WebEvent or PortEvent
    Origin origin = Origin::Console;
    std::int64_t time = 0;
    Journal::Record command = 0;
    ShortText<80> text; // command, line or device, code page 1251
    ShortText<45> address;
};

// What a record of the file is; kept in its column "kind".
enum class RecordKind : std::uint8_t {
    Command = 1, // a command with its reply lines
    Lines = 2,   // lines that answer no command, arrived one close behind the other
    Refusal = 3, // a command that never reached the line
    Web = 4,     // a web event
    Port = 5,    // the port was opened, closed or lost
    Lost = 6,    // reports that the journal could not keep (its text holds their count)
};
