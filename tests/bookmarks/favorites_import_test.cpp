// Writing bookmarks into a Favorites folder that already holds favourites:
// nothing is replaced, names stay safe and unique without regard to case,
// and nothing lands outside the folder.
#include "bookmarks/favorites_import.h"
#include "support/favorites_tree.h"
#include "support/temp_home.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace bookmarks;
using testsupport::favoritesTree;
using testsupport::shortcutBytes;
using testsupport::TempHome;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

TEST(FavoritesImport, ExistingFavouritesAreNeverReplaced) {
    TempHome home;
    const QString fav = home.favorites();
    writeFile(fav + "/News.url", shortcutBytes("https://news.example/"));
    writeFile(fav + "/weather (2).URL", shortcutBytes("https://rain.example/"));
    writeFile(fav + "/Notes.txt", "my own notes");

    BookmarkTree tree;
    TreeBuilder builder(tree);
    builder.addBookmark("Renamed news", "https://news.example/"); // already a favourite here
    builder.addBookmark("NEWS", "https://other-news.example/");   // name taken, other address
    builder.addBookmark("Weather", "https://sun.example/");
    builder.addBookmark("Weather", "https://snow.example/");    // "(2)" is taken by a file
    builder.addBookmark("Weather", "https://sun.example/");     // came before in this import
    builder.addBookmark("Notes.txt", "https://notes.example/"); // a name only as a file
    const ImportSummary summary = WriteIntoFavorites(tree, fav);

    EXPECT_EQ(summary.imported, 4);
    EXPECT_EQ(summary.alreadyThere, 2);
    const QMap<QString, QByteArray> expected = {
        {"News.url", shortcutBytes("https://news.example/")},
        {"NEWS (2).URL", shortcutBytes("https://other-news.example/")},
        {"weather (2).URL", shortcutBytes("https://rain.example/")},
        {"Weather.URL", shortcutBytes("https://sun.example/")},
        {"Weather (3).URL", shortcutBytes("https://snow.example/")},
        {"Notes.txt", "my own notes"},
        {"Notes.txt.URL", shortcutBytes("https://notes.example/")},
    };
    EXPECT_EQ(favoritesTree(fav), expected);
}

TEST(FavoritesImport, FoldersMergeWithoutRegardToCaseAndStepAroundFiles) {
    TempHome home;
    const QString fav = home.favorites();
    QDir().mkpath(fav + "/bookmarks BAR");
    writeFile(fav + "/bookmarks BAR/Kept.url", shortcutBytes("https://kept.example/"));
    writeFile(fav + "/Links", "a file, not a folder");

    BookmarkTree tree;
    TreeBuilder builder(tree);
    builder.openFolder("Bookmarks bar");
    builder.addBookmark("Kept again", "https://kept.example/");
    builder.addBookmark("New", "https://new.example/");
    builder.closeFolder();
    builder.openFolder("Links");
    builder.addBookmark("Link", "https://link.example/");
    builder.closeFolder();
    builder.openFolder("Empty");
    builder.closeFolder();
    const ImportSummary summary = WriteIntoFavorites(tree, fav);

    EXPECT_EQ(summary.text(), "Imported 2 favourites into 2 folders; 1 already there; 0 skipped\n"
                              "2 of them are https sites: Pagorama checks and pictures those only "
                              "with \"Picture secure (https) sites\" ticked (SecureSites=1)");
    const QMap<QString, QByteArray> expected = {
        {"bookmarks BAR/", {}},
        {"bookmarks BAR/Kept.url", shortcutBytes("https://kept.example/")},
        {"bookmarks BAR/New.URL", shortcutBytes("https://new.example/")},
        {"Links", "a file, not a folder"},
        {"Links (2)/", {}},
        {"Links (2)/Link.URL", shortcutBytes("https://link.example/")},
        {"Empty/", {}},
    };
    EXPECT_EQ(favoritesTree(fav), expected);
}

