#include "web/WebPage.h"

#include "shared/Cp1251.h"

namespace {

// The style of the page folder's pages.
const QByteArray STYLE =
    "<style>\n"
    "body{font-family:Arial,\"Liberation Sans\",sans-serif;margin:2em auto;max-width:34em;"
    "padding:0 1em;color:#123;background:#f4f6f8}\n"
    "h1{font-size:1.4em;color:#004080;margin:0 0 .6em}\n"
    "p{line-height:1.4}\n"
    ".box{background:#fff;border:1px solid #c8d0d8;border-radius:6px;padding:1.2em 1.4em}\n"
    ".note{color:#a00000;font-weight:bold}\n"
    "code{font:bold 1.1em \"Courier New\",\"Liberation Mono\",monospace;margin-right:.6em}\n"
    "input[type=text],input[type=password]{font:1.1em \"Courier New\",\"Liberation Mono\","
    "monospace;padding:.3em;width:18em}\n"
    "input[type=submit]{font-size:1em;padding:.3em 1em;margin-left:.4em}\n"
    "small{color:#556}\n"
    "</style>\n";

} // namespace

namespace WebPage {

QByteArray build(const QString& title, const QByteArray& body) {
    return "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"windows-1251\">\n"
           "<title>" +
           Cp1251::fromUnicode(QStringLiteral("KORVANT — ") + title) + "</title>\n" + STYLE +
           "</head>\n<body>\n<div class=\"box\">\n<h1>" +
           Cp1251::fromUnicode(QStringLiteral("KORVANT — терминал АТС")) + "</h1>\n" + body +
           "</div>\n</body>\n</html>\n";
}

QByteArray paragraph(const QString& text, bool note) {
    return (note ? "<p class=\"note\">" : "<p>") + escaped(Cp1251::fromUnicode(text)) + "</p>\n";
}

QByteArray escaped(QByteArrayView text) {
    QByteArray out;
    out.reserve(text.size());
    for (const char byte : text) {
        switch (byte) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += byte;
        }
    }
    return out;
}

} // namespace WebPage
