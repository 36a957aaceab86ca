// The whole program's web server against hostile requests: paths that try
// to leave the data folder, pages of other sites that point their name at
// this machine, other computers while the pages are not shared, idle and
// broken clients. Nothing outside the data folder is ever served, and the
// program's memory and descriptors come back to where they were.
#include "catalogue/encodings.h"
#include "network_namespaces.h"
#include "program_run.h"
#include "support/http_test_client.h"
#include "support/temp_home.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>

#include <chrono>
#include <thread>

using e2e::ProgramRun;
using testsupport::HttpReply;
using testsupport::HttpTestClient;
using testsupport::TempHome;

namespace {

constexpr char Secret[] = "OUTSIDE-SECRET";

// A value of /proc/<pid>/status in KiB ("VmRSS", "VmPeak").
qint64 statusKb(qint64 pid, const char* name) {
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(QByteArray(name) + ':'))
            return line.mid(qstrlen(name) + 1).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

int openDescriptors(qint64 pid) {
    DIR* dir = ::opendir(QStringLiteral("/proc/%1/fd").arg(pid).toLocal8Bit().constData());
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(dir))
        count += entry->d_name[0] != '.' ? 1 : 0;
    ::closedir(dir);
    return count;
}

// The count once it has stopped changing: the program closes its side of
// an answered connection a moment after the client has read the answer.
int settledDescriptors(qint64 pid) {
    int last = openDescriptors(pid);
    for (int i = 0; i < 25; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const int now = openDescriptors(pid);
        if (now == last)
            return now;
        last = now;
    }
    return last;
}

HttpReply ask(const QByteArray& address, quint16 port, const QByteArray& request) {
    HttpTestClient client(address, port);
    client.send(request);
    return testsupport::parseReply(client.readToEnd());
}

class ServerGuard : public ::testing::Test {
protected:
    void SetUp() override {
        port = e2e::freePort();
        data = home.path() + "/Documents/pagorama";
        home.write("Documents/pagorama/inside.htm", "INSIDE-PAGE");
        home.write("Documents/pagorama/images/history/1.BMP", "HISTORY-PICTURE");
        home.write("Documents/pagorama/images/1.BMP", "PICTURE");
        // What must never be served: files beside and above the data folder,
        // the Favorites, the settings, and links from inside leading out.
        home.write("secret.txt", QByteArray(Secret) + "-home");
        home.write("Documents/secret.txt", QByteArray(Secret) + "-documents");
        home.write("Documents/pagorama2/x.htm", QByteArray(Secret) + "-sibling");
        home.write("Favorites/Weather.url", "[InternetShortcut]\r\nURL=http://127.0.0.1:9/\r\n");
        home.write("Favorites/Secret.url",
                   "[InternetShortcut]\r\nURL=http://127.0.0.1:9/" + QByteArray(Secret) + "\r\n");
        QFile::link(home.path() + "/secret.txt", data + "/link_out.txt");
        QFile::link(home.path(), data + "/linkdir");
    }
    // The program then runs in a namespace of the test's own, beside another
    // computer; false where none can be made.
    bool makeNetwork() {
        network = std::make_unique<e2e::NetworkNamespaces>();
        return network->error().isEmpty();
    }
    void startProgram(const QByteArray& extraData = {}) {
        program = std::make_unique<ProgramRun>(home);
        if (network)
            program->setNetworkNamespace(network->thisComputer());
        program->writeSettings("[Data]\r\nPort=" + QByteArray::number(port) +
                               "\r\nLogToFile=1\r\nMarker=" + Secret + "-settings\r\n" + extraData +
                               "[General]\r\nStartup=0\r\nHistory=0\r\nAutoStart=0\r\n");
        program->start();
        ASSERT_TRUE(
            ProgramRun::waitUntil([&] { return get("/inside.htm").body == "INSIDE-PAGE"; }, 60000))
            << qPrintable(program->stderrText());
        pid = program->process().processId();
    }
    void TearDown() override {
        if (program) {
            EXPECT_EQ(program->terminate(), 0) << qPrintable(program->stderrText());
        }
    }
    // A request from this computer, to its own loopback address.
    HttpReply send(const QByteArray& request) {
        auto fetch = [&] { return testsupport::fetch(port, request); };
        return network ? network->onThisComputer(fetch) : fetch();
    }
    HttpReply get(const QByteArray& target, const QByteArray& host = "localhost") {
        return send("GET " + target + " HTTP/1.0\r\nHost: " + host + ":" +
                    QByteArray::number(port) + "\r\n\r\n");
    }
    QByteArray editPost(const QByteArray& host, const QByteArray& origin, const QByteArray& body,
                        const QByteArray& length) {
        return "POST /cgi-bin/cgifrm1.exe HTTP/1.1\r\nHost: " + host + "\r\nOrigin: " + origin +
               "\r\nContent-Length: " + length + "\r\n\r\n" + body;
    }
    QByteArray renameBody(const QString& file, const QByteArray& name) {
        return "Edit" + catalogue::HexEncode(QFile::encodeName(home.favorites() + "/" + file)) +
               "=" + name;
    }
    QByteArray localOrigin() { return "http://localhost:" + QByteArray::number(port); }
    QByteArray localHost() { return "localhost:" + QByteArray::number(port); }

