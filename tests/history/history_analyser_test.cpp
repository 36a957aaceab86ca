#include "catalogue/run_trace.h"
#include "catalogue/site_worker.h"
#include "history/history_analyser.h"
#include "pages/page_writer.h"
#include "platform/message_service.h"
#include "platform/registry.h"
#include "platform/settings_model.h"
#include "platform/trash.h"
#include "platform/urlcache.h"
#include "support/recording_refresh_host.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <stdexcept>

using catalogue::RunLight;
using history::FreeShortcutPath;
using testsupport::TestSite;

namespace {

using RecordingHost = testsupport::RecordingRefreshHost;

// The real site worker, watched: what it was handed and what the temporary
// shortcut held while it ran.
class WatchedFetcher : public catalogue::SiteFetcher {
public:
    explicit WatchedFetcher(catalogue::SiteFetcher& inner) : inner_(inner) {}
    void FetchSiteInfo(const QString& folderPath, const QString& fileName, bool forHistory,
                       QByteArray& currentLink) override {
        folders << folderPath;
        files << fileName;
        historyFlags << forHistory;
        QFile shortcut(folderPath + fileName);
        shortcutTexts << (shortcut.open(QIODevice::ReadOnly) ? shortcut.readAll() : "missing");
        inner_.FetchSiteInfo(folderPath, fileName, forHistory, currentLink);
        if (afterFetch)
            afterFetch();
        if (throwAfterFetch)
            throw std::runtime_error("worker failed");
    }

    QStringList folders, files;
    QList<bool> historyFlags;
    QList<QByteArray> shortcutTexts;
    std::function<void()> afterFetch;
    bool throwAfterFetch = false;

private:
    catalogue::SiteFetcher& inner_;
};

struct HistoryLink {
    QString description, url, image, code;
};

struct HistoryFile {
    bool wellFormed = false;
    QString time;
    int historyElements = 0;
    QList<HistoryLink> links;
};

HistoryFile parseHistory(const QByteArray& text) {
    HistoryFile file;
    QXmlStreamReader xml(text);
    QStringList path;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const QString name = xml.name().toString();
            const QXmlStreamAttributes a = xml.attributes();
            if (path.isEmpty() && name == "BROWSERINFO")
                file.time = a.value("Time").toString();
            if (path == QStringList{"BROWSERINFO"} && name == "History")
                ++file.historyElements;
            if (path == QStringList({"BROWSERINFO", "History"}) && name == "Link")
                file.links << HistoryLink{a.value("DESCRIPTION").toString(),
                                          a.value("PID_IS_URL").toString(),
                                          a.value("IMAGE").toString(), a.value("CODE").toString()};
            path << name;
        } else if (xml.isEndElement()) {
            path.removeLast();
        }
    }
    file.wellFormed = !xml.hasError();
    return file;
}

QStringList descriptions(const HistoryFile& file) {
    QStringList names;
    for (const HistoryLink& link : file.links)
        names << link.description;
    return names;
}

class HistoryAnalyserTest : public ::testing::Test {
protected:
    HistoryAnalyserTest() {
        oldTmp_ = qgetenv("TMPDIR");
        QDir().mkpath(tmp());
        qputenv("TMPDIR", QFile::encodeName(tmp()));
        settings.newOnly = false;
        settings.historyThreshold = 10;
        analyser.setUrlCache(cache);
        site.setRawRoute("/t/padded", TestSite::response(200, "text/html",
                                                         "<html><title> \t Padded\r\n </title>"));
    }
    ~HistoryAnalyserTest() override { qputenv("TMPDIR", oldTmp_); }

    QString tmp() const { return home.path() + "/tmp"; }

    // A page of the test site with this title.
    QString page(const QByteArray& route, const QByteArray& title) {
        site.setRawRoute(route, TestSite::response(200, "text/html", TestSite::page(title)));
        return site.url(QString::fromUtf8(route));
    }

