#include "catalogue/directory_scan.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <sys/wait.h>
#include <unistd.h>

using catalogue::ScanDirectoryTree;

namespace {

class DirectoryScan : public ::testing::Test {
protected:
    void make(const QString& relative) {
        home.write("Favorites/" + relative, "[InternetShortcut]\r\n");
    }
    QString root() const { return home.favorites(); }

    // Relative "folder|file" items in the order the scan hands them out.
    QStringList scan(const QString& mask, int stopAfter = -1, int* pumps = nullptr) {
        QStringList seen;
        ScanDirectoryTree(
            root(), mask,
            [&](const QString& folder, const platform::DirEntry& entry) {
                EXPECT_TRUE(folder.endsWith('/'));
                seen << folder.mid(root().size() + 1) + "|" + entry.name;
                return stopAfter < 0 || seen.size() < stopAfter;
            },
            [&] {
                if (pumps)
                    ++*pumps;
            });
        return seen;
    }

    testsupport::TempHome home;
};

} // namespace

TEST_F(DirectoryScan, FilesComeBeforeSubfoldersInCaseBlindOrder) {
    make("b.url");
    make("A.URL");
    make("notes.txt");
    make("News/z.url");
    make("News/Tech/t.Url");
    make("news2/c.url");
    make("Apps/x.url");
    int pumps = 0;
    const QStringList seen = scan("*.url", -1, &pumps);
    EXPECT_EQ(seen, QStringList({"|A.URL", "|b.url", "Apps/|x.url", "News/|z.url",
                                 "News/Tech/|t.Url", "news2/|c.url"}));
    EXPECT_EQ(pumps, 5); // root, Apps, News, News/Tech, news2
}

TEST_F(DirectoryScan, StopsWhenTheCallbackSaysSo) {
    for (const char* name : {"a.url", "b.url", "Sub/c.url", "Sub/d.url", "Z/e.url"})
        make(name);
    EXPECT_EQ(scan("*.url", 3), QStringList({"|a.url", "|b.url", "Sub/|c.url"}));
    bool result = ScanDirectoryTree(root(), "*.url", [](auto&&, auto&&) { return false; });
    EXPECT_FALSE(result);
    result = ScanDirectoryTree(root(), "*.url", [](auto&&, auto&&) { return true; });
    EXPECT_TRUE(result);
}

TEST_F(DirectoryScan, HiddenFoldersAreScannedAndFolderLinksAreNot) {
    make(".hidden/h.url");
    make("real/r.url");
    QDir().mkpath(home.path() + "/outside");
    home.write("outside/o.url", "x");
    ASSERT_TRUE(QFile::link(home.path() + "/outside", root() + "/linked"));
    ASSERT_TRUE(
        QFile::link(root() + "/real", root() + "/loop.url")); // a folder link named like a shortcut
    ASSERT_TRUE(QFile::link(root() + "/real/r.url", root() + "/alias.url"));
    EXPECT_EQ(scan("*.URL"), QStringList({"|alias.url", ".hidden/|h.url", "real/|r.url"}));
}

TEST_F(DirectoryScan, MissingRootAndEmptyMask) {
    int calls = 0;
    EXPECT_TRUE(ScanDirectoryTree(home.path() + "/nowhere", "*.url", [&](auto&&, auto&&) {
        ++calls;
        return true;
    }));
    EXPECT_EQ(calls, 0);
    make("one.url");
    make("two");
    EXPECT_EQ(scan(""), QStringList({"|one.url", "|two"}));
}

TEST_F(DirectoryScan, UnreadableFolderIsSkippedWithoutStoppingTheScan) {
    make("a.url");
    make("locked/secret.url");
    make("open/b.url");
    // Root reads every folder, so the scan runs in a child that, when it is
    // root, first becomes an unprivileged user.
    QFile::setPermissions(home.path(), QFile::Permissions(0x7755));
    QFile::setPermissions(root() + "/locked", QFile::Permissions());
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        QByteArray out;
        ScanDirectoryTree(root(), "*.url", [&](const QString& folder, const platform::DirEntry& e) {
            out += (folder.mid(root().size() + 1) + e.name + ";").toUtf8();
            return true;
        });
        ssize_t written = write(pipeFds[1], out.constData(), out.size());
        _exit(written == out.size() ? 0 : 3);
    }
    close(pipeFds[1]);
    QByteArray result;
    char buffer[256];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        result.append(buffer, n);
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    QFile::setPermissions(root() + "/locked", QFile::Permissions(0x7700));
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(result, "a.url;open/b.url;");
}