    TempHome home;
    QString data;
    quint16 port = 0;
    qint64 pid = 0;
    std::unique_ptr<e2e::NetworkNamespaces> network;
    std::unique_ptr<ProgramRun> program;
};

// Request targets that try to reach outside the data folder.
const QList<QByteArray> TraversalTargets = {
    "/../secret.txt",
    "/../../secret.txt",
    "/../../../../../../../../etc/passwd",
    "/%2e%2e/secret.txt",
    "/%2E%2E/%2E%2E/secret.txt",
    "/%2e%2e%2fsecret.txt",
    "/%2e%2e%2f%2e%2e%2fsecret.txt",
    "/..%2fsecret.txt",
    "/..%2f..%2fsecret.txt",
    "/..%5csecret.txt",
    "/..%5c..%5csecret.txt",
    "/..\\secret.txt",
    "/..\\..\\secret.txt",
    "/\\..\\..\\secret.txt",
    "/.%2e/secret.txt",
    "/%2e./secret.txt",
    "/%252e%252e/secret.txt",
    "/%252e%252e%252fsecret.txt",
    "/..%252fsecret.txt",
    "/%%32%65%%32%65/secret.txt",
    // Overlong UTF-8 forms of "." "/" and "\".
    "/%c0%ae%c0%ae/secret.txt",
    "/%c0%ae%c0%ae%c0%afsecret.txt",
    "/..%c0%afsecret.txt",
    "/..%c1%9csecret.txt",
    "/%e0%80%ae%e0%80%ae/secret.txt",
    "/%f0%80%80%ae%f0%80%80%ae/secret.txt",
    "/%uff0e%uff0e/secret.txt",
    "/%ef%bc%8e%ef%bc%8e/secret.txt",
    // NUL, encoded, in several places.
    "/inside.htm%00.txt",
    "/%00",
    "/../secret.txt%00.htm",
    "/inside.htm%00/../../secret.txt",
    "/%00../secret.txt",
    // Symbolic links from inside to outside.
    "/link_out.txt",
    "/linkdir/secret.txt",
    "/linkdir/Documents/secret.txt",
    "/linkdir/.config/pagorama/pagorama.ini",
    "/linkdir/Favorites/Secret.url",
    // Absolute paths and other forms of the target.
    "//etc/passwd",
    "///etc/passwd",
    "/etc/passwd",
    "/%2fetc%2fpasswd",
    "/%2Fetc/passwd",
    "../secret.txt",
    "..%2f..%2fsecret.txt",
    "http://localhost/../secret.txt",
    "file:///etc/passwd",
    "/C:\\..\\secret.txt",
    "/proc/self/environ",
    "/../../../../../../proc/self/environ",
    "/../.config/pagorama/pagorama.ini",
    "/../../Favorites/Secret.url",
    "/../pagorama2/x.htm",
    "/%2e%2e/pagorama2/x.htm",
    "/./../secret.txt",
    "/images/../../secret.txt",
    "/images/history/../../../secret.txt",
    "/inside.htm/../../secret.txt",
    "/..;/secret.txt",
    "/%2e%2e;/secret.txt",
    "/.../secret.txt",
    "/....//secret.txt",
    "/images%2f..%2f..%2fsecret.txt",
    "/%5c..%5c..%5csecret.txt",
    // Query and fragment tricks.
    "/../secret.txt?x=1",
    "/%3f/../../secret.txt",
    "/%3f/../../../secret.txt",
    "/#/../secret.txt",
    "/%23/../../secret.txt",
    "/../secret.txt#inside.htm",
    // Long paths: deep but still inside the line limit, and many "..".
    "/" + QByteArray("x/../").repeated(10000) + "../secret.txt",
    "/" + QByteArray("../").repeated(5000) + "etc/passwd",
    "/" + QByteArray("a/").repeated(20000) + "secret.txt",
};

