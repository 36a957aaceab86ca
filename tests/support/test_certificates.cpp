#include "support/test_certificates.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <stdexcept>

namespace testsupport {

namespace {

void check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("test certificate: ") + what);
}

std::shared_ptr<EVP_PKEY> newKey() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    check(key, "key");
    return {key, EVP_PKEY_free};
}

void addExtension(X509* certificate, X509* issuer, int nid, const QByteArray& value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.constData());
    check(extension, "extension");
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

void setName(X509* certificate, const QString& commonName) {
    X509_NAME* name = X509_get_subject_name(certificate);
    const QByteArray text = commonName.toUtf8();
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Pagorama tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(text.constData()), -1, -1, 0);
}

// A certificate for subjectKey signed by issuerKey (issuer null: by itself).
TestCertificate makeCertificate(const QString& commonName, bool authority, const ServerNames* names,
                                const TestCertificate* issuer) {
    std::shared_ptr<EVP_PKEY> key = newKey();
    std::shared_ptr<X509> certificate(X509_new(), X509_free);
    X509* cert = certificate.get();
    X509_set_version(cert, 2);
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7f;
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert));
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 30L * 24 * 3600);
    X509_set_pubkey(cert, key.get());
    setName(cert, commonName);
    X509* issuerCert = issuer ? issuer->certificate() : cert;
    X509_set_issuer_name(cert, X509_get_subject_name(issuerCert));

    addExtension(cert, issuerCert, NID_subject_key_identifier, "hash");
    addExtension(cert, issuerCert, NID_authority_key_identifier, "keyid:always");
    if (authority) {
        addExtension(cert, issuerCert, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(cert, issuerCert, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(cert, issuerCert, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(cert, issuerCert, NID_key_usage, "critical,digitalSignature");
        addExtension(cert, issuerCert, NID_ext_key_usage, "serverAuth");
        QStringList entries;
        for (const QString& dns : names->dns)
            entries << QStringLiteral("DNS:") + dns;
        for (const QString& ip : names->ip)
            entries << QStringLiteral("IP:") + ip;
        addExtension(cert, issuerCert, NID_subject_alt_name, entries.join(',').toLatin1());
    }
    EVP_PKEY* signingKey = issuer ? issuer->key() : key.get();
    check(X509_sign(cert, signingKey, EVP_sha256()) > 0, "signature");
    return TestCertificate(key, certificate);
}

QByteArray bioText(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    QByteArray text(data, int(length));
    BIO_free(bio);
    return text;
}

} // namespace

TestCertificate::TestCertificate(std::shared_ptr<EVP_PKEY> key, std::shared_ptr<X509> certificate)
    : key_(std::move(key)), certificate_(std::move(certificate)) {}

QByteArray TestCertificate::certificatePem() const {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, certificate_.get());
    return bioText(bio);
}

QByteArray TestCertificate::keyPem() const {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key_.get(), nullptr, nullptr, 0, nullptr, nullptr);
    return bioText(bio);
}

TestAuthority::TestAuthority(const QString& commonName)
    : own_(makeCertificate(commonName, true, nullptr, nullptr)) {}

TestCertificate TestAuthority::issue(const ServerNames& names) const {
    return makeCertificate(QStringLiteral("Pagorama test server"), false, &names, &own_);
}

TestCertificate SelfSignedCertificate(const ServerNames& names) {
    return makeCertificate(QStringLiteral("Pagorama self-signed server"), false, &names, nullptr);
}

ProbeTrust::ProbeTrust(const QString& folder, const QList<QByteArray>& pemCertificates)
    : file_(QDir(folder).filePath(QStringLiteral("trusted-for-probe.pem"))) {
    QFile out(file_);
    check(out.open(QIODevice::WriteOnly), "trust file");
    for (const QByteArray& pem : pemCertificates)
        out.write(pem);
    out.close();
    if (const char* old = std::getenv("SSL_CERT_FILE")) {
        old_ = old;
        hadOld_ = true;
    }
    ::setenv("SSL_CERT_FILE", QFile::encodeName(file_).constData(), 1);
}

ProbeTrust::~ProbeTrust() {
    if (hadOld_)
        ::setenv("SSL_CERT_FILE", old_.constData(), 1);
    else
        ::unsetenv("SSL_CERT_FILE");
}

bool TrustInBrowser(const QString& home, const QByteArray& authorityPem, QString* error) {
    const QString database = home + QStringLiteral("/.pki/nssdb");
    QDir().mkpath(database);
    const QString pemPath = database + QStringLiteral("/test-authority.pem");
    QFile pem(pemPath);
    if (!pem.open(QIODevice::WriteOnly) || pem.write(authorityPem) != authorityPem.size()) {
        *error = QStringLiteral("cannot write ") + pemPath;
        return false;
    }
    pem.close();
    auto run = [error](const QStringList& arguments) {
        QProcess certutil;
        certutil.setProcessChannelMode(QProcess::MergedChannels);
        certutil.start(QStringLiteral("certutil"), arguments);
        if (!certutil.waitForFinished(30000) || certutil.exitStatus() != QProcess::NormalExit ||
            certutil.exitCode() != 0) {
            *error = QStringLiteral("certutil %1: %2 %3")
                         .arg(arguments.join(' '), certutil.errorString(),
                              QString::fromLocal8Bit(certutil.readAll()));
            return false;
        }
        return true;
    };
    const QString where = QStringLiteral("sql:") + database;
    if (!QFile::exists(database + QStringLiteral("/cert9.db")) &&
        !run({QStringLiteral("-N"), QStringLiteral("--empty-password"), QStringLiteral("-d"),
              where}))
        return false;
    return run({QStringLiteral("-A"), QStringLiteral("-n"),
                QStringLiteral("Pagorama test authority %1").arg(qHash(authorityPem)),
                QStringLiteral("-t"), QStringLiteral("C,,"), QStringLiteral("-i"), pemPath,
                QStringLiteral("-d"), where});
}

} // namespace testsupport
