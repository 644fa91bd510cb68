#pragma once

#include <QDialog>

class QPushButton;

// The About window " О программе": the maker's block and one OK button.
class TForm3 final : public QDialog {
    Q_OBJECT
public:
    static constexpr int CLIENT_WIDTH = 310; // design pixels
    static constexpr int CLIENT_HEIGHT = 211;

    explicit TForm3(QWidget* parent = nullptr);
    void Button1Click() { accept(); }

    QPushButton* Button1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};
