#include "dispatch/CommandText.h"

namespace {

constexpr std::uint8_t PROMPT = '<';
constexpr std::uint8_t DEL = 0x7F;
constexpr std::uint8_t NOT_IN_CODE_PAGE =
    0x98; // the one byte that code page 1251 leaves unassigned

bool showsNothing(std::uint8_t byte) {
    return byte < 0x20 || byte == DEL || byte == NOT_IN_CODE_PAGE;
}

bool isUnsafe(std::uint8_t byte) {
    return byte == PROMPT || showsNothing(byte);
}

QByteArray hexCode(std::uint8_t byte) {
    return QByteArray::number(byte, 16).toUpper().rightJustified(2, '0');
}

} // namespace

namespace CommandText {

std::optional<std::uint8_t> unsafeByte(QByteArrayView command) {
    for (const char c : command)
        if (isUnsafe(static_cast<std::uint8_t>(c)))
            return static_cast<std::uint8_t>(c);
    return std::nullopt;
}

QString characterName(std::uint8_t byte) {
    if (showsNothing(byte))
        return QStringLiteral("с кодом 0x") + QString::fromLatin1(hexCode(byte));
    return QStringLiteral("«") + QChar(byte) + QStringLiteral("»");
}

QString refusalText(std::uint8_t byte) {
    return QStringLiteral("В команде недопустимый символ ") + characterName(byte);
}

QByteArray readable(QByteArrayView command) {
    QByteArray text;
    text.reserve(command.size());
    for (const char c : command) {
        if (showsNothing(static_cast<std::uint8_t>(c)))
            text += "\\x" + hexCode(static_cast<std::uint8_t>(c));
        else
            text += c;
    }
    return text;
}

} // namespace CommandText
