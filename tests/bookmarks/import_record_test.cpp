// Imports that repeat with a record of the addresses seen: only bookmarks
// new to the record are written, a favourite deleted after its import stays
// deleted, and a source that cannot be read changes neither the Favorites
// folder nor the record.
#include "bookmarks/import_record.h"
#include "support/favorites_tree.h"
#include "support/temp_home.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

QByteArray chromiumFile(const QList<QPair<QByteArray, QByteArray>>& bookmarks) {
    QByteArray children;
    for (const auto& [name, url] : bookmarks) {
        if (!children.isEmpty())
            children += ",";
        children += R"({"name": ")" + name + R"(", "type": "url", "url": ")" + url + R"("})";
    }
    return R"({"roots": {"bookmark_bar": {"name": "Bar", "type": "folder", "children": [
        {"name": "News", "type": "folder", "children": [)" +
           children + R"(]}]}}, "version": 1})";
}

class ImportRecord : public ::testing::Test {
protected:
    QString record() const { return home.path() + "/.config/pagorama/bookmarks-imported.txt"; }
    bookmarks::ImportResult importAgain() {
        return bookmarks::importNewBookmarks("chromium", home.favorites(), record());
    }

    testsupport::TempHome home;
};

TEST_F(ImportRecord, OnlyNewAddressesComeInAndDeletedFavouritesStayDeleted) {
    home.write(".config/chromium/Default/Bookmarks",
               chromiumFile({{"One", "http://one.test/"}, {"Two", "http://two.test/"}}));
    bookmarks::ImportResult result = importAgain();
    ASSERT_TRUE(result.ok) << qPrintable(result.error);
    EXPECT_EQ(result.summary.imported, 2);
    EXPECT_EQ(bookmarks::readImportRecord(record()),
              (QSet<QString>{"http://one.test/", "http://two.test/"}));

    // The user deletes one; the browser gains another.
    ASSERT_TRUE(QFile::remove(home.favorites() + "/Bar/News/One.URL"));
    home.write(".config/chromium/Default/Bookmarks",
               chromiumFile({{"One", "http://one.test/"},
                             {"Two", "http://two.test/"},
                             {"Three", "http://three.test/?a=1#b"}}));
    std::vector<QString> created;
    result = bookmarks::importNewBookmarks("chromium", home.favorites(), record(),
                                           [&](const QString& path) { created.push_back(path); });
    ASSERT_TRUE(result.ok) << qPrintable(result.error);
    EXPECT_EQ(result.summary.imported, 1);
    EXPECT_EQ(result.summary.alreadyThere, 0); // "Two" is not even looked at again
    EXPECT_EQ(created, std::vector<QString>{home.favorites() + "/Bar/News/Three.URL"});
    const auto tree = testsupport::favoritesTree(home.favorites());
    EXPECT_EQ(tree.keys(),
              (QStringList{"Bar/", "Bar/News/", "Bar/News/Three.URL", "Bar/News/Two.URL"}));
    EXPECT_EQ(tree.value("Bar/News/Three.URL"),
              testsupport::shortcutBytes("http://three.test/?a=1#b"));
    EXPECT_EQ(home.read(".config/pagorama/bookmarks-imported.txt"),
              "http://one.test/\nhttp://three.test/?a=1#b\nhttp://two.test/\n");

    // Nothing new: nothing written, not even the folders the user removed.
    QDir(home.favorites() + "/Bar").removeRecursively();
    result = importAgain();
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.summary.imported, 0);
    EXPECT_TRUE(testsupport::favoritesTree(home.favorites()).isEmpty());
}

TEST_F(ImportRecord, AnUnreadableSourceChangesNothing) {
    home.write(".config/pagorama/bookmarks-imported.txt", "http://one.test/\n");
    home.write(".config/chromium/Default/Bookmarks", "{ not json");
    const bookmarks::ImportResult result = importAgain();
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.isEmpty());
    EXPECT_EQ(home.read(".config/pagorama/bookmarks-imported.txt"), "http://one.test/\n");
    EXPECT_TRUE(testsupport::favoritesTree(home.favorites()).isEmpty());
}

} // namespace
