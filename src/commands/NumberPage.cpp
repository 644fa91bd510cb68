#include "commands/NumberPage.h"

namespace NumberPage {

bool NumberComplete(const QString& number) {
    return number.size() == NUMBER_LENGTH;
}

bool canWriteRest(const QString& number, const QString& restValue) {
    return NumberComplete(number) && !restValue.isEmpty();
}

bool canUseParameter(const QString& number, const QString& parameter) {
    return NumberComplete(number) && !parameter.isEmpty();
}

bool canWriteParameterValue(const QString& number, const QString& parameter, const QString& value) {
    return canUseParameter(number, parameter) && !value.isEmpty();
}

bool canRestartOneModule(const QString& module) {
    return !module.isEmpty();
}

Buttons enabledButtons(const Fields& fields) {
    const bool complete = NumberComplete(fields.number);
    const bool parameter = canUseParameter(fields.number, fields.parameter);
    Buttons buttons;
    buttons.readRest = complete;
    buttons.writeRest = canWriteRest(fields.number, fields.restValue);
    buttons.readEqup = complete;
    buttons.writeEqupOne = complete;
    buttons.writeEqupZero = complete;
    buttons.whichModule = complete;
    buttons.restartModule = canRestartOneModule(fields.module);
    buttons.readParameter = parameter;
    buttons.writeParameterOne = parameter;
    buttons.writeParameterZero = parameter;
    buttons.writeParameter = canWriteParameterValue(fields.number, fields.parameter, fields.value);
    return buttons;
}

} // namespace NumberPage
