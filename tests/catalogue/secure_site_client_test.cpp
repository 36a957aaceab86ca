// The probe's client and the probe itself on "https://" addresses: real TLS
// against local sites whose certificates the test makes and trusts only
// through SSL_CERT_FILE.
#include "catalogue/site_http_client.h"
#include "catalogue/site_probe.h"
#include "support/test_certificates.h"
#include "support/test_site.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace catalogue;
using testsupport::ProbeTrust;
using testsupport::SelfSignedCertificate;
using testsupport::ServerNames;
using testsupport::TestAuthority;
using testsupport::TestSite;

namespace {

// One authority for the whole file: making keys is the slow part.
const TestAuthority& authority() {
    static const TestAuthority made(QStringLiteral("Pagorama probe test authority"));
    return made;
}

HttpErrorKind failureOf(TSiteHttpClient& client, const QByteArray& method, const QString& url) {
    try {
        client.request(method, url);
    } catch (const HttpClientError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no error for " << url.toStdString();
    return HttpErrorKind::Client;
}

// Only the test authority is trusted while it lives.
struct TrustedAuthority {
    QTemporaryDir folder;
    ProbeTrust trust{folder.path(), {authority().certificatePem()}};
};

// A TCP listener on 127.0.0.1. Silent, it accepts and says nothing; with an
// answer, it sends that to its first client as soon as the client has
// written something, and closes.
class RawServer {
public:
    explicit RawServer(QByteArray answer = {}) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd_, 8);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        if (!answer.isEmpty())
            answering_ = std::thread([this, answer] {
                const int client = ::accept(fd_, nullptr, nullptr);
                if (client < 0)
                    return;
                char scratch[4096];
                if (::recv(client, scratch, sizeof scratch, 0) > 0)
                    ::send(client, answer.constData(), size_t(answer.size()), MSG_NOSIGNAL);
                ::close(client);
            });
    }
    ~RawServer() {
        ::shutdown(fd_, SHUT_RDWR);
        if (answering_.joinable())
            answering_.join();
        ::close(fd_);
    }
    QString url() const { return QStringLiteral("https://127.0.0.1:%1/").arg(port_); }

private:
    int fd_;
    quint16 port_;
    std::thread answering_;
};

} // namespace

TEST(SecureSiteClient, TrustedSitesAnswerAsPlainOnesDo) {
    TrustedAuthority trusted;
    TestSite site(authority().issue());
    TSiteHttpClient client;

    client.head(site.url("/title"));
    EXPECT_EQ(client.statusCode(), 200);
    EXPECT_TRUE(client.body().isEmpty());
    client.get(site.url("/title"));
    EXPECT_EQ(client.body(), TestSite::page("Test Title"));
    client.get(site.url("/chunked"));
    EXPECT_EQ(client.body(), TestSite::page("Chunked"));
    client.get(site.url("/close-delimited"));
    EXPECT_EQ(client.body(), TestSite::page("Closed", "ended by closing"));
    // By name: the name is checked against the certificate's DNS entry.
    client.get(site.urlAt("localhost", "/a/b"));
    EXPECT_EQ(client.body(), TestSite::page("A B"));
    client.get(site.urlAt("LocalHost", "/a/b"));
    EXPECT_EQ(client.statusCode(), 200) << "host names match without regard to case";

    // The same request text as over plain HTTP.
    const QList<TestSite::Request> requests = site.requests();
    ASSERT_FALSE(requests.isEmpty());
    EXPECT_EQ(requests[0].raw, "HEAD /title HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n"
                               "Connection: close\r\n\r\n");
    EXPECT_EQ(TSiteHttpClient::splitAddress("HTTPS://example.org/x").port, 443);
    EXPECT_EQ(TSiteHttpClient::splitAddress("https://example.org:8443").port, 8443);
}

