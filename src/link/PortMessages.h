#pragma once

#include "shared/Poster.h"

#include <cstddef>
#include <string>
#include <variant>

// What the port's reader tells the window thread.
struct Received { // WM_RECEIVED: bytes from the port, in arrival order
    std::string bytes;
};
struct CtsChanged {};   // WM_POSTCTS: the CTS line changed
struct DsrChanged {};   // WM_POSTDSR: the DSR line changed
struct LineUp {};       // the line is there: the device opened or its connection was made
struct LineLost {       // the port failed or hung up, or its connection ended; the reader stopped
    std::string reason; // the device's own words, when it has any
};
using PortMessage = std::variant<Received, CtsChanged, DsrChanged, LineUp, LineLost>;

// Where the reader posts them.
using PortMessages = Poster<PortMessage>;

// Received bytes that follow each other are joined up to this size, so that a flood costs
// few messages and each is handled in well under a millisecond.
constexpr std::size_t JOINED_BLOCK_BYTES = 16 * 1024;

// Folds `next` into `last` when both are received bytes and `last` has room.
inline bool joinReceived(PortMessage& last, PortMessage& next) {
    auto* earlier = std::get_if<Received>(&last);
    auto* later = std::get_if<Received>(&next);
    if (!earlier || !later || earlier->bytes.size() >= JOINED_BLOCK_BYTES)
        return false;
    earlier->bytes += later->bytes;
    return true;
}
