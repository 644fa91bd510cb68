#pragma once

#include "dispatch/CommandQueue.h"
#include "dispatch/Journal.h"
#include "dispatch/WebCommand.h"
#include "shared/Poster.h"
#include "shared/Vars.h"

#include <QByteArrayView>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class OperatorMessages;
class PortWriter;
class Timer;

// What WM_SENDCOMMAND tells the dispatcher: an entry was queued, or the reply to a written
// command ended. An end names the command that was in progress when it happened (the
// number the dispatcher gave it when it was written), so an end that comes late, after its
// command was already ended another way, ends nothing.
struct SendCommand {
    enum class Kind : std::uint8_t { Queued, Ended };
    Kind kind = Kind::Queued;
    std::uint64_t command = 0; // the written command's number; 0 = none was in progress
    CommandEnd how = CommandEnd::Prompt;

    static SendCommand queued() { return {}; }
    static SendCommand ended(std::uint64_t command, CommandEnd how) {
        return {Kind::Ended, command, how};
    }
};

// Sends the queued commands to the exchange one at a time: the head is written, its reply
// runs until the prompt or until no reply line came for REPLY_WAIT_MS, then the head is
// dropped and the next one is written. Runs on the window thread; only appends come from
// other threads, and those go through the queue's lock and a posted WM_SENDCOMMAND.
// Each command's road (queued, sent, its reply lines, how it ended) and each refusal are
// reported to the operator's journal.
//
// While the line of an open port is lost and the port waits for it, nothing is written: the
// queue holds, and a web entry that has waited LINE_WAIT_MS for the line ends unsent, so
// that its user learns that the exchange cannot be reached.
class Dispatcher {
public:
    static constexpr int REPLY_WAIT_MS = 60000;
    static constexpr int LINE_WAIT_MS = 60000;
    // Steady milliseconds, for how long web entries have waited for a lost line.
    using Clock = std::function<std::int64_t()>;
    static std::int64_t steadyMs();

    // Refused: the command holds a byte that the line cannot carry (CommandText).
    enum class Append { Queued, QueueFull, Refused };

    Dispatcher(CommandQueue& queue, Vars& vars, PortWriter& port, Timer& replyWait,
               Poster<SendCommand>& poster, OperatorMessages& messages,
               Journal& journal = Journal::none());
    ~Dispatcher();
    Dispatcher(const Dispatcher&) = delete;
    Dispatcher& operator=(const Dispatcher&) = delete;

    // A command built by a button of the command pages or the toolbar: LastCommand takes its
    // first 35 characters, then, with a port open, its first 40 are queued. Refusals are
    // shown in the plain box. The journal records it as from a button.
    void QueueCommand(QByteArrayView text);
    // The command line's execute, after its own checks: queues the first 40 characters. The
    // journal records it as typed. The caller shows a refusal.
    Append appendConsole(QByteArrayView text);
    // A web user's command from the client at `address`; callable from any thread. The
    // request waits on `reply`.
    Append appendWeb(QByteArrayView text, QByteArrayView address,
                     std::shared_ptr<WebCommand> reply);

    // The handler of WM_SENDCOMMAND: an entry was appended, or the reply to the command
    // it names ended (by the prompt or, when the reply wait ran out, by silence). An end
    // that names a command no longer in progress is ignored.
    void WMSendCommand(SendCommand message);
    // The number of the command in progress; 0 when none is.
    std::uint64_t commandNumber() const { return m_commandInProgress == 1 ? m_number : 0; }
    // STOP went out: the journal records it, with the command in progress, if any.
    void recordStop(QByteArrayView device);
    // A port was opened: nothing is in progress, the queue is emptied and the web requests
    // whose entries are thrown away are released at once.
    void resetForOpen();
    // The port was closed or lost: the command in progress gets nothing more from the line.
    // The reply wait runs on as before; only the journal learns of it now.
    void portGone(CommandEnd end);
    // The line of the open port was lost: the command in progress ends at once, never to
    // be written again (its web user gets what came, and word of the loss), and the queue
    // holds until lineBack().
    void lineLost();
    void lineBack();
    bool lineIsDown() const { return m_lineDown; }
    // The timer and the clock that end web entries waiting for a lost line; without them
    // such entries wait until the line is back or the port is closed.
    void waitForLineWith(Timer& lineWait, Clock clock = steadyMs);

    // The web server was switched off: the web entries that are still waiting in the queue
    // are taken out and released (nobody waits for their replies any more); a web command
    // already on the line finishes there, but its record ends with the switch-off, since
    // its user gets no page.
    void discardWaitingWeb();

    bool commandInProgress() const { return m_commandInProgress == 1; }
    // 1 from the end of a web command's reply until it is cleared; the web window shows it.
    // Each web request takes its own reply from its queue entry, not through this flag.
    std::uint8_t WebReplyReady() const { return m_webReplyReady; }
    void clearWebReplyReady() { m_webReplyReady = 0; }
    bool webCommandAtHead() const;
    // Reply routing of the web command in progress (the capture of its own request).
    void captureLine(const ReplyLine& line);
    // Every routed line, to the console or a capture: the journal files it under the
    // command in progress, or under none.
    void recordLine(const ReplyLine& line);

private:
    Append append(QByteArrayView text, CommandSource source, QByteArrayView address,
                  std::shared_ptr<WebCommand> web);
    void endCommand(CommandEnd how);
    void release(const std::vector<QueueEntry>& discarded, CommandEnd end);
    void startHead();
    void startNext();
    void planLineWait();
    void endLineWaits();
    std::int64_t lineWaitSince(const QueueEntry& entry) const;
    void sendStep();
    void WriteCommand(QByteArrayView text);

    CommandQueue& m_queue;
    Vars& m_vars;
    PortWriter& m_port;
    Timer& m_replyWait;
    Poster<SendCommand>& m_poster;
    OperatorMessages& m_messages;
    Journal& m_journal;
    // Appends come from several threads: the room check, the journal's report and the
    // append go together, so that a refused command is never reported as queued.
    std::mutex m_appendMutex;
    std::uint8_t m_commandInProgress = 0; // CommandInProgress
    std::uint8_t m_webReplyReady = 0;     // WebReplyReady
    QueueEntry m_head;                    // the last head written: slot 0 while it is in progress
    std::uint64_t m_number = 0;           // the last head's number, counted from 1
    // The last command was given up for silence and no prompt has come since: its late
    // reply may still arrive, and the journal marks the next command written.
    bool m_afterGiveUp = false;
    bool m_lineDown = false;          // the open port waits for its lost line
    std::int64_t m_lineDownSince = 0; // when it was lost, on m_clock
    Timer* m_lineWait = nullptr;
    Clock m_clock = steadyMs;
};

extern const char* const PORT_NOT_OPEN_TEXT; // "Порт не открыт"
extern const char* const QUEUE_FULL_TEXT;
extern const char* const LINE_LOST_TEXT;
extern const char* const LINE_DOWN_TEXT;
// What a web user's page adds when the line was lost under the command, or never came back
// while it waited; nothing for other ends.
const char* lineNotice(WebCommand::Outcome outcome);
