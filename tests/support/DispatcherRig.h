#pragma once

#include "Dispatcher.h"
#include "Fakes.h"
#include "Journal.h"
#include "Vars.h"

// A dispatcher on fakes, reporting to `journal`; messages are handed over only when the
// test says so, as the window thread would after the append has returned.
struct DispatcherRig {
    Vars vars;
    CommandQueue queue;
    RecordingPort port;
    FakeTimer replyWait{5000};
    HeldMessages poster;
    RecordingMessages messages;
    Dispatcher dispatcher;

    explicit DispatcherRig(Journal& journal = Journal::none())
        : dispatcher{queue, vars, port, replyWait, poster, messages, journal} {}
    void deliver() {
        for (const auto& message : poster.take())
            if (message.message == WM_SENDCOMMAND)
                dispatcher.WMSendCommand(sendCommandOf(message));
    }
};
