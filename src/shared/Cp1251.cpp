#include "shared/Cp1251.h"

#include <QHash>
#include <QStringDecoder>

#include <array>

namespace {

constexpr auto kCodecName = "windows-1251";

// Every byte of code page 1251 decoded once by the platform's converter.
std::array<char16_t, 256> buildDecodeTable() {
    std::array<char16_t, 256> table{};
    QStringDecoder decoder(kCodecName, QStringDecoder::Flag::Stateless);
    for (int byte = 0; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        const QString unit = decoder.isValid() ? decoder.decode(QByteArrayView(&c, 1)) : QString();
        table[byte] = unit.size() == 1 ? unit.at(0).unicode() : char16_t(0xFFFD);
    }
    return table;
}

const std::array<char16_t, 256>& decodeTable() {
    static const std::array<char16_t, 256> table = buildDecodeTable();
    return table;
}

// The inverse of the decode table, so that a text survives the round trip unchanged.
const QHash<char16_t, char>& encodeTable() {
    static const QHash<char16_t, char> table = [] {
        QHash<char16_t, char> inverse;
        const auto& decode = decodeTable();
        for (int byte = 0; byte < 256; ++byte)
            if (decode[byte] != 0xFFFD)
                inverse.insert(decode[byte], static_cast<char>(byte));
        return inverse;
    }();
    return table;
}

} // namespace

namespace Cp1251 {

QString toUnicode(QByteArrayView bytes) {
    const auto& table = decodeTable();
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes)
        *out++ = QChar(table[static_cast<unsigned char>(c)]);
    return text;
}

QByteArray fromUnicode(const QString& text) {
    const auto& table = encodeTable();
    QByteArray bytes(text.size(), Qt::Uninitialized);
    char* out = bytes.data();
    for (const QChar ch : text)
        *out++ = table.value(ch.unicode(), '?');
    return bytes;
}

bool available() {
    return QStringDecoder(kCodecName).isValid();
}

} // namespace Cp1251
