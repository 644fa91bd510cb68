#pragma once

#include <QString>

class QWidget;

// The standard file dialog that names a file to write; tests put their own here.
class SaveFileChooser {
public:
    virtual ~SaveFileChooser() = default;
    // The file chosen, or nothing when the operator cancels.
    virtual QString chooseFile(QWidget* parent, const QString& suggested) = 0;
};

class SaveFileDialog final : public SaveFileChooser {
public:
    QString chooseFile(QWidget* parent, const QString& suggested) override;
};
