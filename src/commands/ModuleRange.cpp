#include "commands/ModuleRange.h"

#include "commands/CommandBuilders.h"
#include "shared/Cp1251.h"

namespace {

constexpr int ERASE_WIDTH_OVER_ACTION = 32; // design pixels beyond Label2's width

std::optional<int> hexDigitValue(QChar c) {
    const char16_t code = c.unicode();
    if (code >= u'0' && code <= u'9')
        return code - u'0';
    if (code >= u'A' && code <= u'F')
        return code - u'A' + 10;
    if (code >= u'a' && code <= u'f')
        return code - u'a' + 10;
    return std::nullopt;
}

bool changesModules(ModuleRange::RangeCommand command) {
    using ModuleRange::RangeCommand;
    return command == RangeCommand::Restart || command == RangeCommand::Load ||
           command == RangeCommand::Erase;
}

ComposedText commandText(ModuleRange::RangeCommand command, const QString& first,
                         const QString& last) {
    using ModuleRange::RangeCommand;
    switch (command) {
    case RangeCommand::FlmDsp:
        return Commands::flmDsp(first, last);
    case RangeCommand::FlmDsm:
        return Commands::flmDsm(first, last);
    case RangeCommand::Restart:
        return Commands::restartModules(first, last);
    case RangeCommand::Load:
        return Commands::loadModules(first, last);
    case RangeCommand::Erase:
        return Commands::eraseModules(first, last);
    }
    return {};
}

// Label2's text and place for a command that changes modules.
ModuleRange::Question actionOf(ModuleRange::RangeCommand command) {
    using ModuleRange::RangeCommand;
    ModuleRange::Question question;
    switch (command) {
    case RangeCommand::Restart:
        question.action = QStringLiteral("Выполнить повторный запуск");
        question.actionLeft = 30;
        break;
    case RangeCommand::Load:
        question.action = QStringLiteral("Выполнить загрузку");
        question.actionLeft = 70;
        break;
    case RangeCommand::Erase:
        question.action = QStringLiteral("Стереть батарейное содержимое");
        question.actionLeft = 10;
        question.widthOverAction = ERASE_WIDTH_OVER_ACTION;
        break;
    case RangeCommand::FlmDsp:
    case RangeCommand::FlmDsm:
        break;
    }
    return question;
}

QString countText(std::optional<int> count) {
    const QString number = count ? QString::number(*count) : QStringLiteral("?");
    return number + QStringLiteral(" модулей?");
}

} // namespace

namespace ModuleRange {

bool rangeButtonsEnabled(const QString& first) {
    return !first.isEmpty();
}

std::optional<std::uint8_t> HexByteValue(const QString& text) {
    if (text.size() < 2)
        return std::nullopt;
    const auto high = hexDigitValue(text.at(0));
    const auto low = hexDigitValue(text.at(1));
    if (!high || !low)
        return std::nullopt;
    return static_cast<std::uint8_t>(16 * *high + *low);
}

QString lastAfterRangeRule(const QString& first, const QString& last) {
    // QByteArray compares its bytes as unsigned values, which is the code page's order.
    return Cp1251::fromUnicode(last) < Cp1251::fromUnicode(first) ? first : last;
}

// The span is counted modulo 256 as 1 to 256: "00" to "FF" is 256 modules, never 0, so
// that such a range is asked about like any other of two or more modules.
std::optional<int> moduleCount(const QString& first, const QString& last) {
    const auto firstValue = HexByteValue(first);
    const auto lastValue = HexByteValue(last);
    if (!firstValue || !lastValue)
        return std::nullopt;
    return static_cast<std::uint8_t>(*lastValue - *firstValue) + 1;
}

RangeClick rangeClick(RangeCommand command, const QString& first, const QString& last) {
    RangeClick click;
    click.last = lastAfterRangeRule(first, last);
    click.text = commandText(command, first, click.last);
    if (!changesModules(command))
        return click;
    const auto count = moduleCount(first, click.last);
    if (count == 1)
        return click;
    click.question = actionOf(command);
    click.question->count = countText(count);
    return click;
}

} // namespace ModuleRange
