// The browsers where they really keep their profiles, in a temporary HOME:
// Firefox under ~/.config/mozilla with a live database, profiles of the
// Chromium family named in their Local State, a snap's folder; each bad
// place is passed over with one line, and the history suggestions read
// every profile too.
#include "program_command.h"
#include "program_run.h"
#include "support/favorites_tree.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

#include <sqlite3.h>

using e2e::CommandResult;
using e2e::ProgramRun;
using testsupport::TempHome;
using testsupport::TestSite;

namespace {

// A database held open as a running browser holds it: write-ahead log on
// and no checkpoints, so what the statements wrote lives in the -wal file.
class OpenDatabase {
public:
    OpenDatabase(const QString& path, const QByteArray& sql, bool live) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        EXPECT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db_), SQLITE_OK);
        if (live)
            exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;");
        exec(sql);
        if (!live) {
            sqlite3_close(db_);
            db_ = nullptr;
        }
    }
    ~OpenDatabase() { sqlite3_close(db_); }

private:
    void exec(const QByteArray& sql) {
        char* error = nullptr;
        EXPECT_EQ(sqlite3_exec(db_, sql.constData(), nullptr, nullptr, &error), SQLITE_OK)
            << (error ? error : "");
        sqlite3_free(error);
    }
    sqlite3* db_ = nullptr;
};

// A places.sqlite whose toolbar holds one bookmark.
QByteArray firefoxPlaces(const QByteArray& url, const QByteArray& title) {
    return "CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url TEXT, title TEXT,"
           " visit_count INTEGER DEFAULT 0);"
           "CREATE TABLE moz_bookmarks (id INTEGER PRIMARY KEY, type INTEGER, fk INTEGER,"
           " parent INTEGER, position INTEGER, title TEXT, guid TEXT, dateAdded INTEGER);"
           "INSERT INTO moz_bookmarks (id, type, parent, position, title, guid) VALUES"
           " (1, 2, 0, 0, '', 'root________'), (2, 2, 1, 0, 'toolbar', 'toolbar_____');"
           "INSERT INTO moz_places (id, url, title) VALUES (1, '" +
           url + "', '" + title +
           "');"
           "INSERT INTO moz_bookmarks (id, type, fk, parent, position, title, guid) VALUES"
           " (3, 1, 1, 2, 0, '" +
           title + "', 'bm3');";
}

QByteArray chromiumBookmarks(const QList<QPair<QByteArray, QByteArray>>& marks) {
    QByteArrayList nodes;
    for (const auto& [name, url] : marks)
        nodes << R"({"name": ")" + name + R"(", "type": "url", "url": ")" + url + R"("})";
    return R"({"roots": {"bookmark_bar": {"name": "Bookmarks bar", "type": "folder",)"
           R"( "children": [)" +
           nodes.join(",") + "]}}, \"version\": 1}";
}

QByteArray localState(const QList<QPair<QByteArray, QByteArray>>& profiles) {
    QByteArrayList entries;
    for (const auto& [folder, name] : profiles)
        entries << "\"" + folder + "\": {\"name\": \"" + name + "\"}";
    return R"({"profile": {"info_cache": {)" + entries.join(",") + "}}}";
}

QString message(const CommandResult& result) {
    return QStringLiteral("exit %1\nstdout: %2\nstderr: %3")
        .arg(result.exitCode)
        .arg(QString::fromUtf8(result.out), QString::fromUtf8(result.err));
}