// Targets that name a page inside, with tricks in the query or fragment:
// the page is served, nothing else.
const QList<QByteArray> InsideTargets = {
    "/inside.htm?../../secret.txt",  "/inside.htm?file=/etc/passwd",    "/?../../secret.txt",
    "/inside.htm#/../../secret.txt", "/inside.htm?%00../../secret.txt", "/images/../inside.htm",
};

// Whole requests that abuse the request line or header.
QList<QByteArray> abusiveRequests(quint16 port) {
    const QByteArray host = "Host: localhost:" + QByteArray::number(port) + "\r\n";
    return {
        QByteArray("GET /inside.htm") + '\0' + "/../../secret.txt HTTP/1.0\r\n\r\n",
        "GET /../secret.txt\rX: y HTTP/1.0\r\n\r\n",
        "GET\t/../secret.txt\tHTTP/1.0\r\n\r\n",
        "GET /inside.htm HTTP/1.1\rSet-Cookie: a=b\r\n" + host + "\r\n",
        "GET /../secret.txt HTTP/9.9\r\n\r\n",
        "get /../secret.txt http/1.1\r\n" + host + "\r\n",
        "HEAD /../secret.txt\r\n\r\n",
        "PUT /../secret.txt HTTP/1.0\r\n\r\n",
        "POST /../secret.txt HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc",
        "GET /../secret.txt HTTP/1.0\r\nHost: localhost\r\nHost: evil.example\r\n\r\n",
        QByteArray(70000, 'a') + "\r\nGET /../secret.txt HTTP/1.0\r\n\r\n",
        "GET /inside.htm HTTP/1.0\r\nContent-Length: 2147483647\r\n\r\n",
        "GET /../secret.txt HTTP/1.0\r\n\r\nGET /../secret.txt HTTP/1.0\r\n\r\n",
    };
}

} // namespace

TEST_F(ServerGuard, TraversalAndAbuseCorpusServesNothingFromOutside) {
    startProgram();
    QList<QByteArray> requests;
    const QByteArray host = "Host: localhost:" + QByteArray::number(port) + "\r\n";
    for (const QByteArray& target : TraversalTargets)
        for (const char* method : {"GET ", "HEAD "})
            requests << method + target + " HTTP/1.0\r\n" + host + "\r\n";
    const qsizetype outsideRequests = requests.size();
    for (const QByteArray& target : InsideTargets)
        for (const char* method : {"GET ", "HEAD "})
            requests << method + target + " HTTP/1.0\r\n" + host + "\r\n";
    requests << abusiveRequests(port);
    ASSERT_GE(TraversalTargets.size() + InsideTargets.size() + abusiveRequests(port).size(), 60);

    auto runCorpus = [&](bool check) {
        for (qsizetype i = 0; i < requests.size(); ++i) {
            const HttpReply reply = testsupport::fetch(port, requests[i]);
            if (!check)
                continue;
            const QByteArray shown = requests[i].left(120);
            EXPECT_FALSE(reply.raw.contains(Secret)) << shown.constData();
            EXPECT_FALSE(reply.raw.contains("root:x:0:0")) << shown.constData();
            EXPECT_FALSE(reply.raw.contains("XDG_CONFIG_HOME=")) << shown.constData();
            if (i < outsideRequests) {
                EXPECT_FALSE(reply.statusLine.contains(" 200 ")) << shown.constData();
                EXPECT_TRUE(reply.statusLine.endsWith("404 Not Found") ||
                            reply.statusLine.endsWith("400 Bad Request"))
                    << shown.constData() << " -> " << reply.statusLine.constData();
            }
        }
    };
    // Two passes warm the program up (the log display full, buffers made);
    // the measured passes must then leave memory and descriptors as they were.
    runCorpus(true);
    runCorpus(false);
    const int descriptorsBefore = settledDescriptors(pid);
    ASSERT_GT(descriptorsBefore, 0);
    const qint64 rssBefore = statusKb(pid, "VmRSS");
    for (int pass = 0; pass < 8; ++pass)
        runCorpus(pass == 0);
    EXPECT_TRUE(
        ProgramRun::waitUntil([&] { return openDescriptors(pid) <= descriptorsBefore; }, 10000))
        << openDescriptors(pid) << " descriptors, " << descriptorsBefore << " before";
    const qint64 rssAfter = statusKb(pid, "VmRSS");
    EXPECT_LT(rssAfter - rssBefore, 1024) << rssBefore << " KiB before, " << rssAfter << " after";
    RecordProperty("corpus_requests", int(requests.size()));
    RecordProperty("rss_kib_before", int(rssBefore));
    RecordProperty("rss_kib_after", int(rssAfter));

    // The pages themselves are still served.
    EXPECT_EQ(get("/inside.htm").body, "INSIDE-PAGE");
    EXPECT_EQ(get("/images/1.BMP").body, "PICTURE");
}

