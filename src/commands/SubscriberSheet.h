#pragma once

#include "shared/Vars.h"

#include <QWidget>

class Dispatcher;
class QComboBox;
class QLineEdit;
class QPushButton;

// The page "Номера" (TabSheet1): commands for one subscriber number, with the prefix from
// the toolbar's Edit1. Every command is queued as a console command; the number commands
// also keep the number in the field's history.
class SubscriberSheet final : public QWidget {
    Q_OBJECT
public:
    SubscriberSheet(Dispatcher& dispatcher, QLineEdit& prefix, QWidget& commandLine,
                    QWidget* parent = nullptr);

    // The pick lists filled at the main window's first activation.
    void fillPickLists();
    // ComboBox5's list, filled when the main window is created.
    void fillParameterList();

    QComboBox* ComboBox2 = nullptr; // subscriber number; its list is the number history
    QPushButton* restr = nullptr;
    QPushButton* restw = nullptr;
    QComboBox* ComboBox3 = nullptr; // REST value
    QPushButton* equpr = nullptr;
    QPushButton* equp1 = nullptr;
    QPushButton* equp0 = nullptr;
    QPushButton* ENRRPN = nullptr;
    QPushButton* INSRST = nullptr;
    QComboBox* ComboBox4 = nullptr; // module for INSRST
    QComboBox* ComboBox5 = nullptr; // parameter code
    QPushButton* BitBtn5 = nullptr; // read the parameter
    QPushButton* BitBtn2 = nullptr; // write 1
    QPushButton* BitBtn8 = nullptr; // write 0
    QPushButton* BitBtn6 = nullptr; // write the value
    QComboBox* ComboBox6 = nullptr; // value for BitBtn6
    QPushButton* BitBtn10 = nullptr;

    void ComboBox2Change();
    void ComboBox3Change();
    void ComboBox4Change();
    void ComboBox5Change();
    void ComboBox6Change();
    void restrClick();
    void restwClick();
    void equprClick();
    void equp1Click();
    void equp0Click();
    void ENRRPNClick();
    void INSRSTClick();
    void BitBtn5Click();
    void BitBtn2Click();
    void BitBtn8Click();
    void BitBtn6Click();
    void BitBtn10Click();
    void AddNN();

private:
    void buildControls();
    void applyEnablingRules();
    QString prefix() const;
    QString number() const;
    QString parameter() const;
    // A number command: the number enters the history before the command is queued.
    void numberCommand(const ComposedText& command);
    void parameterCommand(const ComposedText& command);

    Dispatcher& m_dispatcher;
    QLineEdit& m_prefix;
    QWidget& m_commandLine;
};
