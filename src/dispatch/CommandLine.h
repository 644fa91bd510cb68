#pragma once

#include <QObject>

class QComboBox;
class QContextMenuEvent;
class QDropEvent;
class QKeyEvent;
class QLineEdit;

// The operator's input into the command line. Letters become capitals as they are typed or
// pasted, and the operator's input makes the line no longer than 32 characters: a typed
// character beyond them is refused, a paste is cut to the room that is left. Text that the
// program puts there (a recalled 35-character command, a completion from the history) is
// not the operator's input: it keeps its case and its length and can still be shortened or
// edited in place, but grows no further.
class CommandLineInput final : public QObject {
    Q_OBJECT
public:
    static constexpr int TYPED_CHARACTERS = 32;
    // Watches the combo box and its line edit: the combo box hands the keys it gets to its
    // line edit without passing the line edit's filters.
    explicit CommandLineInput(QComboBox& combo);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int room() const;
    bool typed(QObject* watched, const QKeyEvent& key);
    void paste(const QString& text);
    void showMenu(const QContextMenuEvent& event);
    void drop(QDropEvent& event);

    QLineEdit& m_line;
};
