#pragma once

#include <QString>
#include <QStringList>

// The rules of the "Номера" page that do not depend on its widgets: which buttons are
// usable for the texts of its fields.
namespace NumberPage {

constexpr qsizetype NUMBER_LENGTH = 4; // characters of a subscriber number

// The texts of the page's fields, exactly as they stand.
struct Fields {
    QString number;    // ComboBox2
    QString restValue; // ComboBox3
    QString module;    // ComboBox4
    QString parameter; // ComboBox5
    QString value;     // ComboBox6
};

// Which buttons are enabled. BitBtn10 ("DGN-GRD") is always enabled and is not listed.
struct Buttons {
    bool restr = false;
    bool restw = false;
    bool equpr = false;
    bool equp1 = false;
    bool equp0 = false;
    bool ENRRPN = false;
    bool INSRST = false;
    bool BitBtn5 = false;
    bool BitBtn2 = false;
    bool BitBtn8 = false;
    bool BitBtn6 = false;

    friend bool operator==(const Buttons&, const Buttons&) = default;
};

// The number field holds exactly four characters, whatever they are; the prefix does not count.
bool NumberComplete(const QString& number);
// restw.
bool canWriteRest(const QString& number, const QString& restValue);
// BitBtn5, BitBtn2, BitBtn8.
bool canUseParameter(const QString& number, const QString& parameter);
// BitBtn6.
bool canWriteParameterValue(const QString& number, const QString& parameter, const QString& value);
// INSRST: independent of the number.
bool canRestartOneModule(const QString& module);

Buttons enabledButtons(const Fields& fields);

} // namespace NumberPage
