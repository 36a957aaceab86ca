#include "catalogue/file_type_icon.h"
#include "catalogue/site_probe.h"
#include "platform/urlcache.h"
#include "support/test_site.h"

#include <QGuiApplication>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace catalogue;
using testsupport::TestSite;

namespace {

QByteArrayList methodsAndRoutes(const TestSite& site) {
    QByteArrayList list;
    for (const TestSite::Request& request : site.requests())
        list << request.method + " " + request.route;
    return list;
}

} // namespace

TEST(SiteProbeAddressParts, FragmentRootFolderAndAbsoluteTargets) {
    EXPECT_EQ(StripFragment("http://h/p#a#b"), "http://h/p");
    EXPECT_EQ(StripFragment("http://h/p"), "http://h/p");
    EXPECT_EQ(SiteRoot("http://h/x/y.html"), "http://h/");
    EXPECT_EQ(SiteRoot("http://h"), "http://h/");
    EXPECT_EQ(UrlFolder("http://h/x/y.html"), "http://h/x/");
    EXPECT_EQ(UrlFolder("http://h"), "http://h/");

    EXPECT_EQ(MakeAbsolute("/a/b", "http://h/x/p"), "http://h/a/b");
    EXPECT_EQ(MakeAbsolute("c.html", "http://h/x/p"), "http://h/x/c.html");
    EXPECT_EQ(MakeAbsolute("HTTP://other/z", "http://h/x/p"), "HTTP://other/z");
    // Only "http://" counts as absolute.
    EXPECT_EQ(MakeAbsolute("https://s/z", "http://h/x/p"), "http://h/x/https://s/z");
}

TEST(SiteProbeFetchStatus, SchemesThatAreNeverFetched) {
    TestSite site;
    SiteProbe probe;
    EXPECT_EQ(probe.FetchStatus("HTTPS://" + site.hostPort() + "/title", true), -98);
    EXPECT_EQ(probe.FetchStatus("ftp://" + site.hostPort() + "/title", false), -97);
    EXPECT_FALSE(probe.BodyFetched());
    EXPECT_EQ(site.connectionCount(), 0);
}

TEST(SiteProbeFetchStatus, HeadThenGetOnlyWhenNeeded) {
    TestSite site;
    SiteProbe probe;

    EXPECT_EQ(probe.FetchStatus(site.url("/title#part"), false), 200);
    EXPECT_FALSE(probe.BodyFetched());
    EXPECT_EQ(probe.FetchStatus(site.url("/title"), true), 200);
    EXPECT_TRUE(probe.BodyFetched());
    EXPECT_EQ(probe.FetchStatus(site.url("/head405"), false), 405) << "405 is kept";
    EXPECT_EQ(probe.FetchStatus(site.url("/head501"), false), 200);
    EXPECT_EQ(probe.FetchStatus(site.url("/status/403"), false), 403);
    EXPECT_TRUE(probe.BodyFetched());
    EXPECT_EQ(probe.FetchStatus(site.url("/status/404"), false), 404);

    EXPECT_EQ(methodsAndRoutes(site),
              QByteArrayList({"HEAD /title", "HEAD /title", "GET /title", "HEAD /head405",
                              "HEAD /head501", "GET /head501", "HEAD /status/403",
                              "GET /status/403", "HEAD /status/404"}));
    EXPECT_EQ(site.requests().first().path, "/title") << "the fragment is never sent";
}

TEST(SiteProbeFetchStatus, FailuresBecomeCodesAfterOneRetryWithGet) {
    TestSite site;
    SiteProbe probe;
    probe.client().setTimeoutMs(300);
    EXPECT_EQ(probe.FetchStatus(site.url("/stall"), false), -1);
    EXPECT_EQ(methodsAndRoutes(site), QByteArrayList({"HEAD /stall", "GET /stall"}));
    EXPECT_EQ(probe.FetchStatus(site.url("/bad-chunk"), true), -5);
    EXPECT_EQ(probe.FetchStatus(site.url("/bad-chunk"), false), 200);
    EXPECT_EQ(probe.FetchStatus(site.url("/endless-headers"), false), -4);
    EXPECT_EQ(probe.FetchStatus(site.url("/garbage"), false), -1);
    EXPECT_EQ(probe.FetchStatus("http://no-such-host.invalid/", false), -99);
}

