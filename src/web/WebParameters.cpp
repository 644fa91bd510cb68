#include "web/WebParameters.h"

#include <QList>

namespace {

void appendParameters(QByteArray& text, const QByteArray& encoded) {
    for (QByteArray parameter : encoded.split('&')) {
        if (parameter.isEmpty())
            continue;
        text += WebParameters::percentDecoded(parameter.replace('+', ' '));
        text += "\r\n";
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

namespace WebParameters {

QByteArray parameterText(const QByteArray& formBody, const QByteArray& queryString) {
    QByteArray text;
    appendParameters(text, formBody);
    appendParameters(text, queryString);
    return text;
}

QByteArray valueOf(const QByteArray& parameterText) {
    const QByteArray counted = parameterText.left(TEXT_CAPACITY);
    const qsizetype equals = counted.indexOf('=');
    if (equals <= 0)
        return {};
    QByteArray value;
    for (const char c : counted.mid(equals + 1))
        if (static_cast<unsigned char>(c) > ' ')
            value += c;
    return value;
}

// Not QByteArray::fromPercentEncoding: it turns a broken escape such as "%zz" into a byte
// of its own making.
QByteArray percentDecoded(QByteArrayView encoded) {
    QByteArray decoded;
    decoded.reserve(encoded.size());
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%' && i + 2 < encoded.size()) {
            const int high = hexValue(encoded[i + 1]);
            const int low = hexValue(encoded[i + 2]);
            if (high >= 0 && low >= 0) {
                decoded += char(high * 16 + low);
                i += 2;
                continue;
            }
        }
        decoded += encoded[i];
    }
    return decoded;
}

} // namespace WebParameters
