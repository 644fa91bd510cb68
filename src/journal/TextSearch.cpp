#include "journal/TextSearch.h"

#include <QList>
#include <QString>

#include <algorithm>

namespace TextSearch {

namespace {

bool isAscii(QByteArrayView text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return uchar(c) < 0x80; });
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// A character outside ASCII never folds into ASCII: an ASCII piece is then found by its bytes.
char32_t lower(char32_t c) {
    if (c < 0x80)
        return char32_t(lowerAscii(char(c)));
    const char32_t lower = QChar::toLower(c);
    return lower < 0x80 ? c : lower;
}

} // namespace

void fold(QByteArrayView utf8, QByteArray& folded) {
    folded.resize(utf8.size());
    if (isAscii(utf8)) {
        std::transform(utf8.begin(), utf8.end(), folded.begin(), lowerAscii);
        return;
    }
    QList<uint> characters = QString::fromUtf8(utf8).toUcs4();
    for (uint& c : characters)
        c = lower(c);
    folded = QString::fromUcs4(reinterpret_cast<const char32_t*>(characters.constData()),
                               characters.size())
                 .toUtf8();
}

QByteArray folded(QByteArrayView utf8) {
    QByteArray text;
    fold(utf8, text);
    return text;
}

// An ASCII needle is compared with the text's bytes as they are, their ASCII letters folded.
bool holdsAscii(QByteArrayView text, QByteArrayView needle) {
    const char first = needle.front();
    const qsizetype last = text.size() - needle.size();
    for (qsizetype at = 0; at <= last; ++at)
        if (lowerAscii(text[at]) == first &&
            std::equal(needle.begin() + 1, needle.end(), text.begin() + at + 1,
                       [](char n, char t) { return n == lowerAscii(t); }))
            return true;
    return false;
}

bool holds(QByteArrayView utf8, QByteArrayView needle, QByteArray& scratch) {
    if (needle.isEmpty())
        return true;
    if (isAscii(needle))
        return holdsAscii(utf8, needle);
    fold(utf8, scratch);
    return QByteArrayView(scratch).indexOf(needle) >= 0;
}

int characters(QByteArrayView utf8) {
    return int(
        std::count_if(utf8.begin(), utf8.end(), [](char c) { return (uchar(c) & 0xC0) != 0x80; }));
}

} // namespace TextSearch
