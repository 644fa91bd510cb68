#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>

// What a command may hold to go on the exchange's line. The exchange ends its reply at the
// first "<" it prints and repeats the command at the head of its reply, so a command that
// holds "<" would end its own reply at its echo and hand every later reply to the command
// after its own. A byte below 0x20 ends the line early or reaches the exchange's line editor
// as a control character (backspace, CR, ^U), and DEL (0x7F) rubs out what came before it:
// either could turn a permitted command into any other. 0x98 is no character of code page
// 1251, so only a forged request can hold it. Such a command is refused before the queue,
// whoever sent it; every other command goes out byte for byte.
namespace CommandText {

// The first byte that the line cannot carry, or nothing when the command may go out.
std::optional<std::uint8_t> unsafeByte(QByteArrayView command);
// The refused character for the operator: «<», or its code for a byte that shows nothing.
QString characterName(std::uint8_t byte);
// "В команде недопустимый символ «<»" and the like, for the console's box and the web page.
QString refusalText(std::uint8_t byte);
// The command as the journal records a refusal: every byte that shows nothing as \xNN.
QByteArray readable(QByteArrayView command);

} // namespace CommandText
