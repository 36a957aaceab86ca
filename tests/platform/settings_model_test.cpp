#include "platform/settings_model.h"
#include "support/temp_home.h"

#include <QFile>
#include <gtest/gtest.h>

using platform::SettingsModel;
using testsupport::TempHome;

namespace {

QString iniPath(const TempHome& home) {
    return home.path() + "/pagorama.ini";
}

void readInto(SettingsModel& model, const TempHome& home) {
    model.read(iniPath(home), 1024, 768, 500, 301);
}

} // namespace

TEST(SettingsModel, MissingFileGivesDefaults) {
    TempHome home;
    SettingsModel model;
    model.interval = 5;
    model.sortBy = 3;
    int changes = 0;
    QObject::connect(&model, &SettingsModel::changed, [&] { ++changes; });
    readInto(model, home);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(model.top, (768 - 301) / 2);
    EXPECT_EQ(model.left, (1024 - 500) / 2);
    EXPECT_EQ(model.port, "80");
    EXPECT_FALSE(model.displayHeader);
    EXPECT_FALSE(model.logToFile);
    EXPECT_FALSE(model.shareOnNetwork) << "the pages are for this computer until shared";
    EXPECT_TRUE(model.autorefresh && model.history && model.newPage && model.startup &&
                model.autoStart && model.timeRefresh && model.newOnly);
    EXPECT_FALSE(model.showCode);
    EXPECT_FALSE(model.homePage);
    EXPECT_FALSE(model.secureSites) << "https sites are fetched only when the user asks";
    EXPECT_EQ(model.interval, 120);
    EXPECT_EQ(model.historyThreshold, 10);
    EXPECT_EQ(model.sortBy, 0);
    EXPECT_EQ(model.evenFileName, 1);
    // Reading creates nothing.
    EXPECT_FALSE(QFile::exists(iniPath(home)));
}

TEST(SettingsModel, ValuesAreClampedAndNormalisedBothWays) {
    TempHome home;
    home.write("pagorama.ini", "[General]\r\n"
                               "Interval=0\r\n"
                               "History_threshhold=20000\r\n"
                               "Autorefresh=5\r\n"
                               "new_only=0\r\n"
                               "showcode=1\r\n"
                               "SortBy=7\r\n"
                               "EvenFileName=abc\r\n"
                               "[WindowMain]\r\n"
                               "Top=-40\r\n"
                               "Left=x\r\n");
    SettingsModel model;
    readInto(model, home);
    EXPECT_EQ(model.interval, 1);
    EXPECT_EQ(model.historyThreshold, 1000);
    EXPECT_TRUE(model.autorefresh);
    EXPECT_FALSE(model.newOnly);
    EXPECT_TRUE(model.showCode);
    EXPECT_EQ(model.sortBy, -1);
    EXPECT_EQ(model.evenFileName, 1);
    EXPECT_EQ(model.top, -40);
    EXPECT_EQ(model.left, 262);

    QString error;
    ASSERT_TRUE(model.write(iniPath(home), &error)) << error.toStdString();
    const QByteArray text = home.read("pagorama.ini");
    EXPECT_TRUE(text.contains("\r\nInterval=1\r\n"));
    EXPECT_TRUE(text.contains("\r\nHistory_threshhold=1000\r\n"));
    EXPECT_TRUE(text.contains("\r\nAutorefresh=1\r\n"));
    EXPECT_TRUE(text.contains("\r\nNew_only=0\r\n"));
    EXPECT_TRUE(text.contains("\r\nShowcode=1\r\n"));
    EXPECT_TRUE(text.contains("\r\nSortBy=-1\r\n"));
    // The lower-case entries were rewritten, not added a second time.
    EXPECT_FALSE(text.contains("new_only"));
    EXPECT_FALSE(text.contains("showcode"));

    home.write("pagorama.ini", "[General]\r\nInterval=20000\r\n");
    readInto(model, home);
    EXPECT_EQ(model.interval, 10000);
    ASSERT_TRUE(model.write(iniPath(home), &error));
    EXPECT_TRUE(home.read("pagorama.ini").contains("\r\nInterval=10000\r\n"));
}

