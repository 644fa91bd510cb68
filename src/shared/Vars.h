#pragma once

#include "ShortText.h"

#include <cstdint>

// Capacities of the working texts.
using CommandLineText = ShortText<32>; // typed on the command line
using LastCommandText = ShortText<35>; // the recall buffer; also the web command's cut
using QueueText = ShortText<40>;       // a queued command as it goes out, without CR
using ComposedText = ShortText<50>;    // a command built by a page button
using ReplyLine = ShortText<80>;       // one line from the exchange

// The state that the windows share with each other: one record, owned by the program and
// handed by reference to the pieces that read or change it. Everything here is touched on
// the window thread only; what other threads share (the command queue, the web replies)
// carries its own lock.
struct Vars {
    // 0 = no port open, 1 = COM1 open, 2 = COM2 open. Commands are refused while it is 0.
    std::uint8_t PortOpen = 0;
    // The last console command issued, for recall (Ctrl+L). Web commands never change it.
    LastCommandText LastCommand;
    // Set when the reply to a web command ends; shown by the web diagnostics. Each web
    // request receives its own reply through its queue entry, not through this flag.
    std::uint8_t WebReplyReady = 0;
};
