#include "commands/TFormDel.h"

#include "shared/Faces.h"
#include "shared/Widgets.h"

#include <QLabel>
#include <QPushButton>

namespace {

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, const QColor& colour,
                  int left, int top) {
    QLabel* label = Widgets::label(parent, name, text);
    label->setFont(Faces::designFont(QStringLiteral("Arial"), 20, 1.0));
    Widgets::setTextColour(label, colour);
    label->adjustSize();
    label->move(left, top);
    return label;
}

} // namespace

TFormDel::TFormDel(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TFormDel"));
    setWindowTitle(QStringLiteral("FormDel"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(WIDTH, HEIGHT);

    Label1 = makeLabel(this, "Label1", QStringLiteral("Вы уверены, что хотите"), QColor(0, 0, 255),
                       30, 16);
    Label2 = makeLabel(this, "Label2", QStringLiteral("Стереть батарейное содержимое"),
                       QColor(0, 128, 0), 10, 56);
    Label3 = makeLabel(this, "Label3", QStringLiteral("13 модулей?"), QColor(255, 0, 0), 100, 96);

    Button1 = new QPushButton(QStringLiteral("YES"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(60, 148, 90, 30);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(187, 148, 90, 30);
    Button2->setDefault(true); // Enter alone never confirms a range
    connect(Button1, &QPushButton::clicked, this, &TFormDel::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TFormDel::Button2Click);
}

bool TFormDel::ask(const ModuleRange::Question& question) {
    DelConfirmed = 0;
    Label2->setText(question.action);
    Label2->adjustSize();
    Label2->move(question.actionLeft, Label2->y());
    if (question.widthOverAction)
        setFixedWidth(Label2->width() + *question.widthOverAction);
    Label3->setText(question.count);
    Label3->adjustSize();
    exec();
    return DelConfirmed == 1;
}

void TFormDel::Button1Click() {
    DelConfirmed = 1;
    accept();
}

void TFormDel::Button2Click() {
    reject();
}

// Centred over the main window.
void TFormDel::showEvent(QShowEvent* event) {
    if (QWidget* owner = parentWidget())
        move(owner->frameGeometry().center() - rect().center());
    QDialog::showEvent(event);
}
