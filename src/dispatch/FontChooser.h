#pragma once

#include <QColor>
#include <QFont>

#include <optional>

class QWidget;

// A font with its colour, as the console takes it.
struct ConsoleFont {
    QFont font;
    QColor colour;
};

// The font selection dialog as the main window uses it; tests put their own here.
class FontChooser {
public:
    virtual ~FontChooser() = default;
    // Nothing when the operator cancels.
    virtual std::optional<ConsoleFont> choose(const ConsoleFont& start, QWidget* parent) = 0;
};

// The real dialog: face, style, size and the effects underline, strike-out and colour.
class FontDialogChooser final : public FontChooser {
public:
    std::optional<ConsoleFont> choose(const ConsoleFont& start, QWidget* parent) override;
};
