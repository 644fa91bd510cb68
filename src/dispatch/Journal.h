#pragma once

#include "dispatch/CommandQueue.h"

#include <QByteArrayView>

#include <cstdint>

// How a command's record in the operator's journal ended. The first end reported counts;
// a later one (the reply wait running out after the port was closed) changes nothing.
enum class CommandEnd : std::uint8_t {
    Prompt = 1,       // the exchange's prompt ended the reply
    Silence = 2,      // no reply line came for the whole reply wait
    Reopened = 3,     // a port was opened: its queue entry was thrown away
    SwitchedOff = 4,  // the web server was switched off: the web entry was released
    PortClosed = 5,   // the port was closed while its reply was awaited
    PortLost = 6,     // the line was lost while its reply was awaited: its outcome is unknown
    NotSent = 7,      // its turn came with no port open: the write went nowhere
    ProgramEnded = 8, // the program ended before anything else ended it
    LineDown = 9,     // a web entry waited for a lost line until its user was told; never sent
};

// Why a command never reached the line.
enum class Refusal : std::uint8_t {
    QueueFull = 1,
    PortNotOpen = 2,  // a console command with no port open
    NotPermitted = 3, // a web command whose head is not permitted
    CrossSite = 4,    // a web request that another site's page made
    Host = 5,         // a web request whose Host names no name of this computer
    ShareFull = 6,    // one web user's share of the queue is full
    Character = 7,    // the command holds a byte that the line cannot carry ("<", control, DEL)
    PlacesFull = 8,   // a web request from a new address while every place is taken
};

enum class WebEvent : std::uint8_t {
    Admitted = 1,      // an address took a free place
    LoggedIn = 2,      // a password was accepted (or none is needed)
    WrongPassword = 3, // a password was refused; the text is never recorded
    SlotExpired = 4,   // a place was freed because its user fell silent
    ServerOn = 5,
    ServerOff = 6,
};

enum class PortEvent : std::uint8_t {
    Opened = 1,
    Closed = 2,
    Lost = 3,
    Stop = 4,     // STOP (0x01) went out: the exchange was asked to stop its output
    Returned = 5, // the line of a port that waited for it is back
};

// Where a command came from, as the journal records it. The queue knows the console and the
// web only; the journal also tells a typed command from one that a button built.
enum class CommandSource : std::uint8_t {
    Typed = 0,  // typed on the console's command line
    Web = 1,    // a web user's, from the client's address
    Button = 2, // built by a button of the command pages or the toolbar
};

// The operator's journal as the subsystems report to it. Every report returns at once,
// from any thread: the journal stamps it with the time and writes it later on a thread of
// its own. Texts are in code page 1251, as they cross the line.
class Journal {
public:
    using Record = std::uint64_t; // a command's record; 0 = none

    virtual ~Journal() = default;

    // A command was queued; the record names it in the reports that follow.
    virtual Record commandQueued(CommandSource source, QByteArrayView address,
                                 QByteArrayView text) = 0;
    // Its text went to the port. `afterGiveUp`: the command before it was given up for
    // silence, so the late end of that reply may arrive as this command's reply.
    virtual void commandSent(Record command, bool afterGiveUp) = 0;
    virtual void commandEnded(Record command, CommandEnd end) = 0;
    // A reply line as the console or a web user's capture got it; command 0 when it
    // answers no command (alarms, reports).
    virtual void replyLine(Record command, QByteArrayView line) = 0;
    virtual void commandRefused(Refusal why, CommandSource source, QByteArrayView address,
                                QByteArrayView text) = 0;
    // A web request refused before it took a place (another site's, a foreign Host, every
    // place taken): anyone can send those without end, so the journal may sum them per
    // address and reason instead of recording each.
    virtual void requestRefused(Refusal why, QByteArrayView address, QByteArrayView text) {
        commandRefused(why, CommandSource::Web, address, text);
    }
    // A web event names the client's address and nothing else: no password reaches the
    // journal.
    virtual void webEvent(WebEvent event, QByteArrayView address) = 0;
    // `device` names the port and its device ("Com1 /dev/ttyUSB0").
    virtual void portEvent(PortEvent event, QByteArrayView device) = 0;
    // STOP went out on `device` while `command` was in progress (0: none was).
    virtual void stopSent(Record command, QByteArrayView device) = 0;

    // The reports that one thread makes between a burst's beginning and its end, the
    // terminal's for the bytes of one read of the port, may be stamped with the time of the
    // beginning and queued together at the end: a flood then costs the journal one clock
    // reading and one lock a read instead of a line. beginBurst() is false when no burst
    // began (one is under way already); only a burst that began is ended.
    virtual bool beginBurst() { return false; }
    virtual void endBurst() {}
    class Burst {
    public:
        explicit Burst(Journal& journal) : m_journal(journal), m_began(journal.beginBurst()) {}
        ~Burst() {
            if (m_began)
                m_journal.endBurst();
        }
        Burst(const Burst&) = delete;
        Burst& operator=(const Burst&) = delete;

    private:
        Journal& m_journal;
        const bool m_began;
    };

    // A journal that records nothing, for a terminal built without one.
    static Journal& none();
};

class NoJournal final : public Journal {
public:
    Record commandQueued(CommandSource, QByteArrayView, QByteArrayView) override { return 0; }
    void commandSent(Record, bool) override {}
    void commandEnded(Record, CommandEnd) override {}
    void replyLine(Record, QByteArrayView) override {}
    void commandRefused(Refusal, CommandSource, QByteArrayView, QByteArrayView) override {}
    void webEvent(WebEvent, QByteArrayView) override {}
    void portEvent(PortEvent, QByteArrayView) override {}
    void stopSent(Record, QByteArrayView) override {}
};

inline Journal& Journal::none() {
    static NoJournal journal;
    return journal;
}
