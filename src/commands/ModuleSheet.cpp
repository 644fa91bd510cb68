#include "commands/ModuleSheet.h"

#include "commands/CommandBuilders.h"
#include "commands/PickLists.h"
#include "commands/TFormDel.h"
#include "dispatch/Dispatcher.h"
#include "shared/DesignScale.h"
#include "shared/Widgets.h"

#include <QComboBox>
#include <QPushButton>

ModuleSheet::ModuleSheet(Dispatcher& dispatcher, QWidget& commandLine, QWidget* parent)
    : QWidget(parent), m_dispatcher(dispatcher), m_commandLine(commandLine) {
    setObjectName(QStringLiteral("TabSheet2"));
    const DesignScale scale(*this);
    Mod1 = Widgets::editableCombo(this, "Mod1");
    Mod1->setToolTip(QStringLiteral("Первый модуль"));
    scale.place(Mod1, 12, 14, 80, 28);
    Mod2 = Widgets::editableCombo(this, "Mod2");
    Mod2->setToolTip(QStringLiteral("Последний модуль"));
    scale.place(Mod2, 104, 14, 80, 28);

    auto button = [&](QPushButton*& target, const char* name, const QString& caption, int left,
                      int top, void (ModuleSheet::*handler)()) {
        target = new QPushButton(this);
        Widgets::name(target, name, caption);
        target->setAutoDefault(false);
        scale.place(target, left, top, 100, 30);
        connect(target, &QPushButton::clicked, this, handler);
    };
    button(BitBtn3, "BitBtn3", QStringLiteral("FLM-DSP 16"), 200, 13, &ModuleSheet::BitBtn3Click);
    BitBtn3->setToolTip(QStringLiteral("Вывод сообщений об ошибках"));
    button(insrstm, "insrstm", QStringLiteral("INS-RST"), 12, 60, &ModuleSheet::insrstmClick);
    button(InsRldM, "InsRldM", QStringLiteral("INS-RLD"), 120, 60, &ModuleSheet::InsRldMClick);
    button(InsClbM, "InsClbM", QStringLiteral("INS-CLB"), 228, 60, &ModuleSheet::InsClbMClick);
    button(FlmDsp, "FlmDsp", QStringLiteral("FLM-DSP"), 12, 100, &ModuleSheet::FlmDspClick);
    button(FlmDsm, "FlmDsm", QStringLiteral("FLM-DSM"), 120, 100, &ModuleSheet::FlmDsmClick);

    connect(Mod1, &QComboBox::editTextChanged, this, &ModuleSheet::Mod1Change);
    Mod1Change();
}

void ModuleSheet::fillPickLists() {
    Widgets::setList(Mod1, PickLists::ModuleNumbers());
    Widgets::setList(Mod2, PickLists::ModuleNumbers());
}

// A new first module starts as a range of one module.
void ModuleSheet::Mod1Change() {
    const bool ready = ModuleRange::rangeButtonsEnabled(Mod1->currentText());
    for (QPushButton* button : {insrstm, InsRldM, InsClbM, FlmDsm, FlmDsp})
        button->setEnabled(ready);
    Mod2->setEditText(Mod1->currentText());
}

void ModuleSheet::BitBtn3Click() {
    m_dispatcher.QueueCommand(Commands::flmDspSixteen().view());
    m_commandLine.setFocus();
}

void ModuleSheet::rangeCommand(ModuleRange::RangeCommand command) {
    const auto click = ModuleRange::rangeClick(command, Mod1->currentText(), Mod2->currentText());
    if (Mod2->currentText() != click.last)
        Mod2->setEditText(click.last);
    // Without its question window a range that must be asked about is not sent.
    if (!click.question || (m_question && m_question->ask(*click.question)))
        m_dispatcher.QueueCommand(click.text.view());
    m_commandLine.setFocus();
}
