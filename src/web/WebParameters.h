#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The parameters of a browser's request as the handler reads them: one text of
// "name=value" lines, and the one value taken from it.
namespace WebParameters {

constexpr qsizetype TEXT_CAPACITY = 80; // characters of the parameter text that count

// The parameter text: the urlencoded form body first, then the query string. Each is split
// at "&"; in every parameter "+" becomes a space and percent escapes are decoded; every
// parameter becomes one line followed by CR LF, in the order they came. No parameters
// give an empty text. (The body is empty unless the request is a POST of a urlencoded form.)
QByteArray parameterText(const QByteArray& formBody, const QByteArray& queryString);

// The value: within the first 80 characters of the text, everything after the first "="
// (nothing when there is no "=" or the text begins with one), without any character of
// code 32 or less. Several parameters therefore run together: "a=1", "b=2" give "1b=2".
QByteArray valueOf(const QByteArray& parameterText);

// Every "%XX" of two hexadecimal digits becomes its byte, once; any other "%" stays as it
// came ("100%", "%zz"). A "+" is not touched.
QByteArray percentDecoded(QByteArrayView encoded);

} // namespace WebParameters