    // A history entry of the URL cache.
    void visited(const QString& user, const QString& address, int hits, bool history = true) {
        store += QByteArray::number(hits) + '\t' + (history ? "2097152" : "0") + '\t' +
                 ("Visited: " + user + "@" + address).toUtf8() + '\n';
    }

    void analyse() {
        home.write("cache.txt", store);
        cache->addTextStore(home.path() + "/cache.txt");
        analyser.AnalyseHistory();
    }

    QByteArray historyXml() const { return home.read("Documents/pagorama/history.xml"); }
    QByteArray historyPage() const { return home.read("Documents/pagorama/history.htm"); }

    void expectIdleAtEnd() {
        ASSERT_FALSE(host.trayStates.isEmpty());
        EXPECT_TRUE(host.trayStates.first());
        EXPECT_FALSE(host.trayStates.last());
        ASSERT_FALSE(host.controlStates.isEmpty());
        EXPECT_FALSE(host.controlStates.first());
        EXPECT_TRUE(host.controlStates.last());
        EXPECT_EQ(host.light, RunLight::Idle);
        EXPECT_EQ(host.cursorsRemembered, 1);
        EXPECT_EQ(host.cursorsRestored, 1);
    }

    testsupport::TempHome home;
    QByteArray oldTmp_;
    platform::ScopedMessageRecorder messages;
    TestSite site;
    platform::SettingsModel settings;
    catalogue::RunTrace trace;
    QStringList ownChanges; // paths announced before they were written
    bool cancel = false;
    catalogue::SiteWorker worker{
        settings, trace, home.dataFolder(), {}, [this](const QString& path) {
            ownChanges << path;
        }};
    WatchedFetcher fetcher{worker};
    pages::PageWriter writer{settings, [] { return QStringLiteral("80"); }, {}, home.dataFolder()};
    RecordingHost host;
    std::shared_ptr<platform::UrlCache> cache = std::make_shared<platform::UrlCache>();
    QByteArray store;
    history::HistoryAnalyser analyser{
        host, settings, fetcher,
        history::HistoryAnalyserHooks{
            [this] { return cancel; },
            [this](const QString& path) { ownChanges << path; },
            [this](const QByteArray& text) { writer.writeHistoryPage(text); }}};
};

TEST_F(HistoryAnalyserTest, EmptyHistoryWritesAnEmptyHistoryElementAndAnEmptyGrid) {
    analyse();
    const QByteArray xml = historyXml();
    const QList<QByteArray> lines = xml.split('\n');
    ASSERT_EQ(lines.size(), 7) << xml.constData();
    EXPECT_EQ(lines[0], "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r");
    EXPECT_EQ(lines[1], "<BROWSERINFO \r");
    EXPECT_TRUE(QRegularExpression("^Time=\"\\d+\">\r$").match(QString(lines[2])).hasMatch());
    EXPECT_EQ(lines[3], "<History>\r");
    EXPECT_EQ(lines[4], "</History>\r");
    EXPECT_EQ(lines[5], "</BROWSERINFO>\r");
    EXPECT_EQ(lines[6], ""); // the last line ends with CR LF too

    const HistoryFile file = parseHistory(xml);
    EXPECT_TRUE(file.wellFormed);
    EXPECT_EQ(file.historyElements, 1);
    EXPECT_TRUE(file.links.isEmpty());

    const QByteArray htm = historyPage();
    EXPECT_TRUE(htm.contains("addhistory"));
    EXPECT_TRUE(htm.contains("var LoadTime = " + file.time.toUtf8() + ";"));
    EXPECT_FALSE(htm.contains("<tr"));
    EXPECT_FALSE(htm.contains("Add to favourites"));

    EXPECT_EQ(host.statusTexts,
              QStringList({"Initializing...", "Found 0 web histories.", "All Done"}));
    EXPECT_EQ(host.lights, QList<RunLight>({RunLight::Running, RunLight::Idle}));
    EXPECT_EQ(host.progressMaximum, 0);
    expectIdleAtEnd();
    EXPECT_TRUE(fetcher.files.isEmpty());
}

