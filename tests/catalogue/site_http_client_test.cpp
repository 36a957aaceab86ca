#include "catalogue/site_http_client.h"
#include "support/test_site.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/resource.h>

using catalogue::HttpClientError;
using catalogue::HttpErrorKind;
using catalogue::TSiteHttpClient;
using testsupport::TestSite;

namespace {

HttpErrorKind failureOf(TSiteHttpClient& client, const QByteArray& method, const QString& url) {
    try {
        client.request(method, url);
    } catch (const HttpClientError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no error for " << url.toStdString();
    return HttpErrorKind::Client;
}

long peakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

TEST(SiteHttpClientRequest, SplitsTheAddressAndSendsOnlyTheFourLines) {
    EXPECT_EQ(TSiteHttpClient::requestText("HEAD", "HTTP://Example.org:8080/a/b?c=d#e"),
              "HEAD /a/b?c=d#e HTTP/1.1\r\nHost: Example.org\r\nAccept: */*\r\n"
              "Connection: close\r\n\r\n");
    EXPECT_EQ(TSiteHttpClient::requestText("GET", "http://example.org"),
              "GET / HTTP/1.1\r\nHost: example.org\r\nAccept: */*\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(TSiteHttpClient::splitAddress("http://example.org").port, 80);
    EXPECT_EQ(TSiteHttpClient::splitAddress("example.org:81/x").port, 81);
    EXPECT_EQ(TSiteHttpClient::splitAddress("example.org:81/x").path, "/x");

    TestSite site;
    TSiteHttpClient client;
    client.head(site.url("/title"));
    const QList<TestSite::Request> requests = site.requests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].raw, "HEAD /title HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n"
                               "Connection: close\r\n\r\n");
}

TEST(SiteHttpClientAnswer, HeaderLinesAndTheThreeKindsOfBody) {
    TestSite site;
    TSiteHttpClient client;

    client.head(site.url("/title"));
    EXPECT_EQ(client.statusCode(), 200);
    EXPECT_EQ(client.headerLines().first(), "HTTP/1.1 200 OK");
    EXPECT_TRUE(client.headerLines().contains("Content-Type: text/html"));
    EXPECT_TRUE(client.body().isEmpty()) << "a HEAD reads no body";

    client.get(site.url("/title"));
    EXPECT_EQ(client.body(), TestSite::page("Test Title"));

    client.get(site.url("/chunked"));
    EXPECT_EQ(client.body(), "<html><head><title>Chunked</title></head><body></body></html>");

    client.get(site.url("/close-delimited"));
    EXPECT_EQ(client.body(), TestSite::page("Closed", "ended by closing"));

    client.get(site.url("/status/404"));
    EXPECT_EQ(client.statusCode(), 404);
}

TEST(SiteHttpClientAnswer, MisbehavingServersGiveTheirCodesWithoutHanging) {
    TestSite site;
    TSiteHttpClient client;

    client.get(site.url("/garbage-status"));
    EXPECT_EQ(client.statusCode(), -1);
    client.get(site.url("/garbage"));
    EXPECT_EQ(client.statusCode(), -1);

    EXPECT_EQ(failureOf(client, "GET", site.url("/bad-chunk")), HttpErrorKind::Transfer);
    EXPECT_TRUE(client.headerLines().isEmpty()) << "a failed request keeps no header lines";
    EXPECT_EQ(failureOf(client, "GET", site.url("/endless-headers")), HttpErrorKind::Message);

    client.setTimeoutMs(300);
    EXPECT_EQ(failureOf(client, "HEAD", site.url("/stall")), HttpErrorKind::TimedOut);

    // Nothing listens on the port of a site that has gone.
    QString gone;
    {
        TestSite closed;
        gone = closed.url("/");
    }
    EXPECT_EQ(failureOf(client, "HEAD", gone), HttpErrorKind::Other);
    EXPECT_EQ(failureOf(client, "HEAD", "http://no-such-host.invalid/"), HttpErrorKind::Other);
}

TEST(SiteHttpClientAnswer, HugeBodiesAreCutAtTheLimitAndMemoryStaysBounded) {
    TestSite site;
    TSiteHttpClient client;
    const long before = peakResidentKiB();
    client.get(site.url("/big"));
    EXPECT_EQ(client.body().size(), TSiteHttpClient::MaxBodyBytes);
    client.get(site.url("/big-close"));
    EXPECT_EQ(client.body().size(), TSiteHttpClient::MaxBodyBytes);
    // 100 MiB were offered twice; far less may be held at any time.
    EXPECT_LT(peakResidentKiB() - before, 64 * 1024);
}

TEST(SiteHttpClientWaiting, MainThreadKeepsEventsFlowingAndCancelEndsTheWait) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name};
    QCoreApplication app(argc, argv);
    TestSite site;
    TSiteHttpClient client;
    client.setTimeoutMs(20000);

    bool timerRan = false;
    QTimer::singleShot(50, [&] {
        timerRan = true;
        client.cancel();
    });
    EXPECT_EQ(failureOf(client, "GET", site.url("/stall")), HttpErrorKind::Canceled);
    EXPECT_TRUE(timerRan);

    // A cancel is used up by the request it ended.
    client.get(site.url("/title"));
    EXPECT_EQ(client.statusCode(), 200);
}
