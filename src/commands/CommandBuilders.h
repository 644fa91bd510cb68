#pragma once

#include "shared/Vars.h"

#include <QDateTime>
#include <QString>

// The exchange commands that the buttons of the main window build (22 forms). Each takes
// the texts of its fields exactly as they stand — nothing is trimmed, checked or changed in
// case — joins them with the fixed command words, and gives the command in code page 1251,
// cut to its first 50 characters, ready for Dispatcher::QueueCommand.
//
// Field names: prefix = Edit1, number = ComboBox2, module = ComboBox4, parameter = ComboBox5,
// first/last = Mod1/Mod2; value = ComboBox3 for writeRest and ComboBox6 for writeParameter.
namespace Commands {

// "Номера" page.
ComposedText readRest(const QString& prefix, const QString& number); // restr
ComposedText writeRest(const QString& prefix, const QString& number,
                       const QString& value);                             // restw
ComposedText readEqup(const QString& prefix, const QString& number);      // equpr
ComposedText writeEqupOne(const QString& prefix, const QString& number);  // equp1
ComposedText writeEqupZero(const QString& prefix, const QString& number); // equp0
ComposedText whichModule(const QString& prefix, const QString& number);   // ENRRPN
ComposedText restartOneModule(const QString& module);                     // INSRST
ComposedText readParameter(const QString& prefix, const QString& number,
                           const QString& parameter); // BitBtn5
ComposedText writeParameterOne(const QString& prefix, const QString& number,
                               const QString& parameter); // BitBtn2
ComposedText writeParameterZero(const QString& prefix, const QString& number,
                                const QString& parameter); // BitBtn8
ComposedText writeParameter(const QString& prefix, const QString& number, const QString& parameter,
                            const QString& value); // BitBtn6
ComposedText localBlockingAllModules();            // BitBtn10

// "Модули" page. The range commands take Mod2 after the range rule (ModuleRange.h).
ComposedText flmDspSixteen();                                           // BitBtn3
ComposedText flmDsp(const QString& first, const QString& last);         // FlmDsp
ComposedText flmDsm(const QString& first, const QString& last);         // FlmDsm
ComposedText restartModules(const QString& first, const QString& last); // insrstm
ComposedText loadModules(const QString& first, const QString& last);    // InsRldM
ComposedText eraseModules(const QString& first, const QString& last);   // InsClbM

// "Система" page and the toolbar.
ComposedText clockRead(); // BitBtn4
// BitBtn9: sets the exchange clock from one reading of the computer's local clock.
ComposedText clockWrite(const QDateTime& reading);
ComposedText corMta(); // SpeedButton6
ComposedText corMtw(); // SpeedButton4

} // namespace Commands
