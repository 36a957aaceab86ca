#include "platform/dir_enum.h"
#include "support/temp_home.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <gtest/gtest.h>

#include <unistd.h>

using platform::DirEntry;
using platform::listDirectory;
using platform::matchesMask;
using testsupport::TempHome;

namespace {

QStringList names(const QList<DirEntry>& entries) {
    QStringList out;
    for (const DirEntry& e : entries)
        out << e.name;
    return out;
}

const DirEntry* find(const QList<DirEntry>& entries, const QString& name) {
    for (const DirEntry& e : entries)
        if (e.name == name)
            return &e;
    return nullptr;
}

} // namespace

TEST(DirEnum, MasksIgnoreLetterCase) {
    EXPECT_TRUE(matchesMask("News.URL", "*.url"));
    EXPECT_TRUE(matchesMask("a.b.url", "*.url"));
    EXPECT_FALSE(matchesMask("site.url.txt", "*.url"));
    EXPECT_FALSE(matchesMask("url", "*.url"));
    EXPECT_TRUE(matchesMask("noext", "*.*"));
    EXPECT_TRUE(matchesMask(".hidden", "*.*"));
    EXPECT_TRUE(matchesMask("anything", "*"));
    EXPECT_TRUE(matchesMask("temp12.URL", "temp??.url"));
    EXPECT_FALSE(matchesMask("temp1.URL", "temp??.url"));
    EXPECT_TRUE(matchesMask("Ärger.url", "ä*.URL"));
}

TEST(DirEnum, ListsMatchingEntriesSortedWithoutCase) {
    TempHome home;
    const QString dir = home.path() + "/list";
    home.write("list/b.url", "12345");
    home.write("list/A.URL", "");
    home.write("list/c.Url", "");
    home.write("list/.hidden.url", "");
    home.write("list/notes.txt", "");
    home.write("list/Zed/inner.url", "");
    home.write("list/alpha/x", "");

    const QList<DirEntry> urls = listDirectory(dir, "*.url");
    EXPECT_EQ(names(urls), (QStringList{".hidden.url", "A.URL", "b.url", "c.Url"}));
    ASSERT_NE(find(urls, "b.url"), nullptr);
    EXPECT_EQ(find(urls, "b.url")->size, 5);
    EXPECT_FALSE(find(urls, "b.url")->isDirectory);
    EXPECT_TRUE(find(urls, "b.url")->lastWriteTime.isValid());
    EXPECT_TRUE(find(urls, "b.url")->creationTime.isValid());

    const QList<DirEntry> all = listDirectory(dir, "*.*");
    EXPECT_EQ(names(all),
              (QStringList{".hidden.url", "A.URL", "alpha", "b.url", "c.Url", "notes.txt", "Zed"}));
    ASSERT_NE(find(all, "Zed"), nullptr);
    EXPECT_TRUE(find(all, "Zed")->isDirectory);
    EXPECT_EQ(listDirectory(dir, "*").size(), all.size());
}

TEST(DirEnum, LinkToFolderIsNotAFolder) {
    TempHome home;
    home.write("real/inside.url", "");
    home.write("scan/file.url", "abc");
    ASSERT_EQ(::symlink(QFile::encodeName(home.path() + "/real").constData(),
                        QFile::encodeName(home.path() + "/scan/linked").constData()),
              0);
    ASSERT_EQ(::symlink(QFile::encodeName(home.path() + "/scan/file.url").constData(),
                        QFile::encodeName(home.path() + "/scan/alias.url").constData()),
              0);
    const QList<DirEntry> entries = listDirectory(home.path() + "/scan", "*");
    ASSERT_NE(find(entries, "linked"), nullptr);
    EXPECT_FALSE(find(entries, "linked")->isDirectory);
    EXPECT_TRUE(find(entries, "linked")->isSymLink);
    // A link to a file still reads as that file.
    ASSERT_NE(find(entries, "alias.url"), nullptr);
    EXPECT_EQ(find(entries, "alias.url")->size, 3);
}

TEST(DirEnum, MissingOrUnreadableFolderGivesNothing) {
    TempHome home;
    EXPECT_TRUE(listDirectory(home.path() + "/absent", "*").isEmpty());
    home.write("plain.txt", "x");
    EXPECT_TRUE(listDirectory(home.path() + "/plain.txt", "*").isEmpty());
    EXPECT_TRUE(listDirectory(QString(), "*").isEmpty());
}

TEST(DirEnum, NamesAreUtf8) {
    TempHome home;
    home.write("u/Caf\xc3\xa9.url", "");
    const QList<DirEntry> entries = listDirectory(home.path() + "/u", "*.URL");
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].name, QString::fromUtf8("Caf\xc3\xa9.url"));
}