TEST_F(HistoryAnalyserTest, OnlyPagesVisitedMoreThanTheThresholdOverPlainOrSecureHttpAreListed) {
    visited("ann", page("/t/ten", "Ten"), 10);
    visited("ann", page("/t/eleven", "Eleven"), 11);
    visited("ann", page("/t/cached", "Cached"), 50, false); // not a history entry
    visited("ann", "file:///etc/hostname", 40);
    visited("ann", "ftp://127.0.0.1/file", 40);
    visited("ann", "HTTP" + page("/t/upper", "Upper").mid(4), 40);
    visited("ann", "https://secure.invalid/account", 40);
    analyse();

    const HistoryFile file = parseHistory(historyXml());
    ASSERT_TRUE(file.wellFormed);
    EXPECT_EQ(descriptions(file), QStringList({"Eleven", "secure.invalid"}));
    EXPECT_EQ(file.links[0].url, site.url("/t/eleven"));
    EXPECT_EQ(file.links[0].code, "200");
    // The secure page is never fetched: its picture is the secure-site card.
    EXPECT_EQ(file.links[1].url, "https://secure.invalid/account");
    EXPECT_EQ(file.links[1].code, "-98");
    for (const HistoryLink& link : file.links) {
        EXPECT_TRUE(link.image.startsWith("images\\history\\")) << link.image.toStdString();
        EXPECT_TRUE(QFile::exists(home.dataFolder() + QString(link.image).replace('\\', '/')));
    }

    // Entries at or below the threshold, or with another scheme, cost no request.
    for (const TestSite::Request& request : site.requests()) {
        EXPECT_NE(request.route, "/t/ten");
        EXPECT_NE(request.route, "/t/cached");
        EXPECT_NE(request.route, "/t/upper");
    }
    EXPECT_EQ(host.statusTexts[1], "Found 6 web histories.");
    EXPECT_TRUE(host.statusTexts.contains("Eleven"));
    EXPECT_EQ(analyser.sitesTotal(), 6);
    EXPECT_EQ(analyser.sitesFetched(), 6);
    EXPECT_EQ(host.progressPosition, 6);
    EXPECT_EQ(fetcher.historyFlags, QList<bool>({true, true}));
    // The worker found its temporary shortcut and folder: no error boxes.
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join('|').toStdString();

    const QByteArray htm = historyPage();
    EXPECT_EQ(htm.count("Add to favourites"), 2);
    EXPECT_TRUE(htm.contains("https://secure.invalid/account"));
}

TEST_F(HistoryAnalyserTest, KnownTitlesAndDuplicatesAreDroppedAfterTheyAreCounted) {
    home.write("Favorites/News/Favourite Page.url", "[InternetShortcut]\r\nURL=http://x/\r\n");
    visited("ann", page("/t/fav", "FAVOURITE page"), 20);
    const QString shared = page("/t/shared", "Shared");
    visited("ann", shared, 20);
    visited("bob", shared, 30);
    visited("ann", page("/t/dup", "Dup"), 20);
    store += "20\t2097152\tVISITED: ANN@" + site.url("/t/dup").toUtf8() + "\n";
    visited("ann", site.url("/notitle"), 20);
    visited("ann", site.url("/t/padded"), 20);
    analyse();

    const HistoryFile file = parseHistory(historyXml());
    ASSERT_TRUE(file.wellFormed);
    EXPECT_EQ(descriptions(file), QStringList({"Shared", "Dup", "Padded"}));
    // Both user names of the shared page were read before the second was dropped.
    int sharedTitleReads = 0;
    for (const TestSite::Request& request : site.requests())
        sharedTitleReads += request.route == "/t/shared" && request.method == "GET";
    EXPECT_GE(sharedTitleReads, 2);

    EXPECT_EQ(host.statusTexts[1], "Found 7 web histories.");
    EXPECT_EQ(host.progressMaximum, 7);
    EXPECT_EQ(analyser.sitesFetched(), 6);
    EXPECT_EQ(analyser.historyAddresses().size(), 6);
}

