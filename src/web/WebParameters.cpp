#include "WebParameters.h"

#include <QList>

#include <httplib.h>

namespace {

void appendParameters(QByteArray& text, const QByteArray& encoded) {
    for (const QByteArray& parameter : encoded.split('&')) {
        if (parameter.isEmpty())
            continue;
        text +=
            QByteArray::fromStdString(httplib::detail::decode_url(parameter.toStdString(), true));
        text += "\r\n";
    }
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

} // namespace WebParameters
