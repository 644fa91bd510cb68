#include "CommandLine.h"

#include <QLineEdit>

CommandLineValidator::CommandLineValidator(QLineEdit& line) : QValidator(&line) {
    // The line validates a change before it reports it, so this still holds the old length.
    connect(&line, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_length = text.size(); });
}

QValidator::State CommandLineValidator::validate(QString& input, int&) const {
    return input.size() > TYPED_CHARACTERS && input.size() > m_length ? Invalid : Acceptable;
}
