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

// Which of the page's commands can be built from the fields (the buttons restr, restw, equpr,
// equp1, equp0, ENRRPN, INSRST, BitBtn5, BitBtn2, BitBtn8 and BitBtn6, in this order).
// BitBtn10 ("DGN-GRD") needs no field and is not listed.
struct Buttons {
    bool readRest = false;
    bool writeRest = false;
    bool readEqup = false;
    bool writeEqupOne = false;
    bool writeEqupZero = false;
    bool whichModule = false;
    bool restartModule = false;
    bool readParameter = false;
    bool writeParameterOne = false;
    bool writeParameterZero = false;
    bool writeParameter = false;

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