TEST_F(HistoryAnalyserTest, TitlesWithMarkupCharactersKeepTheCatalogueWellFormed) {
    visited("ann", page("/t/odd", "Tom & \"Jerry\" <b>caf\xc3\xa9</b>"), 20);
    analyse();
    const QByteArray xml = historyXml();
    for (char c : xml)
        EXPECT_LT(uchar(c), 128);
    const HistoryFile file = parseHistory(xml);
    ASSERT_TRUE(file.wellFormed);
    EXPECT_EQ(descriptions(file),
              QStringList({QString::fromUtf8("Tom & \"Jerry\" <b>caf\xc3\xa9</b>")}));
}

TEST_F(HistoryAnalyserTest, TemporaryShortcutLivesOnlyWhileTheWorkerRuns) {
    const QString address = page("/t/one", "One");
    visited("ann", address, 20);
    visited("ann", page("/t/two", "Two"), 20);
    fetcher.throwAfterFetch = true; // a worker error skips nothing else
    analyse();

    ASSERT_EQ(fetcher.files.size(), 2);
    EXPECT_TRUE(QRegularExpression("^p\\d+\\.URL$").match(fetcher.files[0]).hasMatch())
        << fetcher.files[0].toStdString();
    EXPECT_EQ(QDir(fetcher.folders[0]).canonicalPath(), QDir(tmp()).canonicalPath());
    EXPECT_EQ(fetcher.shortcutTexts[0], "[InternetShortcut]\r\nURL=" + address.toUtf8() + "\r\n");
    EXPECT_TRUE(QDir(tmp()).entryList(QDir::Files).isEmpty());
    ASSERT_FALSE(ownChanges.isEmpty());
    EXPECT_EQ(QFileInfo(ownChanges.first()).fileName(), fetcher.files[0]);
    expectIdleAtEnd();

    const HistoryFile file = parseHistory(historyXml());
    ASSERT_TRUE(file.wellFormed);
    EXPECT_EQ(descriptions(file), QStringList({"One", "Two"}));
    EXPECT_EQ(file.links[0].code, "200");
}

TEST(FreeShortcutPath, SkipsNamesThatAreTaken) {
    testsupport::TempHome home;
    const QString folder = home.path() + "/";
    EXPECT_EQ(FreeShortcutPath(folder, 5), folder + "p5.URL");
    home.write("p5.URL", "someone else's");
    ASSERT_TRUE(QFile::link(home.path() + "/nowhere", folder + "p6.URL")); // dangling link
    EXPECT_EQ(FreeShortcutPath(folder, 5), folder + "p7.URL");
}

TEST_F(HistoryAnalyserTest, CancelStopsBeforeTheNextEntryAndKeepsTheLastAnalysis) {
    visited("ann", page("/t/one", "One"), 20);
    visited("ann", page("/t/two", "Two"), 20);
    visited("ann", page("/t/three", "Three"), 20);
    home.write("Documents/pagorama/history.xml", "previous");
    home.write("Documents/pagorama/images/history/old.bmp", "old");
    fetcher.afterFetch = [this] { cancel = true; };
    analyse();

    // A page of only the first entries would replace the whole last one.
    EXPECT_EQ(fetcher.files.size(), 1);
    EXPECT_EQ(historyXml(), "previous");
    EXPECT_FALSE(QFile::exists(home.dataFolder() + "history.htm"));
    EXPECT_TRUE(QFile::exists(home.dataFolder() + "images/history/old.bmp"));
    EXPECT_EQ(host.statusTexts.last(), "Refresh cancelled");
    EXPECT_TRUE(analyser.cancelRequested());
    EXPECT_EQ(analyser.sitesFetched(), 1);
    expectIdleAtEnd();
}