TEST(BrowserPlaces, EveryProfileOfEveryPlaceIsImportedAndBadPlacesAreNamed) {
    TempHome home;
    const QString firefox = home.path() + "/.config/mozilla/firefox";
    // Bad places alone: a profile list naming a missing folder and a loop of
    // links, and a Local State that is not JSON.
    home.write(".config/mozilla/firefox/profiles.ini",
               "[Install4F96D1932A9F858E]\nDefault=abc.default-release\n\n"
               "[Profile0]\nName=default-release\nIsRelative=1\nPath=abc.default-release\n\n"
               "[Profile1]\nName=Work\nIsRelative=0\nPath=" +
                   QFile::encodeName(home.path()) +
                   "/elsewhere/work.profile\n\n"
                   "[Profile2]\nName=gone\nIsRelative=1\nPath=gone.profile\n\n"
                   "[Profile3]\nName=looped\nIsRelative=1\nPath=loop.profile\n");
    ASSERT_TRUE(QFile::link(firefox + "/loop.other", firefox + "/loop.profile"));
    ASSERT_TRUE(QFile::link(firefox + "/loop.profile", firefox + "/loop.other"));
    home.write(".config/vivaldi/Local State", "{\"profile\": not JSON");
    home.write(".config/vivaldi/Default/Bookmarks", chromiumBookmarks({{"V", "http://v.test/"}}));
    QDir(home.favorites()).removeRecursively();

    const CommandResult none = e2e::runPagoramaCommand(home, {"--import-bookmarks", "all"});
    EXPECT_EQ(none.exitCode, 1) << qPrintable(message(none));
    EXPECT_TRUE(none.err.contains("No browser bookmarks found")) << qPrintable(message(none));
    for (const char* line : {"/.config/vivaldi/Local State: not JSON, skipped\n",
                             "/abc.default-release: no such profile folder, skipped\n",
                             "/elsewhere/work.profile: no such profile folder, skipped\n",
                             "/gone.profile: no such profile folder, skipped\n",
                             "/loop.profile: a loop of symbolic links, skipped\n"})
        EXPECT_EQ(none.err.count(line), 1) << line << "\n" << qPrintable(message(none));
    EXPECT_FALSE(QFileInfo::exists(home.favorites()));
    EXPECT_FALSE(QFileInfo::exists(home.path() + "/.config/pagorama/bookmarks-imported.txt"));

    // Now the good places: Firefox's default profile open in the browser,
    // its second profile at an absolute path, two Brave profiles and the
    // Chromium snap. One address is already a favourite, in another folder;
    // one is in two profiles.
    home.write("Favorites/Old/Mine.url", "[InternetShortcut]\r\nURL=http://mine.test/\r\n");
    OpenDatabase live(firefox + "/abc.default-release/places.sqlite",
                      firefoxPlaces("http://fox.test/", "Fox"), true);
    ASSERT_GT(QFileInfo(firefox + "/abc.default-release/places.sqlite-wal").size(), 0);
    OpenDatabase work(home.path() + "/elsewhere/work.profile/places.sqlite",
                      firefoxPlaces("http://shared.test/", "Shared"), false);
    const QString brave = ".config/BraveSoftware/Brave-Browser/";
    home.write(brave + "Local State", localState({{"Default", "Person 1"}, {"Profile 3", "Work"}}));
    home.write(brave + "Default/Bookmarks",
               chromiumBookmarks(
                   {{"Brave one", "http://brave-one.test/"}, {"Mine again", "http://mine.test/"}}));
    home.write(brave + "Profile 3/Bookmarks",
               chromiumBookmarks(
                   {{"Shared", "http://shared.test/"}, {"Brave work", "http://brave-work.test/"}}));
    home.write(brave + "Profile 7/Bookmarks", chromiumBookmarks({{"Unlisted", "http://u.test/"}}));
    home.write("snap/chromium/common/chromium/Local State", localState({{"Default", "Person 1"}}));
    home.write("snap/chromium/common/chromium/Default/Bookmarks",
               chromiumBookmarks({{"Snap one", "http://snap-one.test/"}}));

    const CommandResult all = e2e::runPagoramaCommand(home, {"--import-bookmarks", "all"});
    ASSERT_EQ(all.exitCode, 0) << qPrintable(message(all));
    EXPECT_EQ(all.out, "Chromium (snap), profile \"Person 1\": 1 bookmark\n"
                       "Brave, profile \"Person 1\": 2 bookmarks\n"
                       "Brave, profile \"Work\": 2 bookmarks\n"
                       "Firefox, profile \"default-release\": 1 bookmark\n"
                       "Firefox, profile \"Work\": 1 bookmark\n"
                       "Imported 5 favourites into 2 folders; 2 already there; 0 skipped\n");
    EXPECT_EQ(all.err.count("skipped\n"), 3) << qPrintable(message(all));
    const QMap<QString, QByteArray> expected = {
        {"Old/", {}},
        {"Old/Mine.url", "[InternetShortcut]\r\nURL=http://mine.test/\r\n"},
        {"Bookmarks bar/", {}},
        {"Bookmarks bar/Snap one.URL", testsupport::shortcutBytes("http://snap-one.test/")},
        {"Bookmarks bar/Brave one.URL", testsupport::shortcutBytes("http://brave-one.test/")},
        {"Bookmarks bar/Shared.URL", testsupport::shortcutBytes("http://shared.test/")},
        {"Bookmarks bar/Brave work.URL", testsupport::shortcutBytes("http://brave-work.test/")},
        {"Bookmarks Toolbar/", {}},
        {"Bookmarks Toolbar/Fox.URL", testsupport::shortcutBytes("http://fox.test/")},
    };
    EXPECT_EQ(testsupport::favoritesTree(home.favorites()), expected);

    // One family alone: Firefox is found under ~/.config/mozilla.
    const CommandResult fox = e2e::runPagoramaCommand(home, {"--import-bookmarks", "firefox"});
    EXPECT_EQ(fox.exitCode, 0) << qPrintable(message(fox));
    EXPECT_TRUE(
        fox.out.endsWith("Imported 0 favourites into 0 folders; 2 already there; 0 skipped\n"))
        << qPrintable(message(fox));
}

