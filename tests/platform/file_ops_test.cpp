#include "platform/file_ops.h"
#include "platform/trash.h"
#include "support/temp_home.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <cerrno>

using namespace platform;
using testsupport::TempHome;

namespace {

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

} // namespace

TEST(FileOps, DeletesOnlyMatchingFiles) {
    TempHome home;
    home.write("images/1.BMP", "a");
    home.write("images/2.bmp", "b");
    home.write("images/keep.jpg", "c");
    home.write("images/dir.bmp/inner.bmp", "d");
    const QString folder = home.path() + "/images";
    EXPECT_TRUE(deleteMatchingFiles(folder, "*.bmp", false));
    EXPECT_EQ(entries(folder), (QStringList{"dir.bmp", "keep.jpg"}));
    EXPECT_TRUE(QFile::exists(folder + "/dir.bmp/inner.bmp"));
    // Nothing left to match is not a failure.
    EXPECT_TRUE(deleteMatchingFiles(folder, "*.bmp", false));
    EXPECT_TRUE(deleteMatchingFiles(home.path() + "/missing", "*.bmp", false));
}

TEST(FileOps, UndoableDeleteGoesToTrashWithoutOverwriting) {
    TempHome home;
    qunsetenv("XDG_DATA_HOME"); // the Trash then follows HOME
    // A fresh home has no ~/.local/share yet; the Trash is made inside it.
    home.write("history/old.bmp", "first");
    // A folder given with its trailing separator, as the data folder is.
    EXPECT_TRUE(deleteMatchingFiles(home.path() + "/history/", "*.BMP", true));
    EXPECT_FALSE(QFile::exists(home.path() + "/history/old.bmp"));
    home.write("history/old.bmp", "second");
    EXPECT_TRUE(deleteMatchingFiles(home.path() + "/history", "*.bmp", true));
    EXPECT_FALSE(QFile::exists(home.path() + "/history/old.bmp"));

    const QString trash = home.path() + "/.local/share/Trash";
    EXPECT_EQ(homeTrashFolder(), trash);
    EXPECT_EQ(entries(trash + "/files"), (QStringList{"old 2.bmp", "old.bmp"}));
    EXPECT_EQ(home.read(".local/share/Trash/files/old.bmp"), "first");
    EXPECT_EQ(home.read(".local/share/Trash/files/old 2.bmp"), "second");
    const QByteArray info = home.read(".local/share/Trash/info/old.bmp.trashinfo");
    EXPECT_TRUE(info.startsWith("[Trash Info]\nPath=" + QFile::encodeName(home.path()) +
                                "/history/old.bmp\nDeletionDate="))
        << info.constData();

    EXPECT_FALSE(moveFileToTrash(home.path() + "/history/none.bmp"));
}

TEST(FileOps, RenameNeverReplaces) {
    TempHome home;
    home.write("Favorites/a.url", "A");
    home.write("Favorites/b.url", "B");
    const QString fav = home.favorites();
    int error = 0;
    EXPECT_FALSE(renameNoReplace(fav + "/a.url", fav + "/b.url", &error));
    EXPECT_EQ(error, EEXIST);
    EXPECT_EQ(home.read("Favorites/a.url"), "A");
    EXPECT_EQ(home.read("Favorites/b.url"), "B");

    EXPECT_TRUE(renameNoReplace(fav + "/a.url", fav + "/c.url", &error));
    EXPECT_FALSE(QFile::exists(fav + "/a.url"));
    EXPECT_EQ(home.read("Favorites/c.url"), "A");

    EXPECT_FALSE(renameNoReplace(fav + "/gone.url", fav + "/d.url", &error));
    EXPECT_EQ(error, ENOENT);

    // Folders move too, and are not replaced either.
    ASSERT_TRUE(QDir().mkpath(fav + "/News"));
    ASSERT_TRUE(QDir().mkpath(fav + "/Tech"));
    EXPECT_FALSE(renameNoReplace(fav + "/News", fav + "/Tech", &error));
    EXPECT_EQ(error, EEXIST);
    EXPECT_TRUE(renameNoReplace(fav + "/c.url", fav + "/News/c.url", &error));
    EXPECT_TRUE(renameNoReplace(fav + "/News", fav + "/Tech/News", &error));
    EXPECT_EQ(home.read("Favorites/Tech/News/c.url"), "A");
}
