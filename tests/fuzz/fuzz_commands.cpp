// The command builders of the three pages and the module range rule, fed arbitrary field
// texts. Every command must be its full text cut to 50 characters, and go out on the line
// cut to 40; every module count is 1 to 256 or unknown, and then the operator is asked.
#include "Fakes.h"
#include "FuzzSupport.h"
#include "commands/CommandBuilders.h"
#include "commands/ModuleRange.h"
#include "dispatch/CommandQueue.h"
#include "dispatch/CommandText.h"
#include "dispatch/Dispatcher.h"
#include "shared/Cp1251.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace {

constexpr std::size_t FIELD_LENGTH = 60; // past the 50-character cap on its own
constexpr qsizetype QUEUED_CAPACITY = 40;
constexpr qsizetype LAST_COMMAND_CAPACITY = 35;

struct Fields {
    QString prefix, number, parameter, value, module, first, last;
};

// A command's full text: each {name} in the pattern stands for that field's text as it is.
QString expand(QStringView pattern, const Fields& fields) {
    const auto field = [&](QStringView name) -> const QString& {
        if (name == u"prefix")
            return fields.prefix;
        if (name == u"number")
            return fields.number;
        if (name == u"parameter")
            return fields.parameter;
        if (name == u"value")
            return fields.value;
        if (name == u"module")
            return fields.module;
        return name == u"first" ? fields.first : fields.last;
    };
    QString text;
    while (!pattern.isEmpty()) {
        const qsizetype open = pattern.indexOf(u'{');
        if (open < 0)
            break;
        const qsizetype close = pattern.indexOf(u'}', open);
        text += pattern.first(open);
        text += field(pattern.sliced(open + 1, close - open - 1));
        pattern = pattern.sliced(close + 1);
    }
    return text + pattern.toString();
}

struct Form {
    const char16_t* pattern;
    ComposedText (*build)(const Fields&);
};

const Form FORMS[] = {
    {u"SSD-RSP:{prefix}{number},REST",
     [](const Fields& f) { return Commands::readRest(f.prefix, f.number); }},
    {u"SSD-WSP:{prefix}{number},REST,{value}",
     [](const Fields& f) { return Commands::writeRest(f.prefix, f.number, f.value); }},
    {u"SSD-RSP:{prefix}{number},EQUP",
     [](const Fields& f) { return Commands::readEqup(f.prefix, f.number); }},
    {u"SSD-WSP:{prefix}{number},EQUP,1",
     [](const Fields& f) { return Commands::writeEqupOne(f.prefix, f.number); }},
    {u"SSD-WSP:{prefix}{number},EQUP,0",
     [](const Fields& f) { return Commands::writeEqupZero(f.prefix, f.number); }},
    {u"ENR-RPN:{prefix}{number}",
     [](const Fields& f) { return Commands::whichModule(f.prefix, f.number); }},
    {u"INS-RST:{module},{module}",
     [](const Fields& f) { return Commands::restartOneModule(f.module); }},
    {u"SSD-RSP:{prefix}{number},{parameter}",
     [](const Fields& f) { return Commands::readParameter(f.prefix, f.number, f.parameter); }},
    {u"SSD-WSP:{prefix}{number},{parameter},1",
     [](const Fields& f) { return Commands::writeParameterOne(f.prefix, f.number, f.parameter); }},
    {u"SSD-WSP:{prefix}{number},{parameter},0",
     [](const Fields& f) { return Commands::writeParameterZero(f.prefix, f.number, f.parameter); }},
    {u"SSD-WSP:{prefix}{number},{parameter},{value}",
     [](const Fields& f) {
         return Commands::writeParameter(f.prefix, f.number, f.parameter, f.value);
     }},
};

struct RangeForm {
    ModuleRange::RangeCommand command;
    Form form;
    bool changesModules; // restart, load and erase ask before more than one module
};

using ModuleRange::RangeCommand;
const RangeForm RANGE_FORMS[] = {
    {RangeCommand::FlmDsp,
     {u"FLM-DSP:{first},{last}", [](const Fields& f) { return Commands::flmDsp(f.first, f.last); }},
     false},
    {RangeCommand::FlmDsm,
     {u"FLM-DSM:{first},{last}", [](const Fields& f) { return Commands::flmDsm(f.first, f.last); }},
     false},
    {RangeCommand::Restart,
     {u"INS-RST:{first},{last}",
      [](const Fields& f) { return Commands::restartModules(f.first, f.last); }},
     true},
    {RangeCommand::Load,
     {u"INS-RLD:{first},{last}",
      [](const Fields& f) { return Commands::loadModules(f.first, f.last); }},
     true},
    {RangeCommand::Erase,
     {u"INS-CLB:{first},{last}",
      [](const Fields& f) { return Commands::eraseModules(f.first, f.last); }},
     true},
};

// A dispatcher with an open port whose writes are recorded.
struct QueueRig {
    CommandQueue queue;
    Vars vars;
    RecordingPort port;
    FakeTimer replyWait;
    HeldMessages<SendCommand> poster;
    RecordingMessages messages;
    Dispatcher dispatcher{queue, vars, port, replyWait, poster, messages};

