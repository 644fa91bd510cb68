#pragma once

#include "Fakes.h"
#include "dispatch/Dispatcher.h"
#include "dispatch/Journal.h"
#include "dispatch/WebCommand.h"
#include "shared/Vars.h"

#include <memory>

// With nothing in progress and no port open, a web command is queued, written nowhere and
// its reply ended, as the dispatcher's WebReplyReady then tells.
inline void endWebReply(Dispatcher& dispatcher) {
    dispatcher.appendWeb("W-W", "127.0.0.9", std::make_shared<WebCommand>());
    dispatcher.WMSendCommand(SendCommand::queued());
    dispatcher.WMSendCommand(SendCommand::ended(dispatcher.commandNumber(), CommandEnd::Prompt));
}

// A dispatcher on fakes, reporting to `journal`; messages are handed over only when the
// test says so, as the window thread would after the append has returned.
struct DispatcherRig {
    Vars vars;
    CommandQueue queue;
    RecordingPort port;
    FakeTimer replyWait{5000};
    HeldMessages<SendCommand> poster;
    RecordingMessages messages;
    FakeTimer lineWait;
    std::int64_t now = 0; // the dispatcher's steady clock, in milliseconds
    Dispatcher dispatcher;

    explicit DispatcherRig(Journal& journal = Journal::none())
        : dispatcher{queue, vars, port, replyWait, poster, messages, journal} {
        dispatcher.waitForLineWith(lineWait, [this] { return now; });
    }
    void deliver() {
        for (const SendCommand& message : poster.take())
            dispatcher.WMSendCommand(message);
    }
};