TEST_F(ServerGuard, AnotherSitesNameAndOtherComputersAreRefused) {
    if (!makeNetwork())
        GTEST_SKIP() << qPrintable(network->error());
    std::printf("%s", qPrintable(network->listing()));
    startProgram();
    const QByteArray evil = "evil.example:" + QByteArray::number(port);
    // A page of evil.example whose name now points at this machine: its
    // requests carry its own name as Host and as Origin.
    const HttpReply page =
        send("GET /inside.htm HTTP/1.1\r\nHost: " + evil + "\r\nOrigin: http://" + evil + "\r\n\r\n");
    EXPECT_EQ(page.statusLine, "HTTP/1.1 403 Forbidden");
    EXPECT_FALSE(page.raw.contains("INSIDE-PAGE"));
    const QByteArray evilBody = renameBody("Weather.url", "Evil");
    const HttpReply post = send(
        editPost(evil, "http://" + evil, evilBody, QByteArray::number(evilBody.size())));
    EXPECT_EQ(post.statusLine, "HTTP/1.1 403 Forbidden");
    EXPECT_TRUE(QFileInfo::exists(home.favorites() + "/Weather.url"));
    EXPECT_FALSE(QFileInfo::exists(home.favorites() + "/Evil.URL"));
    // Both refusals are in the server log.
    EXPECT_TRUE(ProgramRun::waitUntil(
        [&] { return home.read(".config/pagorama/pagorama.log").count("evil.example") >= 2; },
        5000))
        << home.read(".config/pagorama/pagorama.log").constData();

    // HTTP/1.0 without Host is accepted; any form of this machine's
    // loopback names is too.
    EXPECT_EQ(send("GET /inside.htm HTTP/1.0\r\n\r\n").body, "INSIDE-PAGE");
    EXPECT_EQ(get("/inside.htm", "127.0.0.1").body, "INSIDE-PAGE");
    EXPECT_EQ(get("/inside.htm", "[::1]").body, "INSIDE-PAGE");

    // Not shared: the server does not listen on this computer's network
    // address, and that address given as Host is refused too.
    const QByteArray lan = e2e::NetworkNamespaces::ThisAddress;
    const int peerError = network->onPeer([&] {
        HttpTestClient direct(lan, port, 3000);
        return direct.isConnected() ? 0 : direct.connectError();
    });
    EXPECT_EQ(peerError, ECONNREFUSED);
    EXPECT_EQ(get("/inside.htm", lan).statusLine, "HTTP/1.0 403 Forbidden");

    // The same post from the editor page of this machine goes through.
    const QByteArray body = renameBody("Weather.url", "Forecast");
    const HttpReply own =
        send(editPost(localHost(), localOrigin(), body, QByteArray::number(body.size())));
    EXPECT_TRUE(own.statusLine.contains(" 200 ")) << own.raw.left(300).constData();
    EXPECT_TRUE(QFileInfo::exists(home.favorites() + "/Forecast.URL"));
}

TEST_F(ServerGuard, SharedPagesKeepTheHistoryAndTheEditsOnThisMachine) {
    if (!makeNetwork())
        GTEST_SKIP() << qPrintable(network->error());
    startProgram("ShareOnNetwork=1\r\n");
    home.write("Documents/pagorama/history.htm", "HISTORY-PAGE");
    const QByteArray lan = e2e::NetworkNamespaces::ThisAddress;
    const QByteArray host = "Host: " + lan + ":" + QByteArray::number(port) + "\r\n";
    auto fromPeer = [&](const QByteArray& request) {
        return network->onPeer([&] { return ask(lan, port, request); });
    };
    auto fromLan = [&](const QByteArray& target) {
        return fromPeer("GET " + target + " HTTP/1.0\r\n" + host + "\r\n");
    };
    EXPECT_EQ(fromLan("/inside.htm").body, "INSIDE-PAGE");
    EXPECT_EQ(fromLan("/images/1.BMP").body, "PICTURE");
    const HttpReply history = fromLan("/history.htm");
    EXPECT_EQ(history.statusLine, "HTTP/1.0 403 Forbidden");
    EXPECT_TRUE(history.body.contains("Only the computer that runs Pagorama may use this page."))
        << history.body.constData();
    EXPECT_EQ(fromLan("/./history.htm").statusLine, "HTTP/1.0 403 Forbidden");
    EXPECT_EQ(fromLan("/images/history/1.BMP").statusLine, "HTTP/1.0 403 Forbidden");
    EXPECT_EQ(fromLan("/images/%68istory/1.BMP").statusLine, "HTTP/1.0 403 Forbidden");
    EXPECT_FALSE(fromLan("/history.xml").statusLine.contains(" 200 "));

    const QByteArray body = renameBody("Weather.url", "Shared");
    const HttpReply post =
        fromPeer(editPost(lan + ":" + QByteArray::number(port),
                          "http://" + lan + ":" + QByteArray::number(port), body,
                          QByteArray::number(body.size())));
    EXPECT_TRUE(post.statusLine.endsWith("403 Forbidden")) << post.statusLine.constData();
    EXPECT_TRUE(QFileInfo::exists(home.favorites() + "/Weather.url"));

    // On this machine itself everything stays as it was.
    EXPECT_EQ(get("/history.htm").body, "HISTORY-PAGE");
    EXPECT_EQ(get("/images/history/1.BMP").body, "HISTORY-PICTURE");
}

