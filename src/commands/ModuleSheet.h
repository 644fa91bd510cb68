#pragma once

#include "commands/ModuleRange.h"

#include <QWidget>

class Dispatcher;
class QComboBox;
class QPushButton;
class TFormDel;

// The page "Модули" (TabSheet2): commands over a range of modules, Mod1 to Mod2. A restart,
// load or erase of more than one module is sent only after the operator's "YES".
class ModuleSheet final : public QWidget {
    Q_OBJECT
public:
    ModuleSheet(Dispatcher& dispatcher, QWidget& commandLine, QWidget* parent = nullptr);
    // The confirmation window, created after the main window.
    void setQuestion(TFormDel* question) { m_question = question; }

    void fillPickLists();

    QComboBox* Mod1 = nullptr;
    QComboBox* Mod2 = nullptr;
    QPushButton* BitBtn3 = nullptr; // FLM-DSP 16
    QPushButton* insrstm = nullptr;
    QPushButton* InsRldM = nullptr;
    QPushButton* InsClbM = nullptr;
    QPushButton* FlmDsp = nullptr;
    QPushButton* FlmDsm = nullptr;

    void Mod1Change();
    void BitBtn3Click();
    void FlmDspClick() { rangeCommand(ModuleRange::RangeCommand::FlmDsp); }
    void FlmDsmClick() { rangeCommand(ModuleRange::RangeCommand::FlmDsm); }
    void insrstmClick() { rangeCommand(ModuleRange::RangeCommand::Restart); }
    void InsRldMClick() { rangeCommand(ModuleRange::RangeCommand::Load); }
    void InsClbMClick() { rangeCommand(ModuleRange::RangeCommand::Erase); }

private:
    void rangeCommand(ModuleRange::RangeCommand command);

    Dispatcher& m_dispatcher;
    TFormDel* m_question = nullptr;
    QWidget& m_commandLine;
};
