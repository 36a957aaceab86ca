#include "platform/ini_file.h"
#include "support/temp_home.h"

#include <QFile>
#include <gtest/gtest.h>

using platform::IniFile;
using testsupport::TempHome;

TEST(IniFile, ReadsWithoutRegardToCase) {
    TempHome home;
    home.write("a.ini", "; settings\r\n"
                        "[General]\r\n"
                        "new_only = 0\r\n"
                        "Title=\"  quoted  \"\r\n"
                        "Count=12\r\n"
                        "Bad=12abc\r\n"
                        "Big=99999999999\r\n"
                        "this line has no equals sign\r\n"
                        "Count=99\r\n"
                        "[general]\r\n"
                        "Later=1\r\n");
    const IniFile ini(home.path() + "/a.ini");
    EXPECT_EQ(ini.readString("GENERAL", "New_Only"), "0");
    EXPECT_EQ(ini.readInt("general", "NEW_ONLY", 1), 0);
    EXPECT_EQ(ini.readString("General", "Title"), "  quoted  ");
    // The first of two equal keys counts; a repeated section is not searched.
    EXPECT_EQ(ini.readInt("General", "Count", 0), 12);
    EXPECT_FALSE(ini.hasKey("General", "Later"));
    // Not a whole number, or too big: the default.
    EXPECT_EQ(ini.readInt("General", "Bad", 7), 7);
    EXPECT_EQ(ini.readInt("General", "Big", 7), 7);
    EXPECT_EQ(ini.readInt("General", "Missing", 7), 7);
    EXPECT_EQ(ini.readString("Nowhere", "Count", "x"), "x");
    EXPECT_FALSE(ini.hasKey("General", "this line has no equals sign"));
}

TEST(IniFile, LongValueIsCut) {
    TempHome home;
    home.write("long.ini", "[S]\nK=" + QByteArray(5000, 'x') + "\n");
    const IniFile ini(home.path() + "/long.ini");
    EXPECT_EQ(ini.readString("S", "K").size(), IniFile::MaxValueLength);
}

TEST(IniFile, WritesKeepEverythingElseInPlace) {
    TempHome home;
    const QByteArray before = "[WindowMain]\r\n"
                              "Top=5\r\n"
                              "\r\n"
                              "[Mine]\r\n"
                              "Colour=blue\r\n"
                              "#### not an entry\r\n"
                              "\r\n"
                              "[General]\r\n"
                              "Extra=keep me\r\n";
    home.write("b.ini", before);
    IniFile ini(home.path() + "/b.ini");
    ini.writeInt("windowmain", "TOP", 10);
    ini.writeInt("WindowMain", "Left", 20);
    ini.writeString("General", "Multi", "line one\r\nline two");
    ini.writeString("Data", "Port", "8080");
    ASSERT_TRUE(ini.save());
    EXPECT_EQ(home.read("b.ini"), "[WindowMain]\r\n"
                                  "TOP=10\r\n"
                                  "Left=20\r\n"
                                  "\r\n"
                                  "[Mine]\r\n"
                                  "Colour=blue\r\n"
                                  "#### not an entry\r\n"
                                  "\r\n"
                                  "[General]\r\n"
                                  "Extra=keep me\r\n"
                                  "Multi=line one  line two\r\n"
                                  "[Data]\r\n"
                                  "Port=8080\r\n");
}

TEST(IniFile, LineEndsAndMissingFinalBreakFollowTheFile) {
    TempHome home;
    home.write("c.ini", "[S]\nA=1");
    IniFile ini(home.path() + "/c.ini");
    ini.writeInt("S", "B", 2);
    EXPECT_EQ(ini.contents(), "[S]\nA=1\nB=2");
    ini.writeInt("T", "C", 3);
    EXPECT_EQ(ini.contents(), "[S]\nA=1\nB=2\n[T]\nC=3\n");

    IniFile fresh(home.path() + "/new.ini");
    fresh.writeInt("S", "A", 1);
    EXPECT_EQ(fresh.contents(), "[S]\r\nA=1\r\n");
}

TEST(IniFile, RefusedSaveLeavesFileAlone) {
    TempHome home;
    home.write("ro.ini", "[S]\r\nA=1\r\n");
    const QString path = home.path() + "/ro.ini";
    ASSERT_TRUE(
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    IniFile ini(path);
    ini.writeInt("S", "A", 2);
    QString error;
    EXPECT_FALSE(ini.save(&error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(home.read("ro.ini"), "[S]\r\nA=1\r\n");

    // A folder that cannot exist: its parent is a regular file.
    IniFile nested(path + "/inner.ini");
    nested.writeInt("S", "A", 1);
    EXPECT_FALSE(nested.save());
}
