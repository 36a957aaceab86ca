#pragma once
// The browser that takes the pictures trusts what the probe trusts: every
// certificate in the files OpenSSL reads for the probe (the system's store,
// or SSL_CERT_FILE and SSL_CERT_DIR where set) is put, trusted for servers,
// into an NSS certificate database that the browser reads as its own.
// Making the database takes seconds, so it is kept in the cache folder and
// made again only when the set of certificates changes.
#include <QByteArray>
#include <QList>
#include <QString>

namespace catalogue {

// The DER bytes of every certificate the probe trusts, each once, sorted.
QList<QByteArray> ProbeTrustedCertificates();

// A folder holding an NSS database (cert9.db, key4.db, pkcs11.txt) with the
// given certificates trusted for servers, under cacheFolder; empty when it
// cannot be made (no certutil, an unwritable folder). Databases of other
// certificate sets in cacheFolder are removed once a new one is made.
QString TrustDatabaseFor(const QList<QByteArray>& certificates, const QString& cacheFolder);

// Copies the database into home's ".pki/nssdb", where the browser looks for
// it when HOME names that folder. False when a file could not be copied.
bool InstallTrustDatabase(const QString& database, const QString& home);

} // namespace catalogue