TEST(FavoritesImport, UnsafeNamesAndAddressesNeverBecomePathsOrKeys) {
    TempHome home;
    const QString fav = home.favorites();
    BookmarkTree tree;
    TreeBuilder builder(tree);
    builder.addBookmark("...", "http://dots.example/page");
    builder.addBookmark(" \t ", "https://blank.example/");
    builder.addBookmark(". .", "file:///srv/share/");
    builder.addBookmark("../../escape", "https://escape.example/");
    builder.addBookmark(".hidden", "https://hidden.example/");
    builder.addBookmark("Line\nbreak", "https://line.example/");
    builder.addBookmark("Injected", "https://x.example/\r\nIconFile=/etc/passwd");
    builder.addBookmark("Script", "JavaScript:alert(1)");
    builder.addBookmark("Data", "data:text/html,hi");
    builder.addBookmark("Internal", "chrome://settings");
    builder.addBookmark("Nothing", "");
    builder.openFolder("..");
    builder.addBookmark("In dots", "https://in-dots.example/");
    builder.closeFolder();
    builder.openFolder("  ");
    builder.addBookmark("In blanks", "https://in-blanks.example/");
    builder.closeFolder();
    const ImportSummary summary = WriteIntoFavorites(tree, fav);

    EXPECT_EQ(summary.imported, 8);
    EXPECT_EQ(summary.notWeb, 3);
    EXPECT_EQ(summary.unusable, 2);
    const QMap<QString, QByteArray> expected = {
        {"dots.example.URL", shortcutBytes("http://dots.example/page")},
        {"blank.example.URL", shortcutBytes("https://blank.example/")},
        {"Favourite.URL", shortcutBytes("file:///srv/share/")},
        {"-..-escape.URL", shortcutBytes("https://escape.example/")},
        {"hidden.URL", shortcutBytes("https://hidden.example/")},
        {"Line break.URL", shortcutBytes("https://line.example/")},
        {"Unnamed folder/", {}},
        {"Unnamed folder/In dots.URL", shortcutBytes("https://in-dots.example/")},
        {"Unnamed folder/In blanks.URL", shortcutBytes("https://in-blanks.example/")},
    };
    EXPECT_EQ(favoritesTree(fav), expected);
}

TEST(FavoritesImport, LongNamesFitAndTooLongPathsAreCounted) {
    TempHome home;
    const QString fav = home.favorites();
    BookmarkTree tree;
    TreeBuilder builder(tree);
    const QString longName(300, QChar(0x00e9)); // 600 bytes of UTF-8
    builder.addBookmark(longName, "https://long1.example/");
    builder.addBookmark(longName, "https://long2.example/");
    // Folders of 200-byte names: twenty of them exceed the longest path.
    for (int i = 0; i < 25; ++i)
        builder.openFolder(QString(200, QChar('a' + i)));
    builder.addBookmark("Deep", "https://deep.example/");
    for (int i = 0; i < 25; ++i)
        builder.closeFolder();
    const ImportSummary summary = WriteIntoFavorites(tree, fav);

    EXPECT_TRUE(summary.error.isEmpty()) << qPrintable(summary.error);
    EXPECT_EQ(summary.imported, 2);
    EXPECT_EQ(summary.pathTooLong, 1);
    for (const QString& name : QDir(fav).entryList(QDir::Files)) {
        EXPECT_LE(QFile::encodeName(name).size(), 248) << qPrintable(name);
        EXPECT_TRUE(name.startsWith(QChar(0x00e9)));
    }
    EXPECT_EQ(QDir(fav).entryList(QDir::Files).size(), 2);
}

TEST(FavoritesImport, ALinkInFavoritesIsNotFollowedOutside) {
    TempHome home;
    QTemporaryDir outside;
    const QString fav = home.favorites();
    ASSERT_TRUE(QFile::link(outside.path(), fav + "/Bookmarks bar"));
    BookmarkTree tree;
    TreeBuilder builder(tree);
    builder.openFolder("Bookmarks bar");
    builder.addBookmark("Inside", "https://inside.example/");
    builder.closeFolder();
    const ImportSummary summary = WriteIntoFavorites(tree, fav);

    EXPECT_EQ(summary.imported, 1);
    EXPECT_TRUE(QDir(outside.path()).isEmpty());
    EXPECT_TRUE(QFile::exists(fav + "/Bookmarks bar (2)/Inside.URL"));
}

TEST(FavoritesImport, AFolderThatCannotBeWrittenStopsWithTheReason) {
    TempHome home;
    // A Favorites path whose parent is a regular file cannot be created,
    // whoever runs the test.
    writeFile(home.path() + "/plain", "x");
    BookmarkTree tree;
    TreeBuilder builder(tree);
    builder.addBookmark("A", "https://a.example/");
    const ImportSummary summary = WriteIntoFavorites(tree, home.path() + "/plain/Favorites");
    EXPECT_EQ(summary.imported, 0);
    EXPECT_TRUE(summary.error.contains("Cannot create the Favorites folder"))
        << qPrintable(summary.error);
}
