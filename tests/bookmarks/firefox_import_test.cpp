// The bookmarks of Firefox profiles: a places.sqlite in the browser's own
// table layout, open in write-ahead-log mode as a running browser keeps it,
// with one bookmark that so far lives only in the -wal file.
#include "bookmarks/bookmarks.h"
#include "support/favorites_tree.h"
#include "support/temp_home.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sqlite3.h>

using testsupport::favoritesTree;
using testsupport::shortcutBytes;
using testsupport::TempHome;

namespace {

const char* const Schema = R"sql(
CREATE TABLE moz_origins ( id INTEGER PRIMARY KEY, prefix TEXT NOT NULL, host TEXT NOT NULL,
  frecency INTEGER NOT NULL, recalc_frecency INTEGER NOT NULL DEFAULT 0, alt_frecency INTEGER,
  recalc_alt_frecency INTEGER NOT NULL DEFAULT 0, UNIQUE (prefix, host) );
CREATE TABLE moz_places ( id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR,
  rev_host LONGVARCHAR, visit_count INTEGER DEFAULT 0, hidden INTEGER DEFAULT 0 NOT NULL,
  typed INTEGER DEFAULT 0 NOT NULL, frecency INTEGER DEFAULT -1 NOT NULL,
  last_visit_date INTEGER , guid TEXT, foreign_count INTEGER DEFAULT 0 NOT NULL,
  url_hash INTEGER DEFAULT 0 NOT NULL , description TEXT, preview_image_url TEXT,
  site_name TEXT, origin_id INTEGER REFERENCES moz_origins(id),
  recalc_frecency INTEGER NOT NULL DEFAULT 0, alt_frecency INTEGER,
  recalc_alt_frecency INTEGER NOT NULL DEFAULT 0);
CREATE TABLE moz_bookmarks ( id INTEGER PRIMARY KEY, type INTEGER, fk INTEGER DEFAULT NULL,
  parent INTEGER, position INTEGER, title LONGVARCHAR, keyword_id INTEGER, folder_type TEXT,
  dateAdded INTEGER, lastModified INTEGER, guid TEXT, syncStatus INTEGER NOT NULL DEFAULT 0,
  syncChangeCounter INTEGER NOT NULL DEFAULT 1);
CREATE INDEX moz_bookmarks_itemindex ON moz_bookmarks (fk, type);
CREATE INDEX moz_bookmarks_parentindex ON moz_bookmarks (parent, position);
CREATE UNIQUE INDEX moz_bookmarks_guid_uniqueindex ON moz_bookmarks (guid);
)sql";

// The root, the browser's top folders, and the user's bookmarks: a folder
// in the menu, the toolbar, a tag folder that points at a bookmark again,
// a separator and a query address.
const char* const Rows = R"sql(
INSERT INTO moz_places (id, url, title, guid) VALUES
  (1, 'https://news.example/today?edition=eu#top', 'News', 'pl1'),
  (2, 'http://work.example/', 'Work', 'pl2'),
  (3, 'place:parent=menu________&queryType=1&sort=12', NULL, 'pl3'),
  (4, 'https://toolbar.example/', 'T', 'pl4'),
  (5, 'http://log.example/', 'Log', 'pl5');
INSERT INTO moz_bookmarks (id, type, fk, parent, position, title, guid) VALUES
  (1, 2, NULL, 0, 0, '', 'root________'),
  (2, 2, NULL, 1, 0, 'menu', 'menu________'),
  (3, 2, NULL, 1, 1, 'toolbar', 'toolbar_____'),
  (4, 2, NULL, 1, 2, 'tags', 'tags________'),
  (5, 2, NULL, 1, 3, 'unfiled', 'unfiled_____'),
  (6, 2, NULL, 1, 4, 'mobile', 'mobile______'),
  (10, 1, 3, 2, 0, 'Recent Tags', 'bm10'),
  (11, 2, NULL, 2, 1, 'Work: stuff/plans', 'bm11'),
  (12, 1, 2, 11, 0, 'Work site', 'bm12'),
  (13, 3, NULL, 2, 2, '', 'bm13'),
  (14, 1, 1, 2, 3, 'News', 'bm14'),
  (15, 1, 4, 3, 0, 'On the toolbar', 'bm15'),
  (20, 2, NULL, 4, 0, 'reading', 'bm20'),
  (21, 1, 1, 20, 0, NULL, 'bm21');
)sql";

// Keeps a profile's places.sqlite open as the browser does, with every row
// but the last in the database file and the last one only in its -wal file.
class LiveProfile {
public:
    explicit LiveProfile(const QString& path) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        EXPECT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db_), SQLITE_OK);
        exec("PRAGMA journal_mode=WAL");
        exec(Schema);
        exec(Rows);
        exec("PRAGMA wal_checkpoint(TRUNCATE)");
        exec("PRAGMA wal_autocheckpoint=0");
        exec("INSERT INTO moz_bookmarks (id, type, fk, parent, position, title, guid) VALUES "
             "(30, 1, 5, 5, 0, 'Only in the log', 'bm30')");
    }
    ~LiveProfile() { sqlite3_close(db_); }

    void exec(const char* sql) {
        char* message = nullptr;
        EXPECT_EQ(sqlite3_exec(db_, sql, nullptr, nullptr, &message), SQLITE_OK)
            << (message ? message : "");
        sqlite3_free(message);
    }

