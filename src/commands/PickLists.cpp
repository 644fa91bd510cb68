#include "commands/PickLists.h"

#include <algorithm>
#include <array>

namespace {

// Which value list a subscriber parameter offers.
enum class Values { ZeroOne, Icec, Linc, Rest, Tcat };

struct Parameter {
    const char* code;
    Values values;
};

constexpr std::array<Parameter, 36> PARAMETERS = {{
    {"ABDL", Values::ZeroOne}, {"ACCB", Values::ZeroOne}, {"ALOW", Values::ZeroOne},
    {"AONA", Values::ZeroOne}, {"BCTR", Values::ZeroOne}, {"BUCA", Values::ZeroOne},
    {"CALT", Values::ZeroOne}, {"CLWT", Values::ZeroOne}, {"CUGP", Values::ZeroOne},
    {"DHLN", Values::ZeroOne}, {"DOST", Values::ZeroOne}, {"EQUP", Values::ZeroOne},
    {"HINT", Values::ZeroOne}, {"HOLN", Values::ZeroOne}, {"ICEC", Values::Icec},
    {"ICTC", Values::ZeroOne}, {"INCA", Values::ZeroOne}, {"KHPC", Values::ZeroOne},
    {"LINC", Values::Linc},    {"MACT", Values::ZeroOne}, {"MNTL", Values::ZeroOne},
    {"OOBS", Values::ZeroOne}, {"ORES", Values::ZeroOne}, {"ORIG", Values::ZeroOne},
    {"ORTN", Values::Rest},    {"OVRP", Values::ZeroOne}, {"PRLN", Values::ZeroOne},
    {"PUBL", Values::ZeroOne}, {"PUBS", Values::ZeroOne}, {"REST", Values::Rest},
    {"SEQH", Values::ZeroOne}, {"TAXF", Values::ZeroOne}, {"TCAT", Values::Tcat},
    {"TCBD", Values::ZeroOne}, {"TOBS", Values::ZeroOne}, {"WKUP", Values::ZeroOne},
}};

// "1" .. "12", decimal without leading zeros.
QStringList tariffCategories() {
    QStringList list;
    for (int category = 1; category <= 12; ++category)
        list << QString::number(category);
    return list;
}

QStringList valuesOf(Values values) {
    switch (values) {
    case Values::ZeroOne:
        return {QStringLiteral("0"), QStringLiteral("1")};
    case Values::Icec:
        return {QStringLiteral("0"), QStringLiteral("2"), QStringLiteral("8"), QStringLiteral("9")};
    case Values::Linc:
        return {QStringLiteral("1"), QStringLiteral("7")};
    case Values::Rest:
        return PickLists::RestValues();
    case Values::Tcat:
        return tariffCategories();
    }
    return {};
}

} // namespace

namespace PickLists {

const QStringList& RestValues() {
    static const QStringList list = {
        "0",  "1",  "2",  "3",  "4",  "5",  "6",  "7",  "8",  "9",  "A",
        "B",  "C",  "D",  "E",  "F",  "10", "11", "12", "13", "14", "15",
        "16", "17", "18", "19", "1A", "1B", "1C", "1D", "1E", "1F",
    };
    return list;
}

const QStringList& NumberPageModules() {
    static const QStringList list = {
        "04", "05", "06", "07", "08", "09", "0A", "0B", "0C", "0D", "0E", "0F",
    };
    return list;
}

const QStringList& SubscriberParameters() {
    static const QStringList list = [] {
        QStringList codes;
        for (const Parameter& parameter : PARAMETERS)
            codes << QString::fromLatin1(parameter.code);
        return codes;
    }();
    return list;
}

const QStringList& ModuleNumbers() {
    static const QStringList list = {
        "00", "01", "02", "03", "04", "05", "06", "07", "08", "09", "0A", "0B",
        "0C", "0D", "0E", "0F", "10", "11", "12", "13", "14", "15", "16",
    };
    return list;
}

QStringList parameterValues(const QString& code) {
    const auto found = std::find_if(PARAMETERS.begin(), PARAMETERS.end(), [&](const Parameter& p) {
        return code == QLatin1String(p.code);
    });
    return found == PARAMETERS.end() ? QStringList() : valuesOf(found->values);
}

} // namespace PickLists
