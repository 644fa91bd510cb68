// The parameter text of a browser's request and the one value taken from it, for any form
// body and query string a client may send.
#include "FuzzSupport.h"
#include "web/WebParameters.h"

#include <QByteArray>
#include <QList>

#include <cstddef>
#include <cstdint>

namespace {

int pieces(const QByteArray& encoded) {
    int count = 0;
    for (const QByteArray& piece : encoded.split('&'))
        count += piece.isEmpty() ? 0 : 1;
    return count;
}

// `part` can be found in `whole` in order, with other bytes between.
bool isSubsequence(const QByteArray& part, const QByteArray& whole) {
    qsizetype at = 0;
    for (const char c : part) {
        at = whole.indexOf(c, at);
        if (at < 0)
            return false;
        ++at;
    }
    return true;
}

// Without escapes and plus signs the text is the parameters as they came, a line each.
bool plain(const QByteArray& encoded) {
    return !encoded.contains('%') && !encoded.contains('+');
}

QByteArray lines(const QByteArray& encoded) {
    QByteArray text;
    for (const QByteArray& piece : encoded.split('&'))
        if (!piece.isEmpty())
            text += piece + "\r\n";
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const std::string body = data.ConsumeRandomLengthString(400);
    const std::string query = data.ConsumeRemainingBytesAsString();
    const QByteArray form = QByteArray::fromStdString(body);
    const QByteArray target = QByteArray::fromStdString(query);

    const QByteArray text = WebParameters::parameterText(form, target);
    const int parameters = pieces(form) + pieces(target);
    mustHold(text.isEmpty() == (parameters == 0), "no parameters give an empty text");
    mustHold(text.isEmpty() || text.endsWith("\r\n"), "every parameter line ends with CR LF");
    mustHold(text.count("\r\n") >= parameters, "a line for every parameter");
    mustHold(text.size() <= form.size() + target.size() + 2 * parameters,
             "decoding never makes a parameter longer");
    if (plain(form) && plain(target))
        mustHold(text == lines(form) + lines(target), "parameters keep their order, body first");

    const QByteArray value = WebParameters::valueOf(text);
    mustHold(value.size() <= WebParameters::TEXT_CAPACITY, "a value holds at most 80 characters");
    for (const char c : value)
        mustHold(static_cast<unsigned char>(c) > ' ', "no character of code 32 or less in a value");
    const QByteArray counted = text.left(WebParameters::TEXT_CAPACITY);
    const qsizetype equals = counted.indexOf('=');
    mustHold(equals > 0 || value.isEmpty(), "no value without a '=' after the first character");
    mustHold(equals <= 0 || isSubsequence(value, counted.mid(equals + 1)),
             "the value comes from after the first '=' within 80 characters");
    return 0;
}
