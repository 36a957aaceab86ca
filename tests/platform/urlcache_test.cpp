#include "platform/paths.h"
#include "platform/urlcache.h"
#include "support/temp_home.h"

#include <QDir>

#include <gtest/gtest.h>
#include <sqlite3.h>

using platform::UrlCache;

namespace {

void makeHistoryDatabase(const QString& path, const char* table,
                         const QList<QPair<QByteArray, int>>& rows) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    const QByteArray create =
        QByteArray("CREATE TABLE ") + table +
        " (id INTEGER PRIMARY KEY, url TEXT, title TEXT, visit_count INTEGER)";
    ASSERT_EQ(sqlite3_exec(db, create.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    for (const auto& [url, visits] : rows) {
        const QByteArray insert = QByteArray("INSERT INTO ") + table +
                                  " (url, visit_count) VALUES ('" + url + "', " +
                                  QByteArray::number(visits) + ")";
        ASSERT_EQ(sqlite3_exec(db, insert.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    }
    sqlite3_close(db);
}

} // namespace

TEST(UrlCacheTextStore, EntriesInOrderAndBadLinesSkipped) {
    testsupport::TempHome home;
    home.write("store.txt", "3\t0\thttp://a.example/\r\n"
                            "not a line\n"
                            "x\t1\thttp://bad-count.example/\n"
                            "25\t2097152\tVisited: ann@http://b.example/p?q=1\n");
    UrlCache cache;
    ASSERT_TRUE(cache.addTextStore(home.path() + "/store.txt"));
    ASSERT_EQ(cache.entries().size(), 2);
    EXPECT_EQ(cache.entries()[0].sourceUrlName, "http://a.example/");
    EXPECT_FALSE(cache.entries()[0].history);
    EXPECT_EQ(cache.entries()[1].sourceUrlName, "Visited: ann@http://b.example/p?q=1");
    EXPECT_TRUE(cache.entries()[1].history);
    EXPECT_EQ(cache.entries()[1].hitCount, 25);

    EXPECT_EQ(cache.hitCount("http://a.example/#frag"), 3);
    EXPECT_EQ(cache.hitCount("http://b.example/p?q=1"), 25);
    EXPECT_EQ(cache.hitCount("http://c.example/"), 0);
    ASSERT_NE(cache.find("Visited: ann@http://b.example/p?q=1"), nullptr);
    EXPECT_EQ(cache.find("http://b.example/p?q=1"), nullptr);
    EXPECT_FALSE(cache.addTextStore(home.path() + "/missing.txt"));
}

TEST(UrlCacheUser, ProgramStoreAndBothBrowserHistoriesAsVisitedEntries) {
    testsupport::TempHome home;
    qputenv("USER", "tester");
    home.write(".config/pagorama/urlcache.txt", "4\t0\thttp://store.example/\n");
    makeHistoryDatabase(home.path() + "/.config/chromium/Default/History", "urls",
                        {{"http://chrome.example/", 14}, {"https://secure.example/", 2}});
    makeHistoryDatabase(home.path() + "/.mozilla/firefox/abc.default/places.sqlite", "moz_places",
                        {{"http://fox.example/", 30}});

    const UrlCache cache = UrlCache::loadUser();
    QStringList names;
    for (const platform::UrlCacheEntry& entry : cache.entries())
        names << entry.sourceUrlName;
    EXPECT_EQ(names, QStringList({"http://store.example/", "Visited: tester@http://chrome.example/",
                                  "Visited: tester@https://secure.example/",
                                  "Visited: tester@http://fox.example/"}));
    EXPECT_TRUE(cache.entries()[1].history);
    EXPECT_EQ(cache.hitCount("http://chrome.example/"), 14);
    EXPECT_EQ(cache.hitCount("http://fox.example/"), 30);

    // The databases are read from copies: the originals are left as they were.
    EXPECT_EQ(QDir(home.path() + "/.config/chromium/Default").entryList(QDir::Files),
              QStringList({"History"}));
}

TEST(UrlCacheUser, NoSourcesGiveAnEmptyCache) {
    testsupport::TempHome home;
    home.write(".mozilla/firefox/broken.default/places.sqlite", "not a database");
    const UrlCache cache = UrlCache::loadUser();
    EXPECT_TRUE(cache.entries().isEmpty());
    EXPECT_EQ(cache.hitCount("http://any.example/"), 0);
}

// A running Firefox keeps its latest visits in "places.sqlite-wal" until a
// checkpoint: they count as well, and the browser's files stay untouched.
TEST(UrlCacheUser, RecentVisitsStillInTheWriteAheadLogCount) {
    testsupport::TempHome home;
    qputenv("USER", "tester");
    const QString places = home.path() + "/.mozilla/firefox/abc.default/places.sqlite";
    makeHistoryDatabase(places, "moz_places", {{"http://old.example/", 3}});

    // The browser's connection stays open with checkpoints off, as while it runs.
    sqlite3* browser = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(places).constData(), &browser), SQLITE_OK);
    for (const char* statement :
         {"PRAGMA journal_mode=WAL", "PRAGMA wal_autocheckpoint=0",
          "INSERT INTO moz_places (url, visit_count) VALUES ('http://recent.example/', 12)",
          "UPDATE moz_places SET visit_count = 7 WHERE url = 'http://old.example/'"})
        ASSERT_EQ(sqlite3_exec(browser, statement, nullptr, nullptr, nullptr), SQLITE_OK)
            << statement;
    ASSERT_TRUE(QFileInfo(places + "-wal").size() > 0);
    const QByteArray mainBefore = home.read(".mozilla/firefox/abc.default/places.sqlite");
    const QByteArray logBefore = home.read(".mozilla/firefox/abc.default/places.sqlite-wal");

    const UrlCache cache = UrlCache::loadUser();
    EXPECT_EQ(cache.hitCount("http://recent.example/"), 12);
    EXPECT_EQ(cache.hitCount("http://old.example/"), 7);
    EXPECT_EQ(home.read(".mozilla/firefox/abc.default/places.sqlite"), mainBefore);
    EXPECT_EQ(home.read(".mozilla/firefox/abc.default/places.sqlite-wal"), logBefore);
    sqlite3_close(browser);
}
