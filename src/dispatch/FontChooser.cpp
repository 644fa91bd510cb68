#include "dispatch/FontChooser.h"

#include <QColorDialog>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

void showColour(QPushButton* button, const QColor& colour) {
    QPixmap swatch(16, 16);
    swatch.fill(colour);
    button->setIcon(QIcon(swatch));
}

} // namespace

// Qt's font dialog has underline and strike-out but no colour: it is embedded here with a
// colour button beside it.
std::optional<ConsoleFont> FontDialogChooser::choose(const ConsoleFont& start, QWidget* parent) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Шрифт"));
    auto* fonts = new QFontDialog(start.font, &dialog);
    fonts->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
    fonts->setWindowFlags(Qt::Widget);
    QColor colour = start.colour;
    auto* colourButton = new QPushButton(QStringLiteral("Цвет..."), &dialog);
    showColour(colourButton, colour);
    QObject::connect(colourButton, &QPushButton::clicked, &dialog, [&] {
        const QColor chosen = QColorDialog::getColor(colour, &dialog);
        if (chosen.isValid()) {
            colour = chosen;
            showColour(colourButton, colour);
        }
    });
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->addWidget(colourButton);
    row->addStretch();
    row->addWidget(buttons);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(fonts);
    layout->addLayout(row);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return ConsoleFont{fonts->currentFont(), colour};
}