TEST(SecureSiteClient, LimitsAndTimeOutsHoldOverTls) {
    TrustedAuthority trusted;
    TestSite site(authority().issue());
    TSiteHttpClient client;
    client.get(site.url("/big"));
    EXPECT_EQ(client.body().size(), TSiteHttpClient::MaxBodyBytes);
    client.get(site.url("/big-close"));
    EXPECT_EQ(client.body().size(), TSiteHttpClient::MaxBodyBytes);

    client.setTimeoutMs(400);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(failureOf(client, "GET", site.url("/stall")), HttpErrorKind::TimedOut);
    // A server that accepts but never starts the handshake.
    RawServer silent;
    EXPECT_EQ(failureOf(client, "GET", silent.url()), HttpErrorKind::TimedOut);
    EXPECT_LT(clock.elapsed(), 10000);
}

TEST(SecureSiteClient, CancelEndsAHandshakeThatWaitsOnTheMainThread) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name};
    QCoreApplication app(argc, argv);
    TrustedAuthority trusted;
    RawServer silent;
    TSiteHttpClient client;
    client.setTimeoutMs(20000);
    bool timerRan = false;
    QTimer::singleShot(50, [&] {
        timerRan = true;
        client.cancel();
    });
    EXPECT_EQ(failureOf(client, "GET", silent.url()), HttpErrorKind::Canceled);
    EXPECT_TRUE(timerRan) << "events flow while the handshake waits";
}

TEST(SecureSiteClient, CertificatesThatFailVerificationSendNothing) {
    TrustedAuthority trusted;
    TSiteHttpClient client;
    TestSite selfSigned(SelfSignedCertificate());
    ServerNames elsewhere;
    elsewhere.dns = {QStringLiteral("elsewhere.invalid")};
    elsewhere.ip = {QStringLiteral("10.9.8.7")};
    TestSite wrongHost(authority().issue(elsewhere));
    ServerNames addressOnly;
    addressOnly.dns = {};
    TestSite noName(authority().issue(addressOnly));
    ServerNames nameOnly;
    nameOnly.ip = {};
    TestSite noAddress(authority().issue(nameOnly));

    const QList<std::pair<const char*, QString>> refused = {
        {"self-signed", selfSigned.url("/title")},
        {"issued for another host", wrongHost.url("/title")},
        {"another host by name", wrongHost.urlAt("localhost", "/title")},
        {"address certificate reached by name", noName.urlAt("localhost", "/title")},
        {"name certificate reached by address", noAddress.url("/title")},
    };
    for (const auto& [what, url] : refused) {
        SCOPED_TRACE(what);
        EXPECT_EQ(failureOf(client, "GET", url), HttpErrorKind::Certificate);
        EXPECT_TRUE(client.headerLines().isEmpty());
    }
    // Each was reached, and none was sent a request.
    for (const TestSite* site : {&selfSigned, &wrongHost, &noName, &noAddress}) {
        EXPECT_GT(site->connectionCount(), 0);
        EXPECT_TRUE(site->requests().isEmpty());
    }
    // The certificates that fit are taken.
    client.get(noName.url("/title"));
    EXPECT_EQ(client.statusCode(), 200);
    client.get(noAddress.urlAt("localhost", "/title"));
    EXPECT_EQ(client.statusCode(), 200);
}

