#pragma once

#include "shared/ShortText.h"

#include <cstdint>

// Capacities of the working texts.
using CommandLineText = ShortText<32>; // typed on the command line
using LastCommandText = ShortText<35>; // the recall buffer; also the web command's cut
using QueueText = ShortText<40>;       // a queued command as it goes out, without CR
using ComposedText = ShortText<50>;    // a command built by a page button
using ReplyLine = ShortText<80>;       // one line from the exchange

// The state that the windows share with each other: one record, owned by the program and
// handed by reference to the pieces that read or change it, on the window thread only.
// (Which port is open the line tells, SerialLink::PortOpen(); WebReplyReady the dispatcher.)
struct Vars {
    // The last console command issued, for recall (Ctrl+L). Web commands never change it.
    LastCommandText LastCommand;
};
