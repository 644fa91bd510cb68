#include "NumberPage.h"

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
    buttons.restr = complete;
    buttons.restw = canWriteRest(fields.number, fields.restValue);
    buttons.equpr = complete;
    buttons.equp1 = complete;
    buttons.equp0 = complete;
    buttons.ENRRPN = complete;
    buttons.INSRST = canRestartOneModule(fields.module);
    buttons.BitBtn5 = parameter;
    buttons.BitBtn2 = parameter;
    buttons.BitBtn8 = parameter;
    buttons.BitBtn6 = canWriteParameterValue(fields.number, fields.parameter, fields.value);
    return buttons;
}

} // namespace NumberPage
