#pragma once

#include "Fakes.h"
#include "SimulatedExchange.h"
#include "dispatch/Console.h"
#include "dispatch/Journal.h"
#include "dispatch/Terminal.h"
#include "link/PortDevice.h"
#include "shared/Vars.h"

#include <QtGlobal>

#include <memory>

// The terminal's logic on a real pseudo-terminal with the simulated exchange at the far
// end; only the timers, the console and the message boxes are fakes. The terminal reports
// to `journal`.
struct TerminalRig {
    sim::SimulatedExchange exchange;
    Vars vars;
    FakeTimer replyWait{5000};
    FakeTimer consoleTrim{Console::TRIM_INTERVAL_MS};
    FakeTimer lineRetry{LineRetry::LOCAL_RETRY_MS};
    FakeTimer lineWait{Dispatcher::LINE_WAIT_MS};
    RecordingConsole console;
    RecordingMessages messages;
    std::unique_ptr<Terminal> terminal;

    explicit TerminalRig(Journal& journal = Journal::none()) {
        if (!exchange.start())
            qFatal("simulator: %s", exchange.errorText().c_str());
        // Through Qt's lock, as in WindowRig: other threads read the environment meanwhile.
        qputenv("KORVANT_COM1", QByteArray::fromStdString(exchange.linePath()));
        terminal = std::make_unique<Terminal>(
            vars, PortDevice::create(),
            Terminal::Timers{replyWait, consoleTrim, lineRetry, lineWait}, messages, journal);
        terminal->setConsole(&console);
    }
    bool open() { return terminal->OpenComPort(QStringLiteral("Com1"), 1); }
};