TEST(BrowserPlaces, HistorySuggestionsComeFromEverySecondProfileToo) {
    TempHome home;
    TestSite site;
    home.write("Favorites/Weather.url",
               "[InternetShortcut]\r\nURL=" + site.url("/title").toUtf8() + "\r\n");
    const QByteArray schema =
        "CREATE TABLE urls (id INTEGER PRIMARY KEY, url TEXT, title TEXT, visit_count INTEGER);";
    const QString chrome = home.path() + "/.config/google-chrome/";
    home.write(".config/google-chrome/Local State",
               localState({{"Default", "Person 1"}, {"Profile 1", "Second"}}));
    OpenDatabase first(chrome + "Default/History",
                       schema + "INSERT INTO urls (url, visit_count) VALUES ('" +
                           site.url("/a/b").toUtf8() + "', 3);",
                       false);
    // Visited often in the second profile alone.
    OpenDatabase second(chrome + "Profile 1/History",
                        schema + "INSERT INTO urls (url, visit_count) VALUES ('" +
                            site.url("/x/c.html").toUtf8() + "', 25);",
                        true);

    ProgramRun program(home);
    program.writeSettings("[Data]\r\nPort=" + QByteArray::number(e2e::freePort()) +
                          "\r\n[General]\r\nHistory=1\r\nHistory_threshhold=10\r\nAutoStart=0\r\n");
    program.start();
    ASSERT_TRUE(ProgramRun::waitUntil(
        [&] {
            program.waitForStderr("", 10);
            return program.stderrText().count("All Done") >= 2;
        },
        180000))
        << qPrintable(program.stderrText());
    QXmlStreamReader reader(home.read("Documents/pagorama/history.xml"));
    QStringList suggested;
    while (!reader.atEnd())
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == u"Link")
            suggested << reader.attributes().value("DESCRIPTION").toString();
    EXPECT_EQ(suggested, QStringList{"X C"});
    EXPECT_TRUE(home.read("Documents/pagorama/history.htm").contains("X C"));
    EXPECT_EQ(program.terminate(), 0);
}

} // namespace
