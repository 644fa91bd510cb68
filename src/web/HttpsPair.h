#pragma once

#include <QByteArray>
#include <QString>

#include <variant>

// The certificate and private key that the web server speaks HTTPS with: the PEM files that
// KORVANT_HTTPS_CERT and KORVANT_HTTPS_KEY name, read and checked before the server starts,
// so that the operator learns which file is wrong and why.
struct HttpsPair {
    QByteArray certificate; // PEM text
    QByteArray key;         // PEM text

    // The pair, or the reason it cannot serve: a file that cannot be read, is not PEM, or a
    // key that does not belong to the certificate.
    static std::variant<HttpsPair, QString> read(const QString& certificateFile,
                                                 const QString& keyFile);
};
