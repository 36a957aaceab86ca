#include "catalogue/site_http_client.h"
#include "support/test_site.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

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
    // A name with a label over 63 letters fails before any query is made, so
    // the test asks no name server.
    EXPECT_EQ(failureOf(client, "HEAD", "http://" + QString(64, 'a') + ".invalid/"),
              HttpErrorKind::Other);
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

    // A cancelled client sends nothing more: later requests fail at once
    // without connecting, until the cancel is cleared.
    const int connections = site.connectionCount();
    EXPECT_EQ(failureOf(client, "GET", site.url("/title")), HttpErrorKind::Canceled);
    EXPECT_EQ(failureOf(client, "HEAD", "http://localhost:" + QString::number(site.port()) + "/"),
              HttpErrorKind::Canceled);
    EXPECT_EQ(site.connectionCount(), connections);
    client.resetCancel();
    client.get(site.url("/title"));
    EXPECT_EQ(client.statusCode(), 200);

    // Cancelling every client reaches one that waits on another thread, and
    // leaves clients made afterwards alone.
    TSiteHttpClient worker;
    worker.setTimeoutMs(20000);
    HttpErrorKind workerFailure = HttpErrorKind::Client;
    std::thread thread([&] { workerFailure = failureOf(worker, "GET", site.url("/stall")); });
    while (site.connectionCount() == connections + 1)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    TSiteHttpClient::cancelEveryClient();
    thread.join();
    EXPECT_EQ(workerFailure, HttpErrorKind::Canceled);
    EXPECT_EQ(failureOf(client, "GET", site.url("/title")), HttpErrorKind::Canceled);
    TSiteHttpClient later;
    later.get(site.url("/title"));
    EXPECT_EQ(later.statusCode(), 200);
}

TEST(SiteHttpClientAddress, HostNamesAndIPv6LiteralsAreReached) {
    EXPECT_EQ(TSiteHttpClient::splitAddress("http://[::1]:8080/x").host, "[::1]");
    EXPECT_EQ(TSiteHttpClient::splitAddress("http://[::1]:8080/x").port, 8080);
    EXPECT_EQ(TSiteHttpClient::splitAddress("http://[::1]/x").port, 80);
    EXPECT_EQ(TSiteHttpClient::requestText("GET", "http://[::1]:8080/x"),
              "GET /x HTTP/1.1\r\nHost: [::1]\r\nAccept: */*\r\nConnection: close\r\n\r\n");

    // A one-answer server on the IPv6 loopback.
    const int listener = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(listener);
        GTEST_SKIP() << "this machine has no IPv6 loopback";
    }
    ASSERT_EQ(::listen(listener, 4), 0);
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::thread server([listener] {
        const int peer = ::accept(listener, nullptr, nullptr);
        char buffer[4096];
        [[maybe_unused]] const ssize_t got = ::recv(peer, buffer, sizeof buffer, 0);
        const QByteArray answer = TestSite::response(200, "text/html", TestSite::page("Six"));
        [[maybe_unused]] const ssize_t sent = ::send(peer, answer.constData(), answer.size(), 0);
        ::close(peer);
    });
    TSiteHttpClient client;
    client.get(QString("http://[::1]:%1/").arg(ntohs(address.sin6_port)));
    server.join();
    ::close(listener);
    EXPECT_EQ(client.statusCode(), 200);
    EXPECT_TRUE(client.body().contains("Six"));

    // A name is looked up too (here from the hosts file).
    TestSite site;
    client.get("http://localhost:" + QString::number(site.port()) + "/title");
    EXPECT_EQ(client.statusCode(), 200);
}

// A name server that never answers: the look-up of a name must still end
// with the client's time-out, end at once on a cancel, and let the main
// thread's events flow meanwhile. The name server is a silent socket on
// 127.0.0.1, made the system's only one inside a mount namespace of a child
// process, so no query leaves this machine.
TEST(SiteHttpClientAddress, ALookUpThatHangsObeysTheTimeOutAndCancel) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root for a mount namespace";
    QTemporaryDir dir;
    const QString resolvConf = dir.filePath("resolv.conf");
    {
        QFile file(resolvConf);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("nameserver 127.0.0.1\noptions timeout:30 attempts:1\n");
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // 2: no namespace here; 3: no silent name server; then one bit per failed check.
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(QFile::encodeName(resolvConf).constData(), "/etc/resolv.conf", nullptr, MS_BIND,
                    nullptr) != 0)
            ::_exit(2);
        const int silent = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(53);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            ::_exit(3);

        int argc = 1;
        char name[] = "lookup";
        char* argv[] = {name};
        QCoreApplication app(argc, argv);
        int result = 0;
        QElapsedTimer took;

        TSiteHttpClient timed;
        timed.setTimeoutMs(400);
        took.start();
        if (failureOf(timed, "HEAD", "http://hanging-name.test/") != HttpErrorKind::TimedOut ||
            took.elapsed() > 3000)
            result |= 4;

        TSiteHttpClient cancelled;
        cancelled.setTimeoutMs(20000);
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(10);
        QTimer::singleShot(300, [&] { cancelled.cancel(); });
        took.restart();
        if (failureOf(cancelled, "GET", "http://hanging-name.test/") != HttpErrorKind::Canceled ||
            took.elapsed() > 3000)
            result |= 8;
        if (ticks < 10)
            result |= 16; // the main thread's events stood still during the look-up
        ::_exit(result);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2 || WEXITSTATUS(status) == 3)
        GTEST_SKIP() << "cannot set up a silent name server here (" << WEXITSTATUS(status) << ")";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