TEST(SettingsModel, NewFileHasEveryKeyInOrder) {
    TempHome home;
    SettingsModel model;
    readInto(model, home);
    model.width = 510;
    model.height = 320;
    model.port = "9999"; // typed into the box, never used for a start
    model.serverPort = "8080";
    model.docDir = home.path() + "/Documents/pagorama";
    model.defaultDoc = "viewer.htm";
    model.showCode = true;
    model.shareOnNetwork = true;
    model.sortBy = 4;
    model.evenFileName = 17;
    model.secureSites = true;
    QString error;
    ASSERT_TRUE(model.write(iniPath(home), &error));
    const QByteArray expected = "[WindowMain]\r\nTop=233\r\nLeft=262\r\nWidth=510\r\nHeight=320\r\n"
                                "[Data]\r\nDocDir=" +
                                QFile::encodeName(home.path()) +
                                "/Documents/pagorama\r\nDefaultDoc=viewer.htm\r\nPort=8080\r\n"
                                "DisplayHeader=0\r\nLogToFile=0\r\nShareOnNetwork=1\r\n"
                                "[General]\r\nAutorefresh=1\r\nHistory=1\r\nAutoStart=1\r\n"
                                "NewPage=1\r\nStartup=1\r\nTime_refresh=1\r\nNew_only=1\r\n"
                                "Showcode=1\r\nHomePage=0\r\nInterval=120\r\n"
                                "History_threshhold=10\r\nEvenFileName=17\r\nSortBy=4\r\n"
                                "SecureSites=1\r\n";
    EXPECT_EQ(home.read("pagorama.ini"), expected);

    // Read back: the port is the one the server last used.
    SettingsModel again;
    readInto(again, home);
    EXPECT_EQ(again.port, "8080");
    EXPECT_EQ(again.sortBy, 4);
    EXPECT_EQ(again.evenFileName, 17);
    EXPECT_TRUE(again.showCode);
    EXPECT_TRUE(again.shareOnNetwork);
    EXPECT_TRUE(again.secureSites);
    home.write("pagorama.ini", "[general]\r\nsecuresites=0\r\n");
    readInto(again, home);
    EXPECT_FALSE(again.secureSites);
}

TEST(SettingsModel, PortIsKeptWhenServerNeverStarted) {
    TempHome home;
    home.write("pagorama.ini", "[Data]\r\nPort=8181\r\n");
    SettingsModel model;
    readInto(model, home);
    model.port = "9999";
    ASSERT_TRUE(model.write(iniPath(home), nullptr));
    EXPECT_TRUE(home.read("pagorama.ini").contains("Port=8181\r\n"));
}

TEST(SettingsModel, UnknownEntriesAndMalformedLinesSurvive) {
    TempHome home;
    home.write("pagorama.ini", "[Plugins]\r\n"
                               "Theme=dark\r\n"
                               "[General]\r\n"
                               "garbage without equals\r\n"
                               "Interval=30\r\n"
                               "Future=yes\r\n");
    SettingsModel model;
    readInto(model, home);
    EXPECT_EQ(model.interval, 30);
    ASSERT_TRUE(model.write(iniPath(home), nullptr));
    const QByteArray text = home.read("pagorama.ini");
    EXPECT_TRUE(text.startsWith("[Plugins]\r\nTheme=dark\r\n[General]\r\n"
                                "garbage without equals\r\nInterval=30\r\nFuture=yes\r\n"))
        << text.constData();
}

TEST(SettingsModel, UnwritableFileIsReportedAndUnchanged) {
    TempHome home;
    const QByteArray before = "[General]\r\nInterval=30\r\n";
    home.write("pagorama.ini", before);
    ASSERT_TRUE(QFile::setPermissions(iniPath(home), QFile::ReadOwner | QFile::ReadGroup));
    SettingsModel model;
    readInto(model, home);
    model.interval = 45;
    QString error;
    EXPECT_FALSE(model.write(iniPath(home), &error));
    EXPECT_EQ(error, "Unable to write to " + iniPath(home));
    EXPECT_EQ(home.read("pagorama.ini"), before);
}

// "ImportBookmarks" has no control: it is read, and a save leaves the line
// as the user wrote it (and adds none to a file without it).
TEST(SettingsModel, ImportBookmarksIsReadAndKeptAsWritten) {
    TempHome home;
    home.write("pagorama.ini", "[General]\r\nImportBookmarks= Firefox \r\nStartup=0\r\n");
    SettingsModel model;
    readInto(model, home);
    EXPECT_EQ(model.importBookmarks, "Firefox");
    QString error;
    ASSERT_TRUE(model.write(iniPath(home), &error));
    const QByteArray text = home.read("pagorama.ini");
    EXPECT_EQ(text.count("ImportBookmarks"), 1) << text.constData();
    SettingsModel again;
    readInto(again, home);
    EXPECT_EQ(again.importBookmarks, "Firefox");
}
