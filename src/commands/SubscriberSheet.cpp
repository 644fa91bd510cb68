#include "commands/SubscriberSheet.h"

#include "commands/CommandBuilders.h"
#include "commands/NumberPage.h"
#include "commands/PickLists.h"
#include "dispatch/Dispatcher.h"
#include "shared/DesignScale.h"
#include "shared/History.h"
#include "shared/Widgets.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

namespace {

// Capitals as they are typed, for the REST value.
class UpperCase final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input = input.toUpper();
        return Acceptable;
    }
};

} // namespace

SubscriberSheet::SubscriberSheet(Dispatcher& dispatcher, QLineEdit& prefix, QWidget& commandLine,
                                 QWidget* parent)
    : QWidget(parent), m_dispatcher(dispatcher), m_prefix(prefix), m_commandLine(commandLine) {
    setObjectName(QStringLiteral("TabSheet1"));
    buildControls();
    applyEnablingRules();
}

void SubscriberSheet::buildControls() {
    const DesignScale scale(*this);
    auto button = [&](QPushButton*& target, const char* name, const QString& caption,
                      const QString& hint, int left, int top, int width) {
        target = new QPushButton(this);
        Widgets::name(target, name, caption, hint);
        target->setAutoDefault(false);
        scale.place(target, left, top, width, 30);
    };
    auto combo = [&](QComboBox*& target, const char* name, int left, int top, int width) {
        target = Widgets::editableCombo(this, name);
        scale.place(target, left, top, width, 28);
    };

    combo(ComboBox2, "ComboBox2", 12, 14, 110);
    ComboBox2->lineEdit()->setMaxLength(NumberPage::NUMBER_LENGTH);
    ComboBox2->setToolTip(QStringLiteral("Номер абонента"));

    button(restr, "restr", QStringLiteral("REST"),
           QStringLiteral("Запрет исходящих вызовов - Читать "), 12, 56, 90);
    button(restw, "restw", QStringLiteral("REST"),
           QStringLiteral("Запрет исходящих вызовов - Писать "), 110, 56, 90);
    combo(ComboBox3, "ComboBox3", 208, 57, 80);
    ComboBox3->setValidator(new UpperCase(ComboBox3));

    button(equpr, "equpr", QStringLiteral("EQUP"), {}, 12, 96, 90);
    button(equp1, "equp1", QStringLiteral("EQUP   1"), {}, 110, 96, 90);
    button(equp0, "equp0", QStringLiteral("EQUP   0"), {}, 208, 96, 90);

    button(ENRRPN, "ENRRPN", QStringLiteral("МОДУЛЬ"),
           QStringLiteral("В каком модуле находится номер"), 12, 136, 90);
    button(INSRST, "INSRST", QStringLiteral("INS-RST"), {}, 110, 136, 90);
    combo(ComboBox4, "ComboBox4", 208, 137, 80);

    combo(ComboBox5, "ComboBox5", 12, 186, 90);
    button(BitBtn5, "BitBtn5", {}, QStringLiteral("Читать параметр"), 110, 185, 40);
    BitBtn5->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    button(BitBtn2, "BitBtn2", QStringLiteral("1"), {}, 156, 185, 40);
    button(BitBtn8, "BitBtn8", QStringLiteral("0"), {}, 202, 185, 40);
    button(BitBtn6, "BitBtn6", {}, QStringLiteral("Записать значение"), 248, 185, 40);
    BitBtn6->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    combo(ComboBox6, "ComboBox6", 294, 186, 80);

    button(BitBtn10, "BitBtn10", QStringLiteral("DGN-GRD"),
           QStringLiteral("абоненты в локальной блокировке во всех модулях ASM"), 12, 236, 120);

    connect(ComboBox2, &QComboBox::editTextChanged, this, &SubscriberSheet::ComboBox2Change);
    connect(ComboBox3, &QComboBox::editTextChanged, this, &SubscriberSheet::ComboBox3Change);
    connect(ComboBox4, &QComboBox::editTextChanged, this, &SubscriberSheet::ComboBox4Change);
    connect(ComboBox5, &QComboBox::editTextChanged, this, &SubscriberSheet::ComboBox5Change);
    connect(ComboBox6, &QComboBox::editTextChanged, this, &SubscriberSheet::ComboBox6Change);
    connect(restr, &QPushButton::clicked, this, &SubscriberSheet::restrClick);
    connect(restw, &QPushButton::clicked, this, &SubscriberSheet::restwClick);
    connect(equpr, &QPushButton::clicked, this, &SubscriberSheet::equprClick);
    connect(equp1, &QPushButton::clicked, this, &SubscriberSheet::equp1Click);
    connect(equp0, &QPushButton::clicked, this, &SubscriberSheet::equp0Click);
    connect(ENRRPN, &QPushButton::clicked, this, &SubscriberSheet::ENRRPNClick);
    connect(INSRST, &QPushButton::clicked, this, &SubscriberSheet::INSRSTClick);
    connect(BitBtn5, &QPushButton::clicked, this, &SubscriberSheet::BitBtn5Click);
    connect(BitBtn2, &QPushButton::clicked, this, &SubscriberSheet::BitBtn2Click);
    connect(BitBtn8, &QPushButton::clicked, this, &SubscriberSheet::BitBtn8Click);
    connect(BitBtn6, &QPushButton::clicked, this, &SubscriberSheet::BitBtn6Click);
    connect(BitBtn10, &QPushButton::clicked, this, &SubscriberSheet::BitBtn10Click);
}

