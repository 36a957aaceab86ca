#include "platform/file_replace.h"
#include "platform/message_service.h"
#include "platform/paths.h"
#include "support/temp_home.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using testsupport::TempHome;

TEST(Paths, FoldersFollowHomeAndXdgConfig) {
    TempHome home;
    EXPECT_EQ(platform::favoritesFolder(), home.path() + "/Favorites");
    EXPECT_EQ(platform::dataFolder(), home.path() + "/Documents/pagorama/");
    EXPECT_EQ(platform::documentFolder(), home.path() + "/Documents/pagorama");
    EXPECT_EQ(platform::settingsFilePath(), home.path() + "/.config/pagorama/pagorama.ini");
    EXPECT_TRUE(QFileInfo(home.path() + "/.config/pagorama").isDir());
    EXPECT_EQ(QFileInfo(platform::exceptionLogFilePath()).fileName(), "PagoraERRORLOG.txt");
    EXPECT_EQ(QFileInfo(platform::serverLogFilePath()).fileName(), "pagorama.log");
    EXPECT_EQ(QFileInfo(platform::registryFilePath()).fileName(), "registry.reg");
    EXPECT_TRUE(platform::tempFolder().endsWith('/'));
}

TEST(Paths, DocumentsFolderFromUserDirsFile) {
    TempHome home;
    home.write(".config/user-dirs.dirs", "# written by xdg-user-dirs-update\n"
                                         "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                         "XDG_DOCUMENTS_DIR=\"$HOME/Papiere\"\n");
    EXPECT_EQ(platform::dataFolder(), home.path() + "/Papiere/pagorama/");
    // A documents entry that names the home folder itself means "not set".
    home.write(".config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/\"\n");
    EXPECT_EQ(platform::documentsFolder(), home.path() + "/Documents");
}

TEST(Paths, BackslashFormRoundTrip) {
    EXPECT_EQ(platform::toBackslashForm("News/Tech"), "News\\Tech");
    EXPECT_EQ(platform::fromBackslashForm("images\\1.BMP"), "images/1.BMP");
    EXPECT_EQ(platform::fromBackslashForm(platform::toBackslashForm("a/b/c")), "a/b/c");
}

TEST(FileReplace, ReplacesWholeAndKeepsOldOnFailure) {
    TempHome home;
    const QString path = home.path() + "/file.txt";
    ASSERT_TRUE(platform::replaceFileWhole(path, "first"));
    ASSERT_TRUE(platform::replaceFileWhole(path, "second"));
    EXPECT_EQ(home.read("file.txt"), "second");
    // No temporary files are left beside it.
    EXPECT_EQ(QDir(home.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

    // A file whose permission bits deny writing is not replaced, even for root.
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup);
    QString error;
    EXPECT_FALSE(platform::replaceFileWhole(path, "third", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(home.read("file.txt"), "second");

    // A folder that cannot exist (its parent is a regular file).
    EXPECT_FALSE(platform::replaceFileWhole(path + "/inner.txt", "x", &error));
}

// Names up to the longest a favourite gets are written, whether or not their
// temporary file has room for the marker that tells it as one.
TEST(FileReplace, LongestNamesAreWrittenAndShorterOnesUseTheMarkedTemporary) {
    TempHome home;
    const QString longest =
        home.path() + "/" + QString(240, 'n') + ".URL"; // the longest name a favourite gets
    QString error;
    EXPECT_TRUE(platform::replaceFileWhole(longest, "whole", &error)) << qPrintable(error);
    EXPECT_EQ(home.read(QString(240, 'n') + ".URL"), "whole");
    const QString usual = home.path() + "/Site.URL";
    const QString temporary =
        QFile::decodeName(platform::temporaryFileTemplate(usual)).replace("XXXXXX", "Ab12Cd");
    EXPECT_EQ(platform::fileWrittenThrough(temporary), usual);
}

TEST(MessageService, RecorderCatchesAndRestores) {
    platform::MessageService* before = &platform::messageService();
    {
        platform::ScopedMessageRecorder recorder;
        platform::showMessage("Delete Failed");
        ASSERT_EQ(recorder.texts, QStringList{"Delete Failed"});
    }
    EXPECT_EQ(&platform::messageService(), before);
}
