#pragma once

#include "shared/Vars.h"

#include <QString>

#include <cstdint>
#include <optional>

// The "Модули" page: a first and a last module (Mod1, Mod2) and the five buttons that send
// one command over the range. Restart, load and erase ask through TFormDel before a range
// of more than one module is sent.
namespace ModuleRange {

enum class RangeCommand {
    FlmDsp,  // FlmDsp,  "FLM-DSP:"
    FlmDsm,  // FlmDsm,  "FLM-DSM:"
    Restart, // insrstm, "INS-RST:"
    Load,    // InsRldM, "INS-RLD:"
    Erase,   // InsClbM, "INS-CLB:"
};

// What TFormDel shows for one question; Label1 keeps its fixed text.
struct Question {
    QString action;     // Label2
    int actionLeft = 0; // Label2's left edge, design pixels
    // Erase only: the window becomes Label2's width plus this many design pixels.
    std::optional<int> widthOverAction;
    QString count; // Label3: "23 модулей?", or "? модулей?" when the count is unknown
};

// The outcome of a click on a range button.
struct RangeClick {
    QString last;                     // Mod2's text after the range rule; the field shows it too
    ComposedText text;                // the command for QueueCommand
    std::optional<Question> question; // empty: queue at once; otherwise only after "YES"
};

// The five range buttons are usable exactly when Mod1 is not empty.
bool rangeButtonsEnabled(const QString& first);

// The value of the first two characters as hexadecimal digits ("0".."9", "A".."F",
// "a".."f"); the rest is ignored. Empty when there are fewer than two characters or one of
// them is not such a digit.
std::optional<std::uint8_t> HexByteValue(const QString& text);

// The range rule: a last module that comes before the first one in the character order of
// code page 1251 (code by code from the left; a prefix comes first) is replaced by the
// first. An empty last module therefore always becomes the first.
QString lastAfterRangeRule(const QString& first, const QString& last);

// last − first, taken modulo 256, plus one: 1 to 256 modules. Empty when either field has
// no hexadecimal value.
std::optional<int> moduleCount(const QString& first, const QString& last);

// Applies the range rule and builds the command and, where it is due, the question. FLM-DSP
// and FLM-DSM never ask. Restart, load and erase go out at once only for exactly one
// module; they ask for 2 to 256 modules and whenever the count is unknown: a range typed
// in a form we cannot count is never changed without the operator's word.
RangeClick rangeClick(RangeCommand command, const QString& first, const QString& last);

} // namespace ModuleRange
