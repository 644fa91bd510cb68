#pragma once

#include "shared/Vars.h"

#include <QByteArrayView>

#include <cstdint>

// Where finished reply lines go and what the assembler needs to know to route them.
class ReplyTarget {
public:
    virtual ~ReplyTarget() = default;
    // CommandInProgress is 1.
    virtual bool commandInProgress() const = 0;
    // The command at the head of the queue came from a web user.
    virtual bool webCommandAtHead() const = 0;
    // A line of the reply to the web command in progress.
    virtual void captureLine(const ReplyLine& line) = 0;
    // A line for the operator's console.
    virtual void consoleLine(const ReplyLine& line) = 0;
    virtual void restartReplyWait() = 0;   // TimerWaitEnd
    virtual void restartConsoleTrim() = 0; // TimerStr
    // The prompt arrived: the reply to the command in progress is finished.
    virtual void replyEnded() = 0;
};

// Turns the bytes from the exchange into reply lines of at most 80 characters:
//   0            ignored
//   1..31        ends a pending line (CR, LF, TAB...); ignored on an empty line
//   32 (space)   appended, except at the start of a line
//   60 ("<")     appended; ends the line and the reply
//   others       appended
// A full line drops further bytes until a control byte or the prompt ends it.
class ReplyAssembler {
public:
    static constexpr std::uint8_t PROMPT = '<';

    explicit ReplyAssembler(ReplyTarget& target) : m_target(target) {}

    void addBytes(QByteArrayView bytes) {
        for (const char byte : bytes)
            AddChar(static_cast<std::uint8_t>(byte));
    }
    void AddChar(std::uint8_t byte);
    // Finishes the pending line (even an empty one) and routes it.
    void EndStr();
    // A port was opened: no line is pending.
    void reset() { m_line.clear(); }
    const ReplyLine& pendingLine() const { return m_line; }

private:
    ReplyTarget& m_target;
    ReplyLine m_line; // LineBuffer
};
