#pragma once

#include <QValidator>

class QLineEdit;

// No character is accepted on the command line that would make it longer than 32. Text
// put there by the program (the recall of a 35-character command) is not typed and not
// held to this; it can still be shortened or edited in place.
class CommandLineValidator final : public QValidator {
    Q_OBJECT
public:
    static constexpr int TYPED_CHARACTERS = 32;
    explicit CommandLineValidator(QLineEdit& line);
    State validate(QString& input, int& position) const override;

private:
    qsizetype m_length = 0; // of the line's text before the change under validation
};