TEST_F(HistoryAnalyserTest, OfflineWritesNothingAndReturnsToIdle) {
    platform::RegistryKey key;
    ASSERT_EQ(key.open(platform::RegistryHive::CurrentUser,
                       "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", true),
              platform::regerror::Success);
    ASSERT_EQ(key.writeString("GlobalUserOffline", "1"), platform::regerror::Success);
    home.write("Documents/pagorama/history.xml", "previous");
    home.write("Documents/pagorama/images/history/old.bmp", "old");
    visited("ann", page("/t/one", "One"), 20);
    analyse();

    EXPECT_EQ(historyXml(), "previous");
    EXPECT_FALSE(QFile::exists(home.dataFolder() + "history.htm"));
    EXPECT_TRUE(QFile::exists(home.dataFolder() + "images/history/old.bmp"));
    EXPECT_TRUE(host.statusTexts.isEmpty());
    EXPECT_TRUE(site.requests().isEmpty());
    EXPECT_TRUE(fetcher.files.isEmpty());
    expectIdleAtEnd();
}

TEST_F(HistoryAnalyserTest, LastAnalysisPicturesGoToTheTrash) {
    home.write("Documents/pagorama/images/history/a.bmp", "a");
    home.write("Documents/pagorama/images/history/B.BMP", "b");
    home.write("Documents/pagorama/images/history/B.png", "b copy");
    home.write("Documents/pagorama/images/history/B.large.png", "b large copy");
    home.write("Documents/pagorama/images/history/keep.txt", "keep");
    home.write("Documents/pagorama/images/other.bmp", "other");
    visited("ann", page("/t/one", "One"), 20);
    bool shownWhileWriting = false;
    fetcher.afterFetch = [&] {
        shownWhileWriting = QFile::exists(home.dataFolder() + "images/history/a.bmp");
    };
    analyse();
    // Gone only after the new page was written, and not the new picture.
    EXPECT_TRUE(shownWhileWriting);
    const QStringList left =
        QDir(home.dataFolder() + "images/history").entryList({"*.BMP"}, QDir::Files);
    EXPECT_EQ(left.size(), 1) << qPrintable(left.join(' '));
    EXPECT_TRUE(historyXml().contains("images\\history\\" + left.value(0).toUtf8()));
    // The new picture keeps its compressed copies; the old one's go with it.
    EXPECT_EQ(QDir(home.dataFolder() + "images/history").entryList({"*.png"}, QDir::Files),
              QStringList({left.value(0).chopped(4) + ".large.png",
                           left.value(0).chopped(4) + ".png"}));

    const QString pictures = home.dataFolder() + "images/history/";
    EXPECT_FALSE(QFile::exists(pictures + "a.bmp"));
    EXPECT_FALSE(QFile::exists(pictures + "B.BMP"));
    EXPECT_TRUE(QFile::exists(pictures + "keep.txt"));
    EXPECT_TRUE(QFile::exists(home.dataFolder() + "images/other.bmp"));
    const QString trash = platform::homeTrashFolder();
    EXPECT_TRUE(QFile::exists(trash + "/files/a.bmp"));
    EXPECT_TRUE(QFile::exists(trash + "/files/B.BMP"));
    EXPECT_TRUE(QFile::exists(trash + "/files/B.png"));
    EXPECT_TRUE(QFile::exists(trash + "/info/a.bmp.trashinfo"));
}

TEST_F(HistoryAnalyserTest, ACatalogueThatCannotBeSavedEndsTheAnalysisAndLeavesItIdle) {
    // A folder where the file should be: the file cannot replace it.
    home.write("Documents/pagorama/history.xml/inside", "x");
    home.write("Documents/pagorama/images/history/old.bmp", "old");
    visited("ann", page("/t/one", "One"), 20);
    EXPECT_THROW(analyse(), std::exception);
    EXPECT_FALSE(host.statusTexts.contains("All Done"));
    EXPECT_FALSE(QFile::exists(home.dataFolder() + "history.htm"));
    // The page on disk is not replaced, so the pictures it shows stay.
    EXPECT_TRUE(QFile::exists(home.dataFolder() + "images/history/old.bmp"));
    expectIdleAtEnd();
}

} // namespace