    QueueRig() { port.open = 1; }

    // What goes out on the line for a page button's command; nothing when it is refused
    // for a byte that the line cannot carry.
    std::optional<QByteArray> send(const ComposedText& command) {
        dispatcher.QueueCommand(command.view());
        dispatcher.WMSendCommand(SendCommand::queued()); // the queued command is written
        dispatcher.WMSendCommand(                        // and its reply ends
            SendCommand::ended(dispatcher.commandNumber(), CommandEnd::Prompt));
        poster.take();
        const bool refused =
            CommandText::unsafeByte(command.bytes().left(QUEUED_CAPACITY)).has_value();
        mustHold(messages.shown.size() == (refused ? 1 : 0),
                 "only a command the line cannot carry is refused with the port open");
        messages.shown.clear();
        if (refused) {
            mustHold(port.writes.isEmpty(), "a refused command is never written");
            return std::nullopt;
        }
        mustHold(port.writes.size() == 1, "a queued command is written once");
        return port.writes.takeFirst();
    }
};

// A built command is its full text cut to 50 characters, one byte each; on the line its
// first 40 bytes go out, ended by CR, and LastCommand keeps its first 35.
void checkCommand(const ComposedText& command, const QString& full, QueueRig& rig) {
    mustHold(command.size() <= ComposedText::capacity(), "a built command has 50 bytes at most");
    mustHold(command.bytes() == Cp1251::fromUnicode(full).left(ComposedText::capacity()),
             "a built command is the first 50 characters of its text");
    const std::optional<QByteArray> written = rig.send(command);
    mustHold(!written || written->size() <= QUEUED_CAPACITY + 1,
             "a queued command has 40 bytes at most");
    mustHold(!written || *written == command.bytes().left(QUEUED_CAPACITY) + '\r',
             "the first 40 bytes of a command go out, then CR");
    mustHold(rig.vars.LastCommand.bytes() == command.bytes().left(LAST_COMMAND_CAPACITY),
             "LastCommand keeps the first 35 bytes");
}

// The value of two leading hexadecimal digits, read by the standard library.
std::optional<int> leadingHexByte(const QString& text) {
    if (text.size() < 2 || text.at(0).unicode() > 127 || text.at(1).unicode() > 127)
        return std::nullopt;
    const std::string digits = text.first(2).toStdString();
    unsigned value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + 2, value, 16);
    if (error != std::errc() || end != digits.data() + 2)
        return std::nullopt;
    return int(value);
}

// Code page 1251's order: byte by byte as unsigned values, a prefix first.
bool comesBefore(const QString& a, const QString& b) {
    const QByteArray x = Cp1251::fromUnicode(a);
    const QByteArray y = Cp1251::fromUnicode(b);
    return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end(), [](char p, char q) {
        return std::uint8_t(p) < std::uint8_t(q);
    });
}

void checkRange(const RangeForm& range, const Fields& fields, QueueRig& rig) {
    const auto click = ModuleRange::rangeClick(range.command, fields.first, fields.last);
    const bool before = comesBefore(fields.last, fields.first);
    mustHold(click.last == (before ? fields.first : fields.last),
             "a last module that comes before the first becomes the first");
    Fields sent = fields;
    sent.last = click.last;
    checkCommand(click.text, expand(range.form.pattern, sent), rig);

    const auto first = leadingHexByte(fields.first);
    const auto last = leadingHexByte(click.last);
    const std::optional<int> count =
        first && last ? std::optional<int>((*last - *first + 256) % 256 + 1) : std::nullopt;
    const auto answer = ModuleRange::moduleCount(fields.first, click.last);
    mustHold(!answer || (*answer >= 1 && *answer <= 256), "a module count is 1 to 256");
    mustHold(answer == count, "the module count is the span of the two hexadecimal values");
    const bool asks = range.changesModules && count != 1;
    mustHold(click.question.has_value() == asks,
             "a restart, load or erase of anything but one module is asked about");
    if (asks)
        mustHold(click.question->count == (count ? QString::number(*count) : QStringLiteral("?")) +
                                              QStringLiteral(" модулей?"),
                 "the question names the count, or '?' when it is unknown");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    Fields fields;
    for (QString* field : {&fields.prefix, &fields.number, &fields.parameter, &fields.value,
                           &fields.module, &fields.first, &fields.last})
        *field = consumeText(input, FIELD_LENGTH);
    for (const QString* field : {&fields.first, &fields.last})
        mustHold(ModuleRange::HexByteValue(*field) == leadingHexByte(*field),
                 "a module's value is its two leading hexadecimal digits");

    QueueRig rig;
    for (const Form& form : FORMS)
        checkCommand(form.build(fields), expand(form.pattern, fields), rig);
    for (const RangeForm& range : RANGE_FORMS) {
        checkCommand(range.form.build(fields), expand(range.form.pattern, fields), rig);
        checkRange(range, fields, rig);
    }
    return 0;
}
