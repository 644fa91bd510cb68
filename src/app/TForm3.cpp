#include "app/TForm3.h"

#include "shared/DesignScale.h"
#include "shared/Faces.h"

#include <QLabel>
#include <QPushButton>

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TForm3"));
    setWindowTitle(QStringLiteral(" О программе"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    const DesignScale scale(*this);
    setFixedSize(scale(CLIENT_WIDTH), scale(CLIENT_HEIGHT));
    setFont(Faces::designFont(QStringLiteral("MS Sans Serif"), 13, scale.factor()));

    auto* name = new QLabel(QStringLiteral("KORVANT V.3.0"), this);
    name->setFont(Faces::designFont(QStringLiteral("Arial"), 20, scale.factor(), true));
    name->setAlignment(Qt::AlignCenter);
    scale.place(name, 8, 12, 294, 30);

    auto* maker = new QLabel(QStringLiteral("Терминал оператора цифровой АТС\n\n"
                                            "Разработка: группа разработчиков KORVANT\n"
                                            "Вопросы и замечания: служба эксплуатации АТС"),
                             this);
    maker->setObjectName(QStringLiteral("Maker"));
    maker->setAlignment(Qt::AlignCenter);
    maker->setWordWrap(true);
    scale.place(maker, 8, 50, 294, 100);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);
    scale.place(Button1, 117, 166, 76, 28);
    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
}

// Centred over the main window each time it is shown.
void TForm3::showEvent(QShowEvent* event) {
    if (QWidget* owner = parentWidget())
        move(owner->frameGeometry().center() - rect().center());
    QDialog::showEvent(event);
}
