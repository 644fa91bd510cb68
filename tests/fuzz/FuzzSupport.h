#pragma once

#include <QChar>
#include <QString>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A rule of the code under test is broken: name it and abort, so that libFuzzer reports the
// crash and keeps the input that caused it.
inline void mustHold(bool holds, const char* rule) {
    if (holds)
        return;
    std::fprintf(stderr, "broken rule: %s\n", rule);
    std::abort();
}

// A text as an operator, a field or a web user may hand one over, each character chosen by
// the input: an ASCII character (control characters too), a Cyrillic letter, any UTF-16
// unit (a lone surrogate too), or a surrogate pair for a character beyond 0xFFFF.
inline QString consumeText(FuzzedDataProvider& data, std::size_t maxLength) {
    const auto length = data.ConsumeIntegralInRange<std::size_t>(0, maxLength);
    QString text;
    for (std::size_t i = 0; i < length && data.remaining_bytes() > 0; ++i) {
        switch (data.ConsumeIntegralInRange(0, 3)) {
        case 0:
            text += QChar(data.ConsumeIntegral<std::uint8_t>() & 0x7F);
            break;
        case 1:
            text += QChar(char16_t(0x0400 + data.ConsumeIntegralInRange(0, 0x5F)));
            break;
        case 2:
            text += QChar(data.ConsumeIntegral<char16_t>());
            break;
        default: {
            const char32_t beyond = 0x10000 + data.ConsumeIntegralInRange<char32_t>(0, 0xFFFFF);
            text += QChar(QChar::highSurrogate(beyond));
            text += QChar(QChar::lowSurrogate(beyond));
        }
        }
    }
    return text;
}
