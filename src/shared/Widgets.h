#pragma once

#include <QColor>
#include <QString>
#include <QStringList>

class QAbstractButton;
class QComboBox;
class QLabel;
class QPushButton;
class QToolButton;
class QWidget;

// Small pieces that every window of the terminal builds its controls with.
namespace Widgets {

// A label with its name.
QLabel* label(QWidget* parent, const char* name, const QString& text);
// A raised panel that shows a word in its middle: a lamp, a diagnostic.
QLabel* panel(QWidget* parent, const char* name, const QString& text);
// A push button that Enter does not press.
QPushButton* pushButton(QWidget* parent, const char* name, const QString& caption);
// A flat tool button.
QToolButton* toolButton(QWidget* parent, const char* name, const QString& caption,
                        const QString& hint);
// An editable combo box: typed text is kept as typed and never inserted into the list.
QComboBox* editableCombo(QWidget* parent, const char* name);
// Replaces a combo box's list; its text stays as it was and no change is signalled.
void setList(QComboBox* combo, const QStringList& items);
QStringList list(const QComboBox* combo);
// Sets a button's name, caption and hint.
void name(QAbstractButton* button, const char* objectName, const QString& caption,
          const QString& hint = QString());
// Text colour (and optionally bold) of a control.
void setTextColour(QWidget* widget, const QColor& colour, bool bold = false);

} // namespace Widgets
