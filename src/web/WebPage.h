#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The pages that the server writes itself (refusals, confirmations) in the look of the
// page folder's pages: code page 1251, Russian, the heading "KORVANT — терминал АТС" in the
// same box and style.
namespace WebPage {

// A whole page: `title` follows "KORVANT — " in the window's title; `body` is HTML in code
// page 1251 that follows the heading (every text from outside in it escaped).
QByteArray build(const QString& title, const QByteArray& body);

// A paragraph of plain Russian text, `note` in the pages' red.
QByteArray paragraph(const QString& text, bool note = false);

// Code page 1251 bytes made safe as HTML text and as a quoted attribute value: "&", "<",
// ">", '"' and "'" become character references; every other byte stays as it is.
QByteArray escaped(QByteArrayView text);

} // namespace WebPage
