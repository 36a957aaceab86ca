// The probe's questions for 300 favourites on a local https site (status,
// redirects, type, title: what the site worker asks), beside the same
// questions on the same site over plain http, and beside the same requests
// sent through a plain loop of blocking OpenSSL connections that verify the
// same way. Prints milliseconds per favourite and the ratios.
#include "catalogue/site_probe.h"
#include "support/test_certificates.h"
#include "support/test_site.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

namespace {

constexpr int favourites = 300;
const QStringList targets = {"/title", "/redirect/302", "/status/404", "/type/html"};

double probeAll(const testsupport::TestSite& site) {
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < favourites; ++i) {
        catalogue::SiteProbe probe(nullptr, true);
        QString url = site.url(targets[i % targets.size()]);
        probe.FetchStatus(url, false);
        probe.ResolveRedirects(url);
        if (catalogue::IsReachableCode(probe.FetchStatus(url, false)) && probe.IsPageOrPicture(url))
            probe.PageTitle(url);
    }
    return clock.nsecsElapsed() / 1e6;
}

// One verified TLS request on a blocking socket, read to the close.
void plainTlsRequest(SSL_CTX* context, quint16 port, const QByteArray& method,
                     const QByteArray& path) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        SSL* ssl = SSL_new(context);
        SSL_set_fd(ssl, fd);
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), "127.0.0.1");
        if (SSL_connect(ssl) == 1) {
            const QByteArray text = method + " " + path +
                                    " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n"
                                    "Connection: close\r\n\r\n";
            SSL_write(ssl, text.constData(), int(text.size()));
            char buffer[16384];
            while (SSL_read(ssl, buffer, sizeof buffer) > 0) {
            }
        }
        SSL_free(ssl);
    }
    ::close(fd);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    const testsupport::TestAuthority authority(QStringLiteral("Benchmark authority"));
    const testsupport::ProbeTrust trust(folder.path(), {authority.certificatePem()});
    testsupport::TestSite secure(authority.issue());
    testsupport::TestSite plain;

    probeAll(secure); // the first connection reads the trusted certificates
    secure.clearLog();
    const double secureMs = probeAll(secure);
    const QList<testsupport::TestSite::Request> sent = secure.requests();
    const double plainHttpMs = probeAll(plain);

    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    SSL_CTX_load_verify_locations(context, QFile::encodeName(trust.file()).constData(), nullptr);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    QElapsedTimer clock;
    clock.start();
    for (const testsupport::TestSite::Request& request : sent)
        plainTlsRequest(context, secure.port(), request.method, request.path);
    const double loopMs = clock.nsecsElapsed() / 1e6;
    SSL_CTX_free(context);

    std::printf("favourites: %d, requests: %lld (%.1f per favourite)\n", favourites,
                static_cast<long long>(sent.size()), double(sent.size()) / favourites);
    std::printf("probe over https:     %8.3f ms per favourite\n", secureMs / favourites);
    std::printf("probe over http:      %8.3f ms per favourite\n", plainHttpMs / favourites);
    std::printf("blocking TLS loop:    %8.3f ms per favourite (the same requests only)\n",
                loopMs / favourites);
    std::printf("ratio https / http:   %.2f\n", secureMs / plainHttpMs);
    std::printf("ratio probe / loop:   %.2f\n", secureMs / loopMs);
    return 0;
}