TEST(SiteProbeResolveRedirects, FollowsRedirectsAndRelativeLocations) {
    TestSite site;
    SiteProbe probe;

    QString url = site.url("/title");
    EXPECT_FALSE(probe.ResolveRedirects(url));
    EXPECT_EQ(url, site.url("/title"));

    for (const char* code : {"301", "302", "307"}) {
        url = site.url(QStringLiteral("/redirect/") + code);
        EXPECT_TRUE(probe.ResolveRedirects(url)) << code;
        EXPECT_EQ(url, site.url("/title")) << code;
    }
    url = site.url("/x/root-redirect");
    EXPECT_TRUE(probe.ResolveRedirects(url));
    EXPECT_EQ(url, site.url("/a/b"));
    url = site.url("/x/folder-redirect");
    EXPECT_TRUE(probe.ResolveRedirects(url));
    EXPECT_EQ(url, site.url("/x/c.html"));
}

TEST(SiteProbeResolveRedirects, SixRedirectsPerPassAndChainsThatEnd) {
    TestSite site;
    SiteProbe probe;

    // One pass stops at /chain/3 after six redirects; the next pass goes on
    // from there, as the address changed.
    QString url = site.url("/chain/9");
    EXPECT_TRUE(probe.ResolveRedirects(url));
    EXPECT_EQ(url, site.url("/chain/0"));
    QByteArrayList heads;
    for (const TestSite::Request& request : site.requests())
        if (request.method == "HEAD")
            heads << request.route;
    EXPECT_EQ(heads.mid(0, 7), QByteArrayList({"/chain/9", "/chain/8", "/chain/7", "/chain/6",
                                               "/chain/5", "/chain/4", "/chain/3"}))
        << "the first pass follows six redirects";
    EXPECT_EQ(heads.value(7), "/chain/3") << "the second pass starts at the sixth target";
    // The sixth target's answer (a redirect page of type text/html) is the
    // one examined for a refresh element: its body is fetched before the
    // second pass begins.
    EXPECT_EQ(methodsAndRoutes(site).value(7), "GET /chain/3");

    // A redirect to itself ends after one pass.
    site.clearLog();
    url = site.url("/self-redirect");
    EXPECT_TRUE(probe.ResolveRedirects(url));
    EXPECT_EQ(url, site.url("/self-redirect"));
    // Seven HEADs (the first and six redirects), one GET for a refresh
    // element, and no second pass: the address came back.
    EXPECT_EQ(site.requests().size(), 8);

    site.clearLog();
    url = site.url("/refresh/self");
    EXPECT_TRUE(probe.ResolveRedirects(url));
    EXPECT_EQ(url, site.url("/refresh/self"));
    EXPECT_LT(site.requests().size(), 10);
}

TEST(SiteProbeResolveRedirects, RefreshElementsWithAndWithoutQuotes) {
    TestSite site;
    SiteProbe probe;
    QString url = site.url("/refresh/unquoted");
    EXPECT_TRUE(probe.ResolveRedirects(url));
    EXPECT_EQ(url, site.url("/refresh/next.html"));

    url = site.url("/refresh/quoted");
    EXPECT_FALSE(probe.ResolveRedirects(url));
    EXPECT_EQ(url, site.url("/refresh/quoted"));

    // A picture's body is never searched for refresh elements.
    site.clearLog();
    url = site.url("/image.png");
    EXPECT_FALSE(probe.ResolveRedirects(url));
    EXPECT_EQ(methodsAndRoutes(site), QByteArrayList({"HEAD /image.png"}));
}

