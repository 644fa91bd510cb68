#include "shared/Widgets.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>

namespace Widgets {

QLabel* label(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QLabel* panel(QWidget* parent, const char* name, const QString& text) {
    auto* panel = label(parent, name, text);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setAlignment(Qt::AlignCenter);
    return panel;
}

QPushButton* pushButton(QWidget* parent, const char* name, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

QToolButton* toolButton(QWidget* parent, const char* name, const QString& caption,
                        const QString& hint) {
    auto* button = new QToolButton(parent);
    Widgets::name(button, name, caption, hint);
    button->setAutoRaise(true);
    return button;
}

QComboBox* editableCombo(QWidget* parent, const char* name) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    return combo;
}

void setList(QComboBox* combo, const QStringList& items) {
    const QSignalBlocker blocker(combo);
    const QString text = combo->currentText();
    combo->clear();
    combo->addItems(items);
    combo->setCurrentIndex(-1);
    combo->setEditText(text);
}

QStringList list(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items.append(combo->itemText(i));
    return items;
}

void name(QAbstractButton* button, const char* objectName, const QString& caption,
          const QString& hint) {
    button->setObjectName(QString::fromLatin1(objectName));
    button->setText(caption);
    if (!hint.isEmpty())
        button->setToolTip(hint);
}

void setTextColour(QWidget* widget, const QColor& colour, bool bold) {
    // Only the enabled look: a disabled control stays grey, as every disabled control does.
    QPalette palette = widget->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive})
        for (const auto role : {QPalette::ButtonText, QPalette::WindowText, QPalette::Text})
            palette.setColor(group, role, colour);
    widget->setPalette(palette);
    if (bold) {
        QFont font = widget->font();
        font.setBold(true);
        widget->setFont(font);
    }
}

} // namespace Widgets
