#pragma once

#include <QString>
#include <QStringList>

// The constant pick lists of the command pages. Every list holds each of its values once,
// in the order the operator sees them; none of them changes while the program runs.
namespace PickLists {

// Values for REST (ComboBox3), and the value list of ORTN and REST: 0..1F in hexadecimal.
const QStringList& RestValues();
// Modules for the single restart of the "Номера" page (ComboBox4): 04..0F.
const QStringList& NumberPageModules();
// The 36 subscriber parameter codes (ComboBox5).
const QStringList& SubscriberParameters();
// First and last module of the "Модули" page (Mod1, Mod2): the modules 00..16, i.e. 0 to 22.
const QStringList& ModuleNumbers();

// The values that ComboBox6 offers for a parameter code. Only a text that is exactly one of
// SubscriberParameters has values; any other text (another case, a blank too many) has none.
QStringList parameterValues(const QString& code);

} // namespace PickLists
