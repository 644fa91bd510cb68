#include "web/HttpsPair.h"

#include <QFile>

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

namespace {

gnutls_datum_t datumOf(const QByteArray& bytes) {
    return {reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.constData())),
            unsigned(bytes.size())};
}

QString reasonOf(int result) {
    return QString::fromUtf8(gnutls_strerror(result));
}

// The file's bytes, or why it cannot be read.
std::variant<QByteArray, QString> readFile(const char* what, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("Cannot read the HTTPS %1 \"%2\": %3")
            .arg(QLatin1String(what), path, file.errorString());
    return file.readAll();
}

int importCertificate(const QByteArray& pem) {
    gnutls_x509_crt_t certificate = nullptr;
    gnutls_x509_crt_init(&certificate);
    const gnutls_datum_t data = datumOf(pem);
    const int result = gnutls_x509_crt_import(certificate, &data, GNUTLS_X509_FMT_PEM);
    gnutls_x509_crt_deinit(certificate);
    return result;
}

int importKey(const QByteArray& pem) {
    gnutls_x509_privkey_t key = nullptr;
    gnutls_x509_privkey_init(&key);
    const gnutls_datum_t data = datumOf(pem);
    const int result = gnutls_x509_privkey_import2(key, &data, GNUTLS_X509_FMT_PEM, nullptr, 0);
    gnutls_x509_privkey_deinit(key);
    return result;
}

// What the server library does with the pair: it fails when the key is not the
// certificate's.
int importPair(const QByteArray& certificatePem, const QByteArray& keyPem) {
    gnutls_certificate_credentials_t credentials = nullptr;
    gnutls_certificate_allocate_credentials(&credentials);
    const gnutls_datum_t certificate = datumOf(certificatePem);
    const gnutls_datum_t key = datumOf(keyPem);
    const int result =
        gnutls_certificate_set_x509_key_mem(credentials, &certificate, &key, GNUTLS_X509_FMT_PEM);
    gnutls_certificate_free_credentials(credentials);
    return result;
}

} // namespace

std::variant<HttpsPair, QString> HttpsPair::read(const QString& certificateFile,
                                                 const QString& keyFile) {
    if (certificateFile.isEmpty() || keyFile.isEmpty())
        return QStringLiteral("HTTPS needs both KORVANT_HTTPS_CERT and KORVANT_HTTPS_KEY; %1 is "
                              "not set")
            .arg(certificateFile.isEmpty() ? QStringLiteral("KORVANT_HTTPS_CERT")
                                           : QStringLiteral("KORVANT_HTTPS_KEY"));
    auto certificate = readFile("certificate", certificateFile);
    if (auto* failure = std::get_if<QString>(&certificate))
        return *failure;
    auto key = readFile("key", keyFile);
    if (auto* failure = std::get_if<QString>(&key))
        return *failure;
    HttpsPair pair{std::get<QByteArray>(certificate), std::get<QByteArray>(key)};
    if (const int result = importCertificate(pair.certificate); result < 0)
        return QStringLiteral("The HTTPS certificate \"%1\" is not a PEM certificate: %2")
            .arg(certificateFile, reasonOf(result));
    if (const int result = importKey(pair.key); result < 0)
        return QStringLiteral("The HTTPS key \"%1\" is not a PEM private key: %2")
            .arg(keyFile, reasonOf(result));
    if (const int result = importPair(pair.certificate, pair.key); result < 0)
        return QStringLiteral("The HTTPS key \"%1\" does not belong to the certificate \"%2\": %3")
            .arg(keyFile, certificateFile, reasonOf(result));
    return pair;
}
