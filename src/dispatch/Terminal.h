#pragma once

#include "dispatch/CommandQueue.h"
#include "dispatch/Dispatcher.h"
#include "dispatch/Journal.h"
#include "link/LineRetry.h"
#include "link/PortControl.h"
#include "link/PortMessages.h"
#include "link/ReplyAssembler.h"
#include "link/SerialLink.h"
#include "shared/WindowMessages.h"

#include <QObject>

#include <memory>
#include <variant>

class ConsoleOutput;
class OperatorMessages;
class Timer;
struct Vars;

// The terminal without its windows: the line to the exchange, the reply assembler, the
// command queue and its dispatcher, joined on the window thread by its message queue, which
// carries what the port's reader and the appends of other threads post. The windows forward
// the operator's actions here and show what it reports; the console that shows the reply
// lines is attached by the window that holds it.
class Terminal final : public QObject,
                       public PortControl,
                       public ReplyTarget,
                       private PortMessages,
                       private Poster<SendCommand> {
    Q_OBJECT
public:
    static constexpr char STOP_BYTE = 0x01;

    // The terminal's timers: `replyWait` is TimerWaitEnd, `consoleTrim` TimerStr; `lineRetry`
    // paces the attempts to have a lost line again, `lineWait` ends the web entries that
    // waited for it too long.
    struct Timers {
        Timer& replyWait;
        Timer& consoleTrim;
        Timer& lineRetry;
        Timer& lineWait;
    };
    Terminal(Vars& vars, std::unique_ptr<SerialDevice> device, Timers timers,
             OperatorMessages& messages, Journal& journal = Journal::none(),
             std::unique_ptr<FolderWatch> folderWatch = systemFolderWatch(),
             QObject* parent = nullptr);
    ~Terminal() override;

    // Where the console's reply lines go from now on; none: they reach the journal alone.
    void setConsole(ConsoleOutput* console) { m_console = console; }

    // Opens "Com1" (1) or "Com2" (2); a failure shows "Can not open" + name. A terminal
    // server's port is open at once and connects on the reader's thread: should its first
    // connection fail, the same box tells it, with the server's own words, and the port
    // closes.
    bool OpenComPort(const QString& name, std::uint8_t number) override;
    // Stops the reader and closes the port, also one that waits for its line; the queue and
    // a pending line stay.
    void closePort() override { closeLine(PortEvent::Closed); }
    bool portIsOpen() const override { return m_link.isOpen(); }
    QString portName() const override { return m_link.name(); }
    QString portDevice() const override { return m_link.device(); }
    bool portIsRemote() const override { return m_link.isRemote(); }
    // The open port's line was lost and it waits for the line's return.
    bool lineWaiting() const override { return m_retry.isWaiting(); }
    std::optional<LineSettings> lineSettings() const override { return m_link.settings(); }
    bool applyLineSettings(const LineSettings& settings) override {
        return m_link.applySettings(settings);
    }
    // 1 = COM1 open, 2 = COM2 open, 0 = no port.
    std::uint8_t PortOpen() const { return m_link.PortOpen(); }
    // STOP: the single byte 0x01, outside the queue; the journal records it.
    void sendStop();
    std::optional<ModemLines> modemLines() const { return m_link.modemLines(); }

    Dispatcher& dispatcher() { return m_dispatcher; }
    CommandQueue& queue() { return m_queue; }
    SerialLink& link() { return m_link; }
    WindowMessagePump& windowMessages() { return m_windowMessages; }
    // What the port's reader tells, as it would post it.
    PortMessages& portMessages() { return *this; }

signals:
    void portOpened();
    void portClosed();   // by Close, by the main window closing, or a first connection failed
    void lineGone();     // the open port's line was lost: it waits for the line
    void lineReturned(); // the waiting port has its line again
    void ctsChanged();   // WM_POSTCTS
    void dsrChanged();   // WM_POSTDSR

private:
    using Message = std::variant<PortMessage, SendCommand>;

    void post(PortMessage message) override;
    void post(SendCommand message) override;
    void handle(Message& message);
    void handle(PortMessage& message);
    void TimerWaitEndTimer();
    // Closes the port by the operator's Close or because its first connection failed.
    void closeLine(PortEvent why);
    void lineUp();
    void lineLost(const std::string& reason);
    void tryLineAgain();
    QByteArray deviceName() const;

    // ReplyTarget
    bool commandInProgress() const override { return m_dispatcher.commandInProgress(); }
    bool webCommandAtHead() const override { return m_dispatcher.webCommandAtHead(); }
    void captureLine(const ReplyLine& line) override { m_dispatcher.captureLine(line); }
    void consoleLine(const ReplyLine& line) override;
    void restartReplyWait() override;
    void restartConsoleTrim() override;
    void replyEnded() override;

    Timer& m_replyWait;
    Timer& m_consoleTrim;
    ConsoleOutput* m_console = nullptr;
    OperatorMessages& m_messages;
    Journal& m_journal;
    WindowMessageQueue<Message> m_windowMessages;
    SerialLink m_link;
    CommandQueue m_queue;
    Dispatcher m_dispatcher;
    ReplyAssembler m_assembler;
    std::unique_ptr<FolderWatch> m_folderWatch;
    LineRetry m_retry;
    bool m_lineWasUp = false; // the open port's line has been there since it was opened
};
