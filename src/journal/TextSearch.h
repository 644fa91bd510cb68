#pragma once

#include <QByteArray>
#include <QByteArrayView>

// How the journal matches a searched text: as a piece of one command or one reply line, with
// the case of Latin and Cyrillic letters folded alike. The text index and the scan both
// compare folded texts, so that they find the same records.
namespace TextSearch {

// The text with every letter in lower case: ASCII letters, and any other character that has
// a lower case outside ASCII (Cyrillic, Ё, the letters of code page 1251). Each character
// stays one character, and a line break stays a line break.
void fold(QByteArrayView utf8, QByteArray& folded);
QByteArray folded(QByteArrayView utf8);
// The text holds `needle` (folded) as a piece, its case folded.
bool holds(QByteArrayView utf8, QByteArrayView needle, QByteArray& scratch);
// Characters, not bytes.
int characters(QByteArrayView utf8);

} // namespace TextSearch
