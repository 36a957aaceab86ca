#include "catalogue/shortcut_file.h"
#include "support/temp_home.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace catalogue;

namespace {

QString shortcutText(const ShortcutFile& file, int id) {
    return PropertyText(ReadShortcutProperty(file, PropertySet::Shortcut, id));
}
QString siteText(const ShortcutFile& file, int id) {
    return PropertyText(ReadShortcutProperty(file, PropertySet::Site, id));
}

} // namespace

TEST(ShortcutFileTables, NamesAndIdentifiersInWritingOrder) {
    EXPECT_STREQ(ShortcutProperties.front().name, "PID_IS_URL");
    EXPECT_EQ(ShortcutProperties[2].id, 5);
    EXPECT_STREQ(ShortcutProperties.back().name, "PID_IS_COMMENT");
    EXPECT_EQ(ShortcutProperties.back().id, 13);
    EXPECT_STREQ(SiteProperties[2].name, "PID_INTSITE_LASTVISIT");
    EXPECT_EQ(SiteProperties[14].id, 16);
    EXPECT_STREQ(SiteProperties[15].name, "PID_INTSITE_CODEPAGE");
    EXPECT_EQ(SiteProperties[15].id, 18);
}

TEST(ShortcutFileRead, KeysAndBothPropertySections) {
    ShortcutFile file;
    file.parse("[{000214A0-0000-0000-C000-000000000046}]\r\n"
               "Prop3=19,2\r\n"
               "Prop2=31,http://stale.example/\r\n"
               "Prop12=31,A description\r\n"
               "[internetshortcut]\r\n"
               "url=http://example.org/a?b=1&c=2\r\n"
               "IDList=\r\n"
               "HotKey=0\r\n"
               "IconIndex=1\r\n"
               "IconFile=C:\\icons\\site.ico\r\n"
               "ShowCommand=7\r\n"
               "[{000214A1-0000-0000-C000-000000000046}]\r\n"
               "Prop4=64,0x1c3287861e3a000\r\n"
               "Prop6=19,42\r\n"
               "Prop16=31,Example Title\r\n"
               "Prop11=11,-1\r\n");
    EXPECT_EQ(shortcutText(file, 2), "http://example.org/a?b=1&c=2")
        << "the [InternetShortcut] key wins over the section";
    EXPECT_EQ(shortcutText(file, 5), "") << "no WorkingDirectory: empty";
    EXPECT_TRUE(ReadShortcutProperty(file, PropertySet::Shortcut, 5).isEmpty());
    EXPECT_EQ(shortcutText(file, 6), "0");
    EXPECT_EQ(shortcutText(file, 7), "7");
    EXPECT_EQ(shortcutText(file, 8), "1");
    EXPECT_EQ(shortcutText(file, 9), "C:\\icons\\site.ico");
    EXPECT_EQ(shortcutText(file, 12), "A description");
    EXPECT_EQ(siteText(file, 6), "42");
    EXPECT_EQ(siteText(file, 16), "Example Title");
    EXPECT_EQ(siteText(file, 11), "True");
    EXPECT_EQ(ReadShortcutProperty(file, PropertySet::Site, 4).type, vt::FileTime);
    EXPECT_EQ(ReadShortcutProperty(file, PropertySet::Site, 4).integer, 126989712000000000LL);
    EXPECT_TRUE(ReadShortcutProperty(file, PropertySet::Site, 2).isEmpty());
}

TEST(ShortcutFileRead, OddLinesAreSkippedAndMissingFilesHoldNothing) {
    ShortcutFile file;
    file.parse("; a comment\nURL=http://outside.example/\n[InternetShortcut]\n"
               "URL = http://inside.example/ \n[{000214A1-0000-0000-C000-000000000046}]\n"
               "Prop6=nonsense\nPropX=19,3\nProp7=31,kept\n");
    EXPECT_EQ(shortcutText(file, 2), "http://inside.example/");
    EXPECT_EQ(siteText(file, 6), "");
    EXPECT_EQ(siteText(file, 7), "kept");

    testsupport::TempHome home;
    EXPECT_FALSE(file.load(home.path() + "/missing.url"));
    EXPECT_EQ(shortcutText(file, 2), "") << "a failed load forgets the old values";
}

TEST(ShortcutFileWrite, TwoLinesWithCrLfAnnouncedByPath) {
    testsupport::TempHome home;
    const QString path = home.favorites() + "/temp123.URL";
    home.write("Favorites/temp123.URL", "old contents that are longer than the new ones");
    QStringList announced;
    ASSERT_TRUE(WriteUrlFile(path, "http://example.org/x",
                             [&](const QString& written) { announced << written; }));
    EXPECT_EQ(announced, QStringList{path});
    EXPECT_EQ(home.read("Favorites/temp123.URL"),
              "[InternetShortcut]\r\nURL=http://example.org/x\r\n");

    ShortcutFile file;
    ASSERT_TRUE(file.load(path));
    EXPECT_EQ(shortcutText(file, 2), "http://example.org/x");

    // A folder that is a regular file cannot hold the shortcut.
    EXPECT_FALSE(WriteUrlFile(path + "/inside.url", "http://example.org/", {}));
}
