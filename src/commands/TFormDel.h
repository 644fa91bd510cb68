#pragma once

#include "commands/ModuleRange.h"

#include <QDialog>

#include <cstdint>

class QLabel;
class QPushButton;

// The question "Вы уверены, что хотите / <action> / <n> модулей?" asked before a restart,
// load or erase of two or more modules. Only "YES" confirms; "Cancel" and the title bar's
// close leave DelConfirmed at 0.
class TFormDel final : public QDialog {
    Q_OBJECT
public:
    static constexpr int WIDTH = 337; // pixels, not scaled
    static constexpr int HEIGHT = 202;

    explicit TFormDel(QWidget* parent = nullptr);

    // Shows the question modally; true when the operator answered "YES".
    bool ask(const ModuleRange::Question& question);

    std::uint8_t DelConfirmed = 0;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* Button1 = nullptr; // YES
    QPushButton* Button2 = nullptr; // Cancel

    void Button1Click();
    void Button2Click();

protected:
    void showEvent(QShowEvent* event) override;
};
