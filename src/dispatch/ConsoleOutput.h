#pragma once

#include "shared/Vars.h"

// The operator's console as the reply path sees it.
class ConsoleOutput {
public:
    virtual ~ConsoleOutput() = default;
    // Appends one reply line, in the exchange's code page 1251, as the new last line; the
    // view follows it.
    virtual void appendLine(const ReplyLine& line) = 0;
    // TimerStr's tick: from 600 lines on, cut to the newest 500 and add one empty line.
    virtual void trim() = 0;
};
