#include "catalogue/encodings.h"
#include "catalogue/refresh_run.h"
#include "platform/message_service.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "support/order_value.h"
#include "support/recording_refresh_host.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <sys/wait.h>
#include <unistd.h>

using namespace catalogue;

namespace {

// Records what the run shows; hooks let a test act at a given moment.
using FakeHost = testsupport::RecordingRefreshHost;

// Stands in for the site worker: appends a CODE piece and lets a test act
// while "fetching".
class FakeFetcher : public SiteFetcher {
public:
    void FetchSiteInfo(const QString& folderPath, const QString& fileName, bool forHistory,
                       QByteArray& currentLink) override {
        ++calls;
        fetched << folderPath + fileName;
        EXPECT_FALSE(forHistory);
        if (during)
            during(calls);
        currentLink += CodePiece(200);
    }
    int calls = 0;
    QStringList fetched;
    std::function<void(int)> during;
};

using Attributes = QMap<QByteArray, QByteArray>;
struct Folder {
    QByteArray location;
    QList<Attributes> links;
};

// The folders of a catalogue as libxml2 reads it; empty optional when it is
// not well-formed.
std::optional<QList<Folder>> parseFolders(const QByteArray& text) {
    xmlDocPtr doc = xmlReadMemory(text.constData(), int(text.size()), "listings.xml", nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc)
        return std::nullopt;
    auto attributesOf = [](xmlNodePtr node) {
        Attributes map;
        for (xmlAttrPtr attr = node->properties; attr; attr = attr->next) {
            xmlChar* value = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(attr));
            map.insert(reinterpret_cast<const char*>(attr->name),
                       reinterpret_cast<const char*>(value));
            xmlFree(value);
        }
        return map;
    };
    QList<Folder> folders;
    xmlNodePtr favourites = xmlDocGetRootElement(doc)->children;
    while (favourites && favourites->type != XML_ELEMENT_NODE)
        favourites = favourites->next;
    for (xmlNodePtr folder = favourites ? favourites->children : nullptr; folder;
         folder = folder->next) {
        if (folder->type != XML_ELEMENT_NODE)
            continue;
        Folder parsed{attributesOf(folder).value("Location"), {}};
        for (xmlNodePtr link = folder->children; link; link = link->next)
            if (link->type == XML_ELEMENT_NODE)
                parsed.links << attributesOf(link);
        folders << parsed;
    }
    xmlFreeDoc(doc);
    return folders;
}

QStringList descriptions(const Folder& folder) {
    QStringList names;
    for (const Attributes& link : folder.links)
        names << QString::fromUtf8(link.value("DESCRIPTION"));
    return names;
}

class RefreshRunTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "refresh_run_test";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
    }

    void SetUp() override {
        settings.history = false;
        settings.sortBy = 0;
        settings.evenFileName = 5;
    }

    void favourite(const QString& relative) {
        home.write("Favorites/" + relative, "[InternetShortcut]\r\nURL=http://127.0.0.1:9/\r\n");
    }
    QByteArray listings() const { return home.read("Documents/pagorama/listings.xml"); }
    // A picture named the way a run with this counter names its pictures.
    QString picture(int counter, const QString& subfolder, const QString& name) const {
        return home.dataFolder() + subfolder +
               QString::fromLatin1(HexEncode(QString::asprintf("%4d", counter).toLatin1())) + name +
               ".BMP";
    }
    void touch(const QString& path) const {
        QDir().mkpath(path.section('/', 0, -2));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    static void storeString(const QString& path, const QString& name, const QString& value) {
        platform::RegistryKey key;
        ASSERT_EQ(key.open(platform::RegistryHive::CurrentUser, path, true),
                  platform::regerror::Success);
        ASSERT_EQ(key.writeString(name, value), platform::regerror::Success);
    }

    testsupport::TempHome home;
    platform::ScopedMessageRecorder messages;
    platform::SettingsModel settings;
    FakeHost host;
    RefreshRun run{host, settings};
};

} // namespace

