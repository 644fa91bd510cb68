#pragma once

#include "dispatch/Console.h"
#include "dispatch/Dispatcher.h"
#include "dispatch/Terminal.h"
#include "journal/OperatorJournal.h"
#include "link/SerialDevice.h"
#include "shared/Timer.h"
#include "web/HttpServer.h"
#include "web/RequestHandler.h"
#include "web/WebService.h"

#include <QString>

#include <memory>
#include <optional>

class OperatorMessages;
struct Vars;

// KORVANT without its windows: the line to the exchange and its reader, the terminal (the
// reply assembler's routes, the queue and its dispatcher, the reply wait, the console's
// routes), the operator's journal and the web service, with their timers. main() builds it
// before the windows, which receive it by reference and forward the operator's actions to
// it; the console that shows the reply lines is attached by the main window. Built alone it
// is a whole terminal: a test opens a port, queues a command and reads its reply with no
// window at all.
class Station {
public:
    struct Settings {
        std::unique_ptr<SerialDevice> device;
        QString workingDirectory; // the web lists and the page folder "WEB"
        HttpSettings http;
        // The journal's file and clock; without them nothing is journaled.
        std::optional<OperatorJournal::Settings> journal;
        RequestHandler::Clock webClock = SlotClock::now;
    };

    // The operator learns of a failure of the journal's file through `messages`.
    Station(Vars& vars, OperatorMessages& messages, Settings settings);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    Vars& vars() { return m_vars; }
    Terminal& terminal() { return m_terminal; }
    Dispatcher& dispatcher() { return m_terminal.dispatcher(); }
    WebService& web() { return m_web; }
    // Where every part reports; the operator's journal, or one that records nothing.
    Journal& reports() { return m_journal ? static_cast<Journal&>(*m_journal) : Journal::none(); }
    // The operator's journal; none when the station keeps no journal.
    OperatorJournal* journal() { return m_journal.get(); }

private:
    Vars& m_vars;
    QtTimer m_timerWaitEnd{Dispatcher::REPLY_WAIT_MS}; // TimerWaitEnd: the reply wait
    QtTimer m_timerStr{Console::TRIM_INTERVAL_MS};     // TimerStr: console trimming
    QtTimer m_webTimer{0}; // the web slots' expiry and the passwords' turns
    QtTimer m_lineRetry{LineRetry::LOCAL_RETRY_MS}; // the attempts to have a lost line again
    QtTimer m_lineWait{Dispatcher::LINE_WAIT_MS};   // web entries waiting for a lost line
    std::unique_ptr<OperatorJournal> m_journal;
    Terminal m_terminal;
    WebService m_web;
};