TEST(SecureSiteClient, TrustComesFromTheConfiguredStoreAlone) {
    TestSite site(authority().issue());
    TSiteHttpClient client;
    {
        // A store without the test authority: the same site is refused.
        QTemporaryDir folder;
        const ProbeTrust other(folder.path(),
                               {TestAuthority(QStringLiteral("Other")).certificatePem()});
        EXPECT_EQ(failureOf(client, "GET", site.url("/title")), HttpErrorKind::Certificate);
    }
    {
        TrustedAuthority trusted;
        client.get(site.url("/title"));
        EXPECT_EQ(client.statusCode(), 200);
    }
    // A server that speaks no TLS at all is an ordinary failure.
    RawServer plain("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(failureOf(client, "GET", plain.url()), HttpErrorKind::Other);
}

TEST(SecureSiteProbe, OffAnswersUnfetchedAndOnFetchesWithTitle) {
    TrustedAuthority trusted;
    TestSite site(authority().issue());

    SiteProbe off;
    EXPECT_EQ(off.FetchStatus(site.url("/title"), true), CodeHttps);
    EXPECT_TRUE(off.PageTitle(site.url("/title")).isEmpty());
    EXPECT_EQ(site.connectionCount(), 0);

    SiteProbe on(nullptr, true);
    EXPECT_EQ(on.FetchStatus(site.url("/title"), false), 200);
    EXPECT_EQ(on.FetchStatus(site.url("/status/404"), false), 404);
    EXPECT_EQ(on.PageTitle(site.url("/title")), "Test Title");
    EXPECT_TRUE(on.IsPageOrPicture(site.url("/image.png")));
    EXPECT_FALSE(on.IsPageOrPicture(site.url("/download.zip")));
    EXPECT_EQ(
        on.FetchStatus(site.url("/ftp-is-still-not-fetched").replace("https://", "ftp://"), false),
        CodeFtp);
}

TEST(SecureSiteProbe, CertificateFailuresAreTheirOwnCodeAndNotRetried) {
    TrustedAuthority trusted;
    TestSite selfSigned(SelfSignedCertificate());
    SiteProbe probe(nullptr, true);
    EXPECT_EQ(probe.FetchStatus(selfSigned.url("/title"), true), CodeCertificate);
    EXPECT_EQ(CodeCertificate, -96);
    EXPECT_FALSE(probe.BodyFetched());
    EXPECT_EQ(selfSigned.connectionCount(), 1) << "a refused certificate is not asked again";
    EXPECT_TRUE(probe.PageTitle(selfSigned.url("/title")).isEmpty());
}

TEST(SecureSiteProbe, RedirectsCrossBetweenHttpAndHttpsBothWays) {
    TrustedAuthority trusted;
    TestSite secure(authority().issue());
    TestSite plain;
    plain.setRawRoute("/to-secure",
                      TestSite::response(301, "text/html", "moved",
                                         "Location: " + secure.url("/a/b").toUtf8() + "\r\n"));
    secure.setRawRoute("/to-plain",
                       TestSite::response(302, "text/html", "moved",
                                          "Location: " + plain.url("/x/c.html").toUtf8() + "\r\n"));
    secure.setRawRoute("/refresh-to-plain",
                       TestSite::response(200, "text/html",
                                          "<html><head><meta http-equiv=refresh content=\"0; URL=" +
                                              plain.url("/a/b").toUtf8() + "\"></head></html>"));

    SiteProbe probe(nullptr, true);
    QString url = plain.url("/to-secure");
    EXPECT_TRUE(probe.ResolveRedirects(url));
    EXPECT_EQ(url, secure.url("/a/b"));
    EXPECT_EQ(probe.PageTitle(url), "A B");

    url = secure.url("/to-plain");
    EXPECT_TRUE(probe.ResolveRedirects(url));
    EXPECT_EQ(url, plain.url("/x/c.html"));

    url = secure.url("/refresh-to-plain");
    EXPECT_TRUE(probe.ResolveRedirects(url));
    EXPECT_EQ(url, plain.url("/a/b"));

    // Relative targets on a secure site stay on it.
    url = secure.url("/x/root-redirect");
    EXPECT_TRUE(probe.ResolveRedirects(url));
    EXPECT_EQ(url, secure.url("/a/b"));

    EXPECT_EQ(MakeAbsolute("https://s/z", "http://h/x/p", true), "https://s/z");
    EXPECT_EQ(MakeAbsolute("HTTPS://s/z", "http://h/x/p", true), "HTTPS://s/z");
    EXPECT_EQ(MakeAbsolute("https://s/z", "http://h/x/p", false), "http://h/x/https://s/z");

    // Without the setting the redirect target is taken as relative, as before.
    const int secureConnections = secure.connectionCount();
    SiteProbe off;
    url = plain.url("/to-secure");
    off.ResolveRedirects(url);
    EXPECT_TRUE(url.startsWith(plain.url("/https://"))) << url.toStdString();
    EXPECT_EQ(secure.connectionCount(), secureConnections);
}