TEST_F(RefreshRunTest, BuildsTheCatalogueFolderByFolderAndResetsTheIndicators) {
    favourite("b.url");
    favourite("A.url");
    favourite("News/Tech/Caf\u00e9 & \"Bar\".url");
    favourite("News/readme.txt");
    favourite("Empty/notes.txt");
    settings.history = true;
    FakeFetcher fetcher;
    run.setSiteFetcher(&fetcher);

    run.Button2Click();

    EXPECT_EQ(host.statusTexts, QStringList({"Initializing...", "Found 3 web favourites.", "A", "b",
                                             "Caf\u00e9 & \"Bar\"", "All Done"}));
    EXPECT_EQ(host.lights, QList<RunLight>({RunLight::Running, RunLight::Idle}));
    EXPECT_EQ(host.trayStates, QList<bool>({true, false}));
    EXPECT_EQ(host.controlStates, QList<bool>({false, true}));
    EXPECT_EQ(host.progressMaximum, 3);
    EXPECT_EQ(host.progressPosition, 3);
    EXPECT_EQ(host.showStatusCalls, 1);
    EXPECT_EQ(host.historyRuns, 1);
    EXPECT_GE(host.clearCalls, 1);
    EXPECT_EQ(settings.evenFileName, 6);
    EXPECT_EQ(run.sitesTotal(), 3);
    EXPECT_EQ(run.sitesFetched(), 3);
    EXPECT_FALSE(run.runInProgress());
    EXPECT_TRUE(run.catalogueLines().isEmpty()); // work lists cleared at the end
    EXPECT_TRUE(messages.texts.isEmpty());

    const QByteArray text = listings();
    EXPECT_EQ(host.supportPagesText, text);
    EXPECT_EQ(host.cataloguePagesText, text);
    EXPECT_TRUE(text.endsWith("</Folder>\r\n</Favoritesfolder>\r\n</BROWSERINFO>\r\n"));
    EXPECT_EQ(text.count("</Folder>"), 2);
    const auto folders = parseFolders(text);
    ASSERT_TRUE(folders);
    ASSERT_EQ(folders->size(), 2);
    EXPECT_EQ((*folders)[0].location, "");
    EXPECT_EQ(descriptions((*folders)[0]), QStringList({"A", "b"}));
    EXPECT_EQ((*folders)[1].location, "News\\Tech");
    const Attributes& cafe = (*folders)[1].links.value(0);
    EXPECT_EQ(cafe.value("DESCRIPTION"), "Caf\u00e9 & \"Bar\"");
    EXPECT_EQ(QFile::decodeName(HexDecode(cafe.value("UNIQUE"))),
              home.favorites() + "/News/Tech/Caf\u00e9 & \"Bar\".url");
    EXPECT_EQ(cafe.value("SORT_ORDER"), "-1");
    EXPECT_EQ(cafe.value("CODE"), "200");

    QFile traceFile(platform::runTraceFilePath());
    ASSERT_TRUE(traceFile.open(QIODevice::ReadOnly));
    const QByteArray trace = traceFile.readAll();
    EXPECT_TRUE(
        trace.startsWith("My Documents = " + QFile::encodeName(home.path()) + "/Documents/\r\n"));
    EXPECT_TRUE(trace.contains("File = A.url\r\nlength of path = "));
    EXPECT_TRUE(trace.contains("\r\n" + QByteArray(82, '#') + "\r\n"));
}

TEST_F(RefreshRunTest, WithoutAWorkerEachLinkHoldsItsFirstPieces) {
    favourite("only.url");
    run.Button2Click();
    const QByteArray text = listings();
    const QByteArray unique = HexEncode(QFile::encodeName(home.favorites() + "/only.url"));
    EXPECT_TRUE(text.contains("<Folder Location = \"\">\r\n<Link \n\rUNIQUE=\"" + unique +
                              "\" \n\rBROWSER=\"IE\"\n\rSORT_ORDER=\"-1\"\n\r"
                              "DESCRIPTION=\"only\" \n\r></Link>\r\n</Folder>\r\n"));
}

TEST_F(RefreshRunTest, EmptyOrMissingFavoritesGiveAnEmptyCatalogue) {
    const QByteArray empty = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<BROWSERINFO \r\n";
    for (bool missing : {false, true}) {
        if (missing)
            QDir(home.favorites()).removeRecursively();
        host.statusTexts.clear();
        run.Button2Click();
        EXPECT_EQ(host.statusTexts,
                  QStringList({"Initializing...", "Found 0 web favourites.", "All Done"}));
        const QByteArray text = listings();
        EXPECT_TRUE(text.startsWith(empty));
        EXPECT_TRUE(text.endsWith("HomePage=\"No\">\r\n<Favoritesfolder>\r\n</Favoritesfolder>\r\n"
                                  "</BROWSERINFO>\r\n"))
            << text.constData();
        EXPECT_EQ(host.cataloguePagesText, text);
        EXPECT_TRUE(parseFolders(text));
    }
}