private:
    sqlite3* db_ = nullptr;
};

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// How many bookmark rows a copy of the database file alone holds.
int rowsWithoutLog(const QString& path) {
    QTemporaryDir dir;
    const QString copy = dir.filePath("alone.sqlite");
    QFile::copy(path, copy);
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(copy).constData(), &db);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM moz_bookmarks", -1, &statement, nullptr);
    const int count = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int(statement, 0) : -1;
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return count;
}

const QByteArray ProfilesIni = "[Install4F96D1932A9F858E]\n"
                               "Default=abcd1234.default-release\n"
                               "Locked=1\n\n"
                               "[Profile1]\n"
                               "Name=default\n"
                               "IsRelative=1\n"
                               "Path=wxyz5678.default\n\n"
                               "[Profile0]\n"
                               "Name=default-release\n"
                               "IsRelative=1\n"
                               "Path=abcd1234.default-release\n"
                               "Default=1\n\n"
                               "[General]\n"
                               "StartWithLastProfile=1\n"
                               "Version=2\n";

} // namespace

TEST(FirefoxImport, BookmarksOfTheLiveDatabaseAndItsLogBecomeFavorites) {
    TempHome home;
    home.write(".mozilla/firefox/profiles.ini", ProfilesIni);
    const QString places = home.path() + "/.mozilla/firefox/abcd1234.default-release/places.sqlite";
    LiveProfile browser(places);
    ASSERT_TRUE(QFile::exists(places + "-wal"));
    ASSERT_EQ(rowsWithoutLog(places), 14); // the fixture's last row is in the log alone
    const QByteArray databaseBefore = fileBytes(places);
    const QByteArray logBefore = fileBytes(places + "-wal");

    const bookmarks::ImportResult result = bookmarks::importBookmarks("firefox", home.favorites());
    ASSERT_TRUE(result.ok) << qPrintable(result.error);
    EXPECT_EQ(result.sources, QStringList{places});
    EXPECT_EQ(result.summary.text(),
              "Imported 4 favourites into 4 folders; 0 already there; 1 skipped\n"
              "2 of them are https sites: Pagorama checks and pictures those only with "
              "\"Picture secure (https) sites\" ticked (SecureSites=1)\n"
              "Skipped: 1 not web addresses (javascript:, place:, data:, ...)\n"
              "  \"Recent Tags\" <place:parent=menu________&queryType=1&sort=12>: "
              "not a web address");
    const QMap<QString, QByteArray> expected = {
        {"Bookmarks Menu/", {}},
        {"Bookmarks Menu/News.URL", shortcutBytes("https://news.example/today?edition=eu#top")},
        {"Bookmarks Menu/Work: stuff-plans/", {}},
        {"Bookmarks Menu/Work: stuff-plans/Work site.URL", shortcutBytes("http://work.example/")},
        {"Bookmarks Toolbar/", {}},
        {"Bookmarks Toolbar/On the toolbar.URL", shortcutBytes("https://toolbar.example/")},
        {"Other Bookmarks/", {}},
        {"Other Bookmarks/Only in the log.URL", shortcutBytes("http://log.example/")},
    };
    EXPECT_EQ(favoritesTree(home.favorites()), expected);

    // The browser's own files are as they were, and it goes on writing.
    EXPECT_EQ(fileBytes(places), databaseBefore);
    EXPECT_EQ(fileBytes(places + "-wal"), logBefore);
    browser.exec(
        "INSERT INTO moz_places (id, url, guid) VALUES (6, 'https://later.example/', 'pl6')");
    browser.exec("INSERT INTO moz_bookmarks (id, type, fk, parent, position, title, guid) VALUES "
                 "(31, 1, 6, 3, 1, 'Later', 'bm31')");

    const bookmarks::ImportResult again = bookmarks::importBookmarks("firefox", home.favorites());
    ASSERT_TRUE(again.ok) << qPrintable(again.error);
    EXPECT_EQ(again.summary.imported, 1);
    EXPECT_EQ(again.summary.alreadyThere, 4);
    EXPECT_TRUE(QFile::exists(home.favorites() + "/Bookmarks Toolbar/Later.URL"));
}

TEST(FirefoxImport, NoProfileOrNoDatabaseIsAClearError) {
    TempHome home;
    bookmarks::ImportResult result = bookmarks::importBookmarks("firefox", home.favorites());
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.error.contains("No Firefox bookmarks found")) << qPrintable(result.error);

    home.write(".mozilla/firefox/profiles.ini", ProfilesIni);
    home.write(".mozilla/firefox/abcd1234.default-release/places.sqlite", "not a database at all");
    result = bookmarks::importBookmarks("firefox", home.favorites());
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.error.contains("places.sqlite")) << qPrintable(result.error);
    EXPECT_TRUE(favoritesTree(home.favorites()).isEmpty());
}
