#include "platform/file_replace.h"
#include "platform/folder_monitor.h"
#include "platform/own_changes.h"
#include "support/temp_home.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

using platform::FolderMonitor;
using testsupport::TempHome;

namespace {

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "folder_monitor_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

struct Counter {
    explicit Counter(FolderMonitor& monitor) {
        QObject::connect(&monitor, &FolderMonitor::change, [this] { ++count; });
    }
    int count = 0;
};

bool renamePath(const QString& from, const QString& to) {
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

} // namespace

TEST(FolderMonitor, RenameInSubfolderArrivesThroughEventLoop) {
    app();
    TempHome home;
    home.write("Favorites/News/Tech/a.url", "[InternetShortcut]\r\nURL=http://a/\r\n");
    FolderMonitor monitor;
    Counter counter(monitor);
    monitor.setFolder(home.favorites());
    monitor.setActive(true);
    ASSERT_TRUE(monitor.isWatching());

    ASSERT_TRUE(
        renamePath(home.favorites() + "/News/Tech/a.url", home.favorites() + "/News/Tech/b.url"));
    QEventLoop loop;
    QObject::connect(&monitor, &FolderMonitor::change, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit); // bound only; never expected
    loop.exec();
    EXPECT_EQ(counter.count, 1);
}

TEST(FolderMonitor, NamesCountButContentWritesDoNot) {
    app();
    TempHome home;
    home.write("Favorites/Sub/a.url", "old");
    FolderMonitor monitor;
    Counter counter(monitor);
    monitor.setFolder(home.favorites());
    monitor.setActive(true);

    // Notices are queued by the kernel before the write returns, so
    // processPending() sees every notice the write caused.
    home.write("Favorites/Sub/a.url", "new contents");
    monitor.processPending();
    EXPECT_EQ(counter.count, 0);

    home.write("Favorites/Sub/new.url", "x");
    monitor.processPending();
    EXPECT_EQ(counter.count, 1);

    ASSERT_TRUE(QFile::remove(home.favorites() + "/Sub/new.url"));
    monitor.processPending();
    EXPECT_EQ(counter.count, 2);

    // A folder made after the start is watched for its own content.
    ASSERT_TRUE(QDir().mkpath(home.favorites() + "/Later"));
    monitor.processPending();
    EXPECT_EQ(counter.count, 3);
    home.write("Favorites/Later/inside.url", "x");
    monitor.processPending();
    EXPECT_EQ(counter.count, 4);

    // A folder renamed inside the tree keeps being watched under its new name.
    ASSERT_TRUE(renamePath(home.favorites() + "/Later", home.favorites() + "/Sub/Moved"));
    monitor.processPending();
    EXPECT_EQ(counter.count, 5);
    ASSERT_TRUE(QDir().mkpath(home.favorites() + "/Sub/Moved/Deeper"));
    monitor.processPending();
    home.write("Favorites/Sub/Moved/Deeper/x.url", "x");
    monitor.processPending();
    EXPECT_EQ(counter.count, 7);

    // A folder moved out of the tree no longer reports.
    ASSERT_TRUE(renamePath(home.favorites() + "/Sub/Moved", home.path() + "/Outside"));
    monitor.processPending();
    EXPECT_EQ(counter.count, 8);
    home.write("Outside/elsewhere.url", "x");
    monitor.processPending();
    EXPECT_EQ(counter.count, 8);

    // Inactive: nothing.
    monitor.setActive(false);
    home.write("Favorites/off.url", "x");
    monitor.processPending();
    EXPECT_EQ(counter.count, 8);
}

TEST(FolderMonitor, LinkedFolderIsNotWatched) {
    app();
    TempHome home;
    home.write("elsewhere/a.url", "x");
    ASSERT_EQ(::symlink(QFile::encodeName(home.path() + "/elsewhere").constData(),
                        QFile::encodeName(home.favorites() + "/link").constData()),
              0);
    FolderMonitor monitor;
    Counter counter(monitor);
    monitor.setFolder(home.favorites());
    monitor.setActive(true);
    home.write("elsewhere/b.url", "x");
    monitor.processPending();
    EXPECT_EQ(counter.count, 0);
}

TEST(FolderMonitor, MissingFolderIsWatchedOnceItAppears) {
    app();
    TempHome home;
    const QString folder = home.path() + "/Later";
    FolderMonitor monitor;
    Counter counter(monitor);
    monitor.setFolder(folder);
    monitor.setActive(true);
    EXPECT_FALSE(monitor.isWatching());
    home.write("Other/a.url", "x");
    monitor.processPending();
    EXPECT_EQ(counter.count, 0);

    ASSERT_TRUE(QDir().mkpath(folder));
    monitor.processPending();
    EXPECT_TRUE(monitor.isWatching());
    EXPECT_EQ(counter.count, 1);
    home.write("Later/a.url", "x");
    monitor.processPending();
    EXPECT_EQ(counter.count, 2);

    // Removed and made again: watched again.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    monitor.processPending();
    EXPECT_FALSE(monitor.isWatching());
    ASSERT_TRUE(QDir().mkpath(folder));
    monitor.processPending();
    EXPECT_TRUE(monitor.isWatching());
    const int before = counter.count;
    home.write("Later/b.url", "x");
    monitor.processPending();
    EXPECT_EQ(counter.count, before + 1);
}

TEST(FolderMonitor, UnwatchableFolderReportsNothing) {
    app();
    TempHome home;
    home.write("plain.txt", "x");
    FolderMonitor monitor;
    Counter counter(monitor);
    monitor.setFolder(home.path() + "/plain.txt/inner");
    monitor.setActive(true);
    EXPECT_FALSE(monitor.isWatching());
    home.write("plain.txt", "y");
    monitor.processPending();
    EXPECT_EQ(counter.count, 0);
}

// The program's own shortcut writes are passed over by path: the whole-file
// write (temporary file, rename), a later removal, for a short while only;
// the user's changes next to them still count.
TEST(FolderMonitor, OwnChangesAreIgnoredByPathAndOnlyThose) {
    app();
    TempHome home;
    QDir().mkpath(home.favorites() + "/Sub");
    platform::OwnChanges own(1500);
    FolderMonitor monitor;
    Counter counter(monitor);
    monitor.setIgnored([&own](const QString& path) { return own.isOwn(path); });
    monitor.setFolder(home.favorites());
    monitor.setActive(true);

    const QString written = home.favorites() + "/Sub/temp1.URL";
    own.note(written);
    ASSERT_TRUE(platform::replaceFileWhole(written, "[InternetShortcut]\r\nURL=http://a/\r\n"));
    monitor.processPending();
    ASSERT_TRUE(QFile::remove(written));
    monitor.processPending();
    EXPECT_EQ(counter.count, 0);

    // Another name in the same folder, also one that only starts alike.
    home.write("Favorites/Sub/temp1.URL.user", "x");
    monitor.processPending();
    EXPECT_EQ(counter.count, 1);
    home.write("Favorites/Sub/other.url", "x");
    monitor.processPending();
    EXPECT_EQ(counter.count, 2);

    // Once its window has passed, the same path is the user's again.
    QThread::msleep(1600);
    home.write("Favorites/Sub/temp1.URL", "x");
    monitor.processPending();
    EXPECT_EQ(counter.count, 3);
}

TEST(OwnChanges, PathsAndTheirWholeFileTemporariesWithinTheWindow) {
    platform::OwnChanges own(60000);
    own.note("/f/Sub//a.URL");
    EXPECT_TRUE(own.isOwn("/f/Sub/a.URL"));
    EXPECT_TRUE(own.isOwn("/f/Sub/.a.URL.partial-Ab12Cd"));
    EXPECT_FALSE(own.isOwn("/f/Sub/.a.URL.partial-Ab12C"));
    EXPECT_FALSE(own.isOwn("/f/Sub/a.url")); // names are case-sensitive here
    EXPECT_FALSE(own.isOwn("/f/Other/a.URL"));
    EXPECT_FALSE(own.isOwn("/f/Sub/.b.URL.partial-Ab12Cd"));
    EXPECT_FALSE(own.isOwn(""));
}
