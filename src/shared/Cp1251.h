#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Code page 1251 is the only text form that crosses the serial line, the console and the
// web pages. The conversion goes through the platform's converter (ICU behind Qt); the
// decoding is tabled once, because the reply path decodes every line the exchange sends.
namespace Cp1251 {

QString toUnicode(QByteArrayView bytes);
// Characters that code page 1251 cannot hold become '?'.
QByteArray fromUnicode(const QString& text);
// False when the platform has no converter for code page 1251.
bool available();

} // namespace Cp1251