TEST(SiteProbeContent, PageOrPictureAndTitles) {
    TestSite site;
    SiteProbe probe;
    EXPECT_TRUE(probe.IsPageOrPicture(site.url("/type/html")));
    EXPECT_TRUE(probe.IsPageOrPicture(site.url("/image.png")));
    EXPECT_FALSE(probe.IsPageOrPicture(site.url("/download.zip")));
    site.setRawRoute("/untyped", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi");
    site.clearLog();
    EXPECT_FALSE(probe.IsPageOrPicture(site.url("/untyped")));
    EXPECT_EQ(methodsAndRoutes(site),
              QByteArrayList({"HEAD /untyped", "HEAD /untyped", "GET /untyped"}))
        << "no content type: asked again with the body";

    EXPECT_EQ(probe.PageTitle(site.url("/title")), "Test Title");
    EXPECT_EQ(probe.PageTitle(site.url("/chunked")), "Chunked");
    EXPECT_EQ(probe.PageTitle(site.url("/notitle")), "");
    EXPECT_EQ(probe.PageTitle(site.url("/unclosed-title")), "");
    site.setRawRoute("/multiline",
                     TestSite::response(200, "text/html", "<TITLE> Two\nLines </Title>"));
    EXPECT_EQ(probe.PageTitle(site.url("/multiline")), " Two\r\nLines ");
    // The title is HTML text: its references come back as the characters.
    site.setRawRoute("/references", TestSite::response(200, "text/html",
                                                       "<title>Caf&eacute; &amp; Cr&#232;me "
                                                       "&#xE8;&lt;b&gt;</title>"));
    EXPECT_EQ(probe.PageTitle(site.url("/references")), "Caf\xC3\xA9 & Cr\xC3\xA8me \xC3\xA8<b>");
    EXPECT_EQ(probe.PageTitle("https://example.invalid/"), "");
}

TEST(SiteProbeCache, VisitsFromTheCacheWithoutFragment) {
    QTemporaryDir folder;
    const QString store = folder.filePath("urlcache.txt");
    QFile file(store);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("7\t0\thttp://cached.example/page\n"
               "12\t1\t" +
               platform::UrlCache::visitedPrefix().toUtf8() + "http://visited.example/\n");
    file.close();
    platform::UrlCache cache;
    ASSERT_TRUE(cache.addTextStore(store));
    SiteProbe probe(&cache);
    EXPECT_EQ(probe.CacheVisits("http://cached.example/page#top"), 7);
    EXPECT_EQ(probe.CacheVisits("http://visited.example/"), 12);
    EXPECT_EQ(probe.CacheVisits("http://not-cached.example/"), 0);
    EXPECT_EQ(SiteProbe().CacheVisits("http://cached.example/page"), 0);
}

TEST(SiteProbeIcon, FileTypeIconOnEveryThread) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                    : qgetenv("QT_QPA_PLATFORM"));
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name};
    QGuiApplication app(argc, argv);
    EXPECT_EQ(FileTypeMimeName("*.zip"), "application/zip");

    const QImage onMain = FileTypeIcon("http://h/file.zip");
    ASSERT_FALSE(onMain.isNull());
    EXPECT_EQ(onMain.size(), QSize(32, 32));

    // From a worker the icon is made on the main thread while the worker waits.
    QImage fromWorker;
    QThread* worker = QThread::create([&] { fromWorker = FileTypeIcon("http://h/setup"); });
    QEventLoop loop;
    QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    loop.exec();
    delete worker;
    ASSERT_FALSE(fromWorker.isNull());
    EXPECT_EQ(fromWorker.size(), QSize(32, 32));
    // The built-in icon is not empty.
    const QImage generic = GenericFileIcon(32);
    EXPECT_NE(generic.pixel(16, 16), generic.pixel(0, 0));
}