void SubscriberSheet::fillPickLists() {
    Widgets::setList(ComboBox3, PickLists::RestValues());
    Widgets::setList(ComboBox4, PickLists::NumberPageModules());
}

void SubscriberSheet::fillParameterList() {
    Widgets::setList(ComboBox5, PickLists::SubscriberParameters());
}

// Each change handler of the page applies the rules of the buttons that depend on its
// field; every rule is a function of the current field texts, so applying all of them is
// the same and keeps one place for them.
void SubscriberSheet::applyEnablingRules() {
    const auto enabled = NumberPage::enabledButtons(
        {ComboBox2->currentText(), ComboBox3->currentText(), ComboBox4->currentText(),
         ComboBox5->currentText(), ComboBox6->currentText()});
    restr->setEnabled(enabled.readRest);
    restw->setEnabled(enabled.writeRest);
    equpr->setEnabled(enabled.readEqup);
    equp1->setEnabled(enabled.writeEqupOne);
    equp0->setEnabled(enabled.writeEqupZero);
    ENRRPN->setEnabled(enabled.whichModule);
    INSRST->setEnabled(enabled.restartModule);
    BitBtn5->setEnabled(enabled.readParameter);
    BitBtn2->setEnabled(enabled.writeParameterOne);
    BitBtn8->setEnabled(enabled.writeParameterZero);
    BitBtn6->setEnabled(enabled.writeParameter);
}

void SubscriberSheet::ComboBox2Change() {
    applyEnablingRules();
}
void SubscriberSheet::ComboBox3Change() {
    applyEnablingRules();
}
void SubscriberSheet::ComboBox4Change() {
    applyEnablingRules();
}
void SubscriberSheet::ComboBox6Change() {
    applyEnablingRules();
}

// A new parameter offers its own values; the value chosen for the old one is gone.
void SubscriberSheet::ComboBox5Change() {
    ComboBox6->clearEditText();
    Widgets::setList(ComboBox6, PickLists::parameterValues(ComboBox5->currentText()));
    applyEnablingRules();
}

QString SubscriberSheet::prefix() const {
    return m_prefix.text();
}
QString SubscriberSheet::number() const {
    return ComboBox2->currentText();
}
QString SubscriberSheet::parameter() const {
    return ComboBox5->currentText();
}

void SubscriberSheet::AddNN() {
    Widgets::setList(ComboBox2, History::added(Widgets::list(ComboBox2), number()));
}

// The field texts are read before the number enters the history; that changes no text.
void SubscriberSheet::numberCommand(const ComposedText& command) {
    AddNN();
    parameterCommand(command);
}

void SubscriberSheet::parameterCommand(const ComposedText& command) {
    m_dispatcher.QueueCommand(command.view());
    ComboBox2->setFocus();
}

void SubscriberSheet::restrClick() {
    numberCommand(Commands::readRest(prefix(), number()));
}
void SubscriberSheet::restwClick() {
    numberCommand(Commands::writeRest(prefix(), number(), ComboBox3->currentText()));
}
void SubscriberSheet::equprClick() {
    numberCommand(Commands::readEqup(prefix(), number()));
}
void SubscriberSheet::equp1Click() {
    numberCommand(Commands::writeEqupOne(prefix(), number()));
}
void SubscriberSheet::equp0Click() {
    numberCommand(Commands::writeEqupZero(prefix(), number()));
}
void SubscriberSheet::ENRRPNClick() {
    numberCommand(Commands::whichModule(prefix(), number()));
}
void SubscriberSheet::BitBtn5Click() {
    parameterCommand(Commands::readParameter(prefix(), number(), parameter()));
}
void SubscriberSheet::BitBtn2Click() {
    parameterCommand(Commands::writeParameterOne(prefix(), number(), parameter()));
}
void SubscriberSheet::BitBtn8Click() {
    parameterCommand(Commands::writeParameterZero(prefix(), number(), parameter()));
}
void SubscriberSheet::BitBtn6Click() {
    parameterCommand(
        Commands::writeParameter(prefix(), number(), parameter(), ComboBox6->currentText()));
}

void SubscriberSheet::INSRSTClick() {
    m_dispatcher.QueueCommand(Commands::restartOneModule(ComboBox4->currentText()).view());
    ComboBox4->clearEditText(); // ComboBox4Change disables INSRST again
    INSRST->setEnabled(false);
    m_commandLine.setFocus();
}

void SubscriberSheet::BitBtn10Click() {
    m_dispatcher.QueueCommand(Commands::localBlockingAllModules().view());
    m_commandLine.setFocus();
}
