#pragma once
// Certificates made for a test with OpenSSL: an authority of the test's own
// and server certificates it signs, or that sign themselves. Trusted only
// where a test says so: for the probe through SSL_CERT_FILE, for the
// browser through an NSS database in the temporary HOME.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

typedef struct evp_pkey_st EVP_PKEY;
typedef struct x509_st X509;

namespace testsupport {

// A private key and its certificate.
class TestCertificate {
public:
    TestCertificate(std::shared_ptr<EVP_PKEY> key, std::shared_ptr<X509> certificate);
    QByteArray certificatePem() const;
    QByteArray keyPem() const;
    EVP_PKEY* key() const { return key_.get(); }
    X509* certificate() const { return certificate_.get(); }

private:
    std::shared_ptr<EVP_PKEY> key_;
    std::shared_ptr<X509> certificate_;
};

// A server certificate for the given names and addresses (127.0.0.1 and
// localhost when none are given).
struct ServerNames {
    QStringList dns{QStringLiteral("localhost")};
    QStringList ip{QStringLiteral("127.0.0.1")};
};

class TestAuthority {
public:
    explicit TestAuthority(const QString& commonName);
    // Signed by this authority.
    TestCertificate issue(const ServerNames& names = {}) const;
    QByteArray certificatePem() const { return own_.certificatePem(); }

private:
    TestCertificate own_;
};

// Signed by its own key: trusted by nobody.
TestCertificate SelfSignedCertificate(const ServerNames& names = {});

// Sets SSL_CERT_FILE to a file holding the given certificates (and no
// others) for the life of the object; the old value comes back afterwards.
class ProbeTrust {
public:
    ProbeTrust(const QString& folder, const QList<QByteArray>& pemCertificates);
    ~ProbeTrust();
    ProbeTrust(const ProbeTrust&) = delete;
    ProbeTrust& operator=(const ProbeTrust&) = delete;
    QString file() const { return file_; }

private:
    QString file_;
    QByteArray old_;
    bool hadOld_ = false;
};

// Makes the NSS database $home/.pki/nssdb (if missing) and trusts the
// authority's certificate there for web sites, as the browser reads it.
// False with the tool's output in *error when certutil fails.
bool TrustInBrowser(const QString& home, const QByteArray& authorityPem, QString* error);

} // namespace testsupport