TEST_F(ServerGuard, IdleClientsOverlongLinesAndOddLengths) {
    startProgram();
    const int descriptorsBefore = settledDescriptors(pid);

    // 500 connections that ask nothing do not keep anyone else out.
    {
        std::vector<std::unique_ptr<HttpTestClient>> idle;
        for (int i = 0; i < 500; ++i) {
            idle.push_back(std::make_unique<HttpTestClient>(port));
            ASSERT_TRUE(idle.back()->isConnected()) << i;
        }
        EXPECT_TRUE(ProgramRun::waitUntil(
            [&] { return openDescriptors(pid) >= descriptorsBefore + 500; }, 10000));
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(get("/inside.htm").body, "INSIDE-PAGE") << i;
    }
    EXPECT_TRUE(
        ProgramRun::waitUntil([&] { return openDescriptors(pid) <= descriptorsBefore; }, 10000))
        << openDescriptors(pid) << " descriptors, " << descriptorsBefore << " before";

    // A client that connects and says nothing is let go after 30 seconds;
    // it waits while the checks below run.
    QElapsedTimer silentFor;
    silentFor.start();
    HttpTestClient silent(port, 60000);
    ASSERT_TRUE(silent.isConnected());

    // A request right behind an over-long line, in one send and in two.
    const QByteArray overlong = QByteArray(70000, 'a') + "\r\n";
    const QByteArray request = "GET /inside.htm HTTP/1.0\r\n\r\n";
    EXPECT_EQ(testsupport::fetch(port, overlong + request).body, "INSIDE-PAGE");
    {
        HttpTestClient client(port);
        client.send(overlong);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        client.send(request);
        EXPECT_EQ(testsupport::parseReply(client.readToEnd()).body, "INSIDE-PAGE");
    }

    // A length with a blank after it is still the body's length.
    const QByteArray body = renameBody("Weather.url", "Forecast");
    const HttpReply renamed = testsupport::fetch(
        port, editPost(localHost(), localOrigin(), body, QByteArray::number(body.size()) + " "));
    EXPECT_TRUE(renamed.statusLine.contains(" 200 ")) << renamed.raw.left(300).constData();
    EXPECT_TRUE(QFileInfo::exists(home.favorites() + "/Forecast.URL"));
    EXPECT_FALSE(QFileInfo::exists(home.favorites() + "/Weather.url"));

    // A huge declared length is refused before anything is reserved for it.
    const qint64 peakBefore = statusKb(pid, "VmPeak");
    const HttpReply huge =
        testsupport::fetch(port, editPost(localHost(), localOrigin(), QByteArray(), "2147483647"));
    EXPECT_EQ(huge.statusLine, "HTTP/1.1 413 Payload Too Large");
    const qint64 peakAfter = statusKb(pid, "VmPeak");
    EXPECT_LT(peakAfter - peakBefore, 512 * 1024) << peakBefore << " KiB before, " << peakAfter;

    // An unknown version is refused, never copied into the answer.
    const HttpReply injected =
        testsupport::fetch(port, "GET /inside.htm HTTP/1.1\rSet-Cookie: a=b\r\n" +
                                     ("Host: " + localHost()) + "\r\n\r\n");
    EXPECT_EQ(injected.statusLine, "HTTP/1.0 400 Bad Request");
    EXPECT_FALSE(injected.raw.contains("Set-Cookie"));

    EXPECT_TRUE(silent.readToEnd().isEmpty());
    EXPECT_TRUE(silent.sawEnd()) << "still open after " << silentFor.elapsed() << " ms";
    EXPECT_GE(silentFor.elapsed(), 25000);
    EXPECT_LT(silentFor.elapsed(), 45000);
}