TEST_F(RefreshRunTest, CancelDuringTheThirdOfTenKeepsThePreviousCatalogueAndPictures) {
    for (int i = 0; i < 10; ++i)
        favourite(QString("f%1.url").arg(i));
    settings.history = true;
    home.write("Documents/pagorama/listings.xml", "previous");
    touch(picture(5, "images/", "old"));
    touch(picture(5, "images/history/", "oldhistory"));
    FakeFetcher fetcher;
    fetcher.during = [&](int call) {
        if (call == 3) {
            run.requestCancel();
            EXPECT_EQ(host.light, RunLight::Cancelling);
        }
    };
    run.setSiteFetcher(&fetcher);

    run.Button2Click();

    // The favourite in progress is finished, then nothing more: no partial
    // catalogue, no pages, no history, and the pictures stay.
    EXPECT_EQ(fetcher.calls, 3);
    EXPECT_EQ(listings(), "previous");
    EXPECT_EQ(host.supportPagesText, "unset");
    EXPECT_EQ(host.historyRuns, 0);
    EXPECT_TRUE(QFile::exists(picture(5, "images/", "old")));
    EXPECT_TRUE(QFile::exists(picture(5, "images/history/", "oldhistory")));
    EXPECT_EQ(host.statusTexts.last(), "Refresh cancelled");
    EXPECT_EQ(host.light, RunLight::Idle);
    EXPECT_TRUE(run.cancelRequested());
    EXPECT_EQ(settings.evenFileName, 5); // the counter of the pictures the pages show

    // The next run starts afresh, takes every favourite and only then
    // removes the previous pictures.
    run.Button2Click();
    EXPECT_FALSE(run.cancelRequested());
    EXPECT_EQ(fetcher.calls, 13);
    EXPECT_EQ(host.historyRuns, 1);
    EXPECT_EQ(settings.evenFileName, 6);
    const auto folders = parseFolders(listings());
    ASSERT_TRUE(folders && folders->size() == 1);
    EXPECT_EQ((*folders)[0].links.size(), 10);
    EXPECT_FALSE(QFile::exists(picture(5, "images/", "old")));
}

TEST_F(RefreshRunTest, PicturesLeftByAnUnfinishedRunOfTheSameCounterGoFirst) {
    favourite("a.url");
    touch(picture(6, "images/", "a"));
    touch(picture(6, "images/history/", "h"));
    touch(picture(5, "images/", "a"));
    FakeFetcher fetcher;
    bool leftoverSeen = true;
    fetcher.during = [&](int) { leftoverSeen = QFile::exists(picture(6, "images/", "a")); };
    run.setSiteFetcher(&fetcher);
    run.Button2Click();
    EXPECT_FALSE(leftoverSeen);
    EXPECT_FALSE(QFile::exists(picture(6, "images/history/", "h")));
    EXPECT_FALSE(QFile::exists(picture(5, "images/", "a")));
    EXPECT_EQ(host.statusTexts.last(), "All Done");
}

TEST_F(RefreshRunTest, CompressedCopiesOfPicturesGoWithTheirPictures) {
    const auto copyOf = [](const QString& picture) { return picture.chopped(4) + ".png"; };
    favourite("a.url");
    touch(picture(5, "images/", "old"));
    touch(copyOf(picture(5, "images/", "old")));
    touch(copyOf(picture(6, "images/", "left")));
    touch(copyOf(picture(6, "images/history/", "left")));
    FakeFetcher fetcher;
    bool copyShownWhileWriting = false;
    fetcher.during = [&](int) {
        copyShownWhileWriting = QFile::exists(copyOf(picture(5, "images/", "old")));
    };
    run.setSiteFetcher(&fetcher);
    run.Button2Click();
    EXPECT_EQ(host.statusTexts.last(), "All Done");
    EXPECT_TRUE(copyShownWhileWriting);
    EXPECT_FALSE(QFile::exists(picture(5, "images/", "old")));
    EXPECT_FALSE(QFile::exists(copyOf(picture(5, "images/", "old"))));
    EXPECT_FALSE(QFile::exists(copyOf(picture(6, "images/", "left"))));
    EXPECT_FALSE(QFile::exists(copyOf(picture(6, "images/history/", "left"))));
}

TEST_F(RefreshRunTest, ACounterUsedByARunWhoseSettingsWereNeverSavedStaysUsed) {
    // A complete run with counter 6, then a crash before the settings were
    // saved: the catalogue names pictures of 6 while the settings say 5.
    favourite("a.url");
    touch(picture(6, "images/", "a"));
    home.write("Documents/pagorama/listings.xml",
               "<Link IMAGE =\"images\\" +
                   QFileInfo(picture(6, "images/", "a")).fileName().toUtf8() + "\" ></Link>");
    FakeFetcher fetcher;
    bool shownPictureKept = false;
    fetcher.during = [&](int) {
        shownPictureKept = QFile::exists(picture(6, "images/", "a"));
        EXPECT_EQ(settings.evenFileName, 7);
    };
    run.setSiteFetcher(&fetcher);
    run.Button2Click();
    EXPECT_TRUE(shownPictureKept);
    EXPECT_EQ(settings.evenFileName, 7);
    EXPECT_FALSE(QFile::exists(picture(6, "images/", "a"))); // replaced by this run's
}

