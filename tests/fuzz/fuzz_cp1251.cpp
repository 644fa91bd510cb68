// The code page 1251 conversion both ways, checked against glibc's iconv, a converter
// independent of the ICU tables behind Qt. The same input is read once as bytes from the
// line and once as a text to send.
#include "FuzzSupport.h"
#include "shared/Cp1251.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <iconv.h>
#include <optional>
#include <vector>

namespace {

// The one byte that code page 1251 leaves unassigned. ICU decodes it as the control
// character of the same number, so that every byte survives a round trip; iconv has no
// character for it.
constexpr std::uint8_t UNASSIGNED = 0x98;

// One direction of glibc's converter, used one character at a time.
class Converter {
public:
    Converter(const char* toCode, const char* fromCode) : m_handle(iconv_open(toCode, fromCode)) {
        mustHold(m_handle != iconv_t(-1), "glibc converts code page 1251");
    }
    ~Converter() { iconv_close(m_handle); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // The one code unit or byte that `value` becomes, or nothing when iconv refuses it.
    template <typename To, typename From> std::optional<To> one(From value) {
        iconv(m_handle, nullptr, nullptr, nullptr, nullptr); // forget any earlier refusal
        char* in = reinterpret_cast<char*>(&value);
        std::size_t inLeft = sizeof value;
        std::array<To, 4> out{};
        char* next = reinterpret_cast<char*>(out.data());
        std::size_t outLeft = sizeof out;
        if (iconv(m_handle, &in, &inLeft, &next, &outLeft) == std::size_t(-1) ||
            outLeft != sizeof out - sizeof(To))
            return std::nullopt;
        return out[0];
    }

private:
    iconv_t m_handle;
};

// What each byte means and which byte each UTF-16 unit becomes, by iconv.
struct Reference {
    std::array<char16_t, 256> decoded{};
    std::vector<std::optional<std::uint8_t>> encoded =
        std::vector<std::optional<std::uint8_t>>(0x10000);
};

Reference buildReference() {
    Reference reference;
    Converter decoder("UTF-16LE", "CP1251");
    for (int byte = 0; byte < 256; ++byte)
        reference.decoded[byte] = byte == UNASSIGNED
                                      ? char16_t(UNASSIGNED)
                                      : decoder.one<char16_t>(std::uint8_t(byte)).value_or(0xFFFD);
    Converter encoder("CP1251", "UTF-32LE");
    for (char32_t unit = 0; unit < 0x10000; ++unit)
        reference.encoded[unit] = unit == UNASSIGNED ? UNASSIGNED : encoder.one<std::uint8_t>(unit);
    return reference;
}

const Reference& reference() {
    static const Reference table = buildReference();
    return table;
}

// Bytes from the line: each becomes its character, and back the same byte.
void checkBytes(const QByteArray& bytes) {
    const QString text = Cp1251::toUnicode(bytes);
    mustHold(text.size() == bytes.size(), "each byte decodes to one character");
    for (qsizetype i = 0; i < bytes.size(); ++i)
        mustHold(text.at(i).unicode() == reference().decoded[std::uint8_t(bytes.at(i))],
                 "each byte decodes to its character");
    mustHold(Cp1251::fromUnicode(text) == bytes, "every byte survives the round trip");
}

// A text to send: each character becomes its byte, or '?' when code page 1251 has none;
// decoded again, it is the text with those characters replaced by '?'.
void checkText(const QString& text) {
    const QByteArray bytes = Cp1251::fromUnicode(text);
    mustHold(bytes.size() == text.size(), "each character encodes to one byte");
    const QString back = Cp1251::toUnicode(bytes);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto expected = reference().encoded[text.at(i).unicode()];
        mustHold(std::uint8_t(bytes.at(i)) == expected.value_or('?'),
                 "a character becomes its byte, an unknown one '?'");
        mustHold(back.at(i) == (expected ? text.at(i) : QChar(u'?')),
                 "a text comes back with its unknown characters as '?'");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    mustHold(Cp1251::available(), "the platform converts code page 1251");
    QByteArray everyByte(256, Qt::Uninitialized);
    for (int byte = 0; byte < 256; ++byte)
        everyByte[byte] = char(byte);
    checkBytes(everyByte);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkBytes(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    FuzzedDataProvider input(data, size);
    checkText(consumeText(input, size));
    return 0;
}
