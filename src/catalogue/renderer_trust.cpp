#include "catalogue/renderer_trust.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace catalogue {

namespace {

const QStringList DatabaseFiles{QStringLiteral("cert9.db"), QStringLiteral("key4.db"),
                                QStringLiteral("pkcs11.txt")};

// Every PEM certificate in the file, as DER.
void readPemFile(const QString& path, QList<QByteArray>& into) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray text = file.read(64 * 1024 * 1024);
    BIO* bio = BIO_new_mem_buf(text.constData(), int(text.size()));
    if (!bio)
        return;
    while (X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        unsigned char* der = nullptr;
        const int length = i2d_X509(certificate, &der);
        if (length > 0)
            into << QByteArray(reinterpret_cast<const char*>(der), length);
        OPENSSL_free(der);
        X509_free(certificate);
    }
    BIO_free(bio);
}

// The variable when set, else OpenSSL's built-in place: as the probe's
// SSL_CTX_set_default_verify_paths chooses.
QString chosenPlace(const char* variable, const char* builtIn) {
    const char* value = std::getenv(variable);
    return QFile::decodeName(value ? value : builtIn);
}

QString pemOf(const QByteArray& der) {
    QString text = QStringLiteral("-----BEGIN CERTIFICATE-----\n");
    const QByteArray base64 = der.toBase64();
    for (qsizetype at = 0; at < base64.size(); at += 64)
        text += QString::fromLatin1(base64.mid(at, 64)) + QLatin1Char('\n');
    return text + QStringLiteral("-----END CERTIFICATE-----\n");
}

bool runCertutil(const QStringList& arguments) {
    QProcess certutil;
    certutil.setProcessChannelMode(QProcess::MergedChannels);
    certutil.start(QStringLiteral("certutil"), arguments);
    return certutil.waitForFinished(120000) && certutil.exitStatus() == QProcess::NormalExit &&
           certutil.exitCode() == 0;
}

} // namespace

QList<QByteArray> ProbeTrustedCertificates() {
    QList<QByteArray> found;
    readPemFile(chosenPlace(X509_get_default_cert_file_env(), X509_get_default_cert_file()),
                found);
    const QString folders =
        chosenPlace(X509_get_default_cert_dir_env(), X509_get_default_cert_dir());
    for (const QString& folder : folders.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        QDirIterator entries(folder, QDir::Files | QDir::Readable);
        while (entries.hasNext())
            readPemFile(entries.next(), found);
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

QString TrustDatabaseFor(const QList<QByteArray>& certificates, const QString& cacheFolder) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QByteArray& der : certificates)
        hash.addData(QCryptographicHash::hash(der, QCryptographicHash::Sha256));
    const QString key = QString::fromLatin1(hash.result().toHex().left(24));
    const QString database = cacheFolder + QLatin1Char('/') + key;
    if (QFileInfo::exists(database + QStringLiteral("/cert9.db")))
        return database;

    // Made aside and renamed into place, so a copy of the program starting
    // at the same time never reads a half-made database.
    const QString building =
        cacheFolder + QStringLiteral("/.building-%1-%2").arg(key).arg(::getpid());
    QDir(building).removeRecursively();
    if (!QDir().mkpath(building + QStringLiteral("/certificates")))
        return {};
    const QString where = QStringLiteral("sql:") + building;
    QString batch;
    for (qsizetype i = 0; i < certificates.size(); ++i) {
        const QString file = building + QStringLiteral("/certificates/%1.pem").arg(i);
        QFile pem(file);
        if (!pem.open(QIODevice::WriteOnly) || pem.write(pemOf(certificates[i]).toLatin1()) < 0)
            return {};
        batch += QStringLiteral("-A -n probe-trust-%1 -t C,, -i %2\n").arg(i).arg(file);
    }
    QFile batchFile(building + QStringLiteral("/batch"));
    if (!batchFile.open(QIODevice::WriteOnly) || batchFile.write(batch.toLocal8Bit()) < 0)
        return {};
    batchFile.close();
    const bool made =
        runCertutil({QStringLiteral("-N"), QStringLiteral("--empty-password"),
                     QStringLiteral("-d"), where}) &&
        (certificates.isEmpty() || runCertutil({QStringLiteral("-B"), QStringLiteral("-i"),
                                                batchFile.fileName(), QStringLiteral("-d"),
                                                where}));
    QDir(building + QStringLiteral("/certificates")).removeRecursively();
    QFile::remove(batchFile.fileName());
    if (!made || (!QDir().rename(building, database) &&
                  !QFileInfo::exists(database + QStringLiteral("/cert9.db")))) {
        QDir(building).removeRecursively();
        return {};
    }
    QDir(building).removeRecursively(); // another copy made it first
    for (const QString& other : QDir(cacheFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (other != key && !other.startsWith(QLatin1Char('.')))
            QDir(cacheFolder + QLatin1Char('/') + other).removeRecursively();
    return database;
}

bool InstallTrustDatabase(const QString& database, const QString& home) {
    const QString target = home + QStringLiteral("/.pki/nssdb");
    if (!QDir().mkpath(target))
        return false;
    for (const QString& name : DatabaseFiles)
        if (!QFile::copy(database + QLatin1Char('/') + name, target + QLatin1Char('/') + name))
            return false;
    return true;
}

} // namespace catalogue