TEST_F(RefreshRunTest, CancelWaitsForTheWorkerWhileHandlingEvents) {
    bool workerRunning = true;
    int delivered = 0;
    QTimer::singleShot(0, [&] { ++delivered; });
    QTimer::singleShot(30, [&] { workerRunning = false; });
    run.setSiteFetcher(nullptr, [&] { return workerRunning; });
    run.requestCancel();
    EXPECT_FALSE(workerRunning);
    EXPECT_EQ(delivered, 1);
    EXPECT_TRUE(run.cancelRequested());
    EXPECT_TRUE(host.lights.isEmpty()); // idle stays lime
}

TEST_F(RefreshRunTest, StartRequestDuringARunIsIgnored) {
    favourite("a.url");
    favourite("b.url");
    FakeFetcher fetcher;
    fetcher.during = [&](int) {
        EXPECT_TRUE(run.runInProgress());
        run.Button2Click();
    };
    run.setSiteFetcher(&fetcher);
    run.Button2Click();
    EXPECT_EQ(fetcher.calls, 2);
    EXPECT_EQ(settings.evenFileName, 6);
    EXPECT_EQ(host.showStatusCalls, 1);
}

TEST_F(RefreshRunTest, OfflineChangesNothing) {
    favourite("a.url");
    home.write("Documents/pagorama/listings.xml", "previous");
    touch(picture(5, "images/", "old"));
    storeString("Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                "GlobalUserOffline", "1");
    run.Button2Click();
    EXPECT_EQ(listings(), "previous");
    EXPECT_TRUE(host.statusTexts.isEmpty());
    EXPECT_EQ(host.supportPagesText, "unset");
    EXPECT_TRUE(QFile::exists(picture(5, "images/", "old")));
    EXPECT_EQ(settings.evenFileName, 5);
    EXPECT_EQ(host.trayStates, QList<bool>({true, false}));
    EXPECT_EQ(host.controlStates, QList<bool>({false, true}));
    EXPECT_EQ(host.light, RunLight::Idle);
    EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(RefreshRunTest, OrganiserPositionsOrderAFolder) {
    favourite("News/a.url");
    favourite("News/B.url");
    favourite("News/c.url");
    favourite("News/Weather.url");
    testsupport::storeOrderValue(
        "News", testsupport::orderValue({{"b.url", 0}, {"a.url", 1}, {"weather.url", 2}}));
    settings.sortBy = 1;
    run.Button2Click();
    const auto folders = parseFolders(listings());
    ASSERT_TRUE(folders && folders->size() == 1);
    const Folder& news = (*folders)[0];
    EXPECT_EQ(news.location, "News");
    const QStringList order = descriptions(news);
    EXPECT_EQ(order.indexOf("B") + 1, order.indexOf("a"));
    EXPECT_EQ(order.indexOf("a") + 1, order.indexOf("Weather"));
    for (const Attributes& link : news.links) {
        const QByteArray name = link.value("DESCRIPTION");
        const QByteArray expected = name == "B"         ? "0"
                                    : name == "a"       ? "1"
                                    : name == "Weather" ? "2"
                                                        : "-1";
        EXPECT_EQ(link.value("SORT_ORDER"), expected) << name.constData();
    }
}

TEST_F(RefreshRunTest, AFavouriteVanishingBetweenTheScans) {
    favourite("keep.url");
    favourite("gone.url");
    favourite("Sub/x.url");
    host.onStatus = [&](const QString& text) {
        if (text.startsWith("Found")) {
            QFile::remove(home.favorites() + "/gone.url");
            favourite("Sub/new.url");
        }
    };
    run.Button2Click();
    EXPECT_EQ(run.sitesTotal(), 3);
    const auto folders = parseFolders(listings());
    ASSERT_TRUE(folders && folders->size() == 2);
    EXPECT_EQ(descriptions((*folders)[0]), QStringList({"keep"}));
    EXPECT_EQ(descriptions((*folders)[1]), QStringList({"new", "x"}));
    EXPECT_EQ(host.statusTexts.last(), "All Done");
}

TEST_F(RefreshRunTest, FailedSaveEndsTheBuildButNotTheRun) {
    favourite("a.url");
    QDir(home.path() + "/Documents").removeRecursively();
    home.write("Documents", "a regular file where the documents folder should be");
    run.Button2Click();
    EXPECT_FALSE(host.statusTexts.contains("All Done"));
    EXPECT_TRUE(host.statusTexts.last().startsWith("Refresh failed: "))
        << qPrintable(host.statusTexts.last());
    EXPECT_EQ(host.supportPagesText, "unset");
    EXPECT_EQ(settings.evenFileName, 5);
    EXPECT_EQ(host.controlStates, QList<bool>({false, true}));
    EXPECT_EQ(host.light, RunLight::Idle);
    EXPECT_EQ(host.trayStates.last(), false);
    EXPECT_FALSE(run.runInProgress());
    EXPECT_EQ(host.showStatusCalls, 1);
    EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(RefreshRunTest, FailedPageWriteKeepsTheSavedCatalogueAndEveryPicture) {
    favourite("a.url");
    touch(picture(5, "images/", "old"));
    host.failPages = true;
    settings.history = true;
    run.Button2Click();
    EXPECT_TRUE(listings().contains("DESCRIPTION=\"a\""));
    EXPECT_FALSE(host.statusTexts.contains("All Done"));
    EXPECT_EQ(host.statusTexts.last(), "Refresh failed: page write failed");
    // Pages not rewritten still show the previous pictures; the saved
    // catalogue names this run's, so its counter counts as used.
    EXPECT_TRUE(QFile::exists(picture(5, "images/", "old")));
    EXPECT_EQ(settings.evenFileName, 6);
    EXPECT_EQ(host.historyRuns, 0); // the failed build ends the run's steps
    EXPECT_EQ(host.controlStates, QList<bool>({false, true}));
    host.failPages = false;
    run.Button2Click();
    EXPECT_EQ(host.statusTexts.last(), "All Done");
}

TEST_F(RefreshRunTest, ScriptDebuggerSettingIsRestored) {
    const QString key = "Software\\Microsoft\\Internet Explorer\\Main";
    favourite("a.url");
    // No key: nothing is created.
    run.Button2Click();
    EXPECT_FALSE(platform::registryKeyExists(platform::RegistryHive::CurrentUser, key));

    storeString(key, "Disable Script Debugger", "no");
    QStringList seen;
    host.onStatus = [&](const QString&) { seen << (ScriptDebuggerDisabled() ? "yes" : "no"); };
    run.Button2Click();
    EXPECT_TRUE(seen.contains("yes"));
    EXPECT_FALSE(ScriptDebuggerDisabled());

    storeString(key, "Disable Script Debugger", "YES");
    run.Button2Click();
    EXPECT_TRUE(ScriptDebuggerDisabled());
    platform::RegistryKey open;
    open.open(platform::RegistryHive::CurrentUser, key, false);
    EXPECT_EQ(open.readString("Disable Script Debugger").value_or(""), "YES");
}

TEST_F(RefreshRunTest, UnreadableFolderAndUndeletablePicturesAsAnUnprivilegedUser) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving the pictures folder to another owner needs root";
    favourite("a.url");
    favourite("locked/secret.url");
    favourite("open/b.url");
    touch(picture(5, "images/", "old"));
    const QString programFolder = platform::programFolder(); // created before dropping rights
    // Root reads and deletes everything, so this run happens in a child that
    // has given up its rights: the home belongs to "nobody" except the locked
    // folder (mode 0) and the pictures folder (owned by root).
    const QByteArray homePath = QFile::encodeName(home.path());
    ASSERT_EQ(system(("chown -R 65534:65534 '" + homePath + "'").constData()), 0);
    ASSERT_EQ(
        system(("chown 0:0 '" + QFile::encodeName(home.dataFolder()) + "images'").constData()), 0);
    QFile::setPermissions(home.favorites() + "/locked", QFile::Permissions());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(10);
        run.Button2Click();
        int result = 0;
        if (host.statusTexts.value(1) != "Found 2 web favourites.")
            result |= 1;
        if (host.statusTexts.last() != "All Done")
            result |= 2;
        if (messages.texts != QStringList({"Delete Failed"}))
            result |= 4;
        _exit(result);
    }
    int status = 0;
    waitpid(child, &status, 0);
    QFile::setPermissions(home.favorites() + "/locked", QFile::Permissions(0x7700));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto folders = parseFolders(listings());
    ASSERT_TRUE(folders && folders->size() == 2);
    EXPECT_EQ(descriptions((*folders)[0]), QStringList({"a"}));
    EXPECT_EQ((*folders)[1].location, "open");
    EXPECT_TRUE(QFile::exists(picture(5, "images/", "old")));
    Q_UNUSED(programFolder);
}
