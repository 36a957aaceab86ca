// The bookmark options of the real program: "--import-bookmarks" and
// "--export-bookmarks" do their job and end without starting the program,
// with a summary and exit status 0, or a clear message and a non-zero
// status that leaves Favorites as it was.
#include "program_command.h"
#include "support/favorites_tree.h"
#include "support/temp_home.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <iostream>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using e2e::CommandResult;
using e2e::runPagoramaCommand;
using testsupport::TempHome;

namespace {

QByteArray shortcut(const QString& url) {
    return testsupport::shortcutBytes(url);
}

// The favourites of a tree as path (".url" in any case as ".URL") ->
// address, and its folders; what a bookmarks file can carry.
QMap<QString, QString> favouritesOf(const QString& root) {
    QMap<QString, QString> favourites;
    static const QRegularExpression urlLine("^URL=(.*?)\\r?$", QRegularExpression::MultilineOption);
    const QMap<QString, QByteArray> tree = testsupport::favoritesTree(root);
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
        QString path = it.key();
        if (path.endsWith('/')) {
            favourites.insert(path, {});
            continue;
        }
        if (path.endsWith(".url", Qt::CaseInsensitive))
            path = path.left(path.size() - 4) + ".URL";
        favourites.insert(path, urlLine.match(QString::fromUtf8(it.value())).captured(1));
    }
    return favourites;
}

void writeText(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

QString message(const CommandResult& result) {
    return QStringLiteral("exit %1\nstdout: %2\nstderr: %3")
        .arg(result.exitCode)
        .arg(QString::fromUtf8(result.out), QString::fromUtf8(result.err));
}

const QByteArray Header =
    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
    "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
    "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n";

const QByteArray Exported =
    Header +
    "    <DT><H3 ADD_DATE=\"1700000000\" PERSONAL_TOOLBAR_FOLDER=\"true\">Bookmarks bar</H3>\n"
    "    <DL><p>\n"
    "        <DT><A HREF=\"https://a.example/?q=1&amp;r=2#top\" ADD_DATE=\"1\">A &amp; B</A>\n"
    "        <DT><A HREF=\"javascript:void(0)\" ADD_DATE=\"1\">Script</A>\n"
    "    </DL><p>\n"
    "    <DT><A HREF=\"http://top.example/\" ADD_DATE=\"1\">Top</A>\n"
    "</DL><p>\n";

} // namespace

TEST(BookmarksCommand, HelpAndWrongOptionsEndAtOnce) {
    TempHome home;
    const CommandResult help = runPagoramaCommand(home, {"--help"}, 20000);
    EXPECT_EQ(help.exitCode, 0) << qPrintable(message(help));
    EXPECT_TRUE(help.out.contains("--import-bookmarks SOURCE"));
    EXPECT_TRUE(help.out.contains("--export-bookmarks FILE"));

    for (const QStringList& wrong : QList<QStringList>{{"--import-bookmarks"},
                                                       {"--export-bookmarks", ""},
                                                       {"--import-bookmarks", "a", "b"},
                                                       {"--import-bookmark", "chromium"}}) {
        const CommandResult result = runPagoramaCommand(home, wrong, 20000);
        EXPECT_EQ(result.exitCode, 2) << qPrintable(wrong.join(' ') + "\n" + message(result));
        EXPECT_TRUE(result.err.contains("pagorama --help")) << qPrintable(message(result));
    }
    // None of them started the program: it writes its settings when it ends.
    EXPECT_FALSE(QFile::exists(home.path() + "/.config/pagorama/pagorama.ini"));
}

TEST(BookmarksCommand, ImportsABookmarksFileOnceAndRefusesBrokenOnesWhole) {
    TempHome home;
    writeText(home.path() + "/bookmarks.html", Exported);
    writeText(home.favorites() + "/Mine.url", shortcut("https://mine.example/"));

    const CommandResult first =
        runPagoramaCommand(home, {"--import-bookmarks", home.path() + "/bookmarks.html"});
    EXPECT_EQ(first.exitCode, 0) << qPrintable(message(first));
    EXPECT_EQ(first.out, "Imported 2 favourites into 2 folders; 0 already there; 1 skipped\n"
                         "1 of them are https sites: Pagorama checks and pictures those only "
                         "with \"Picture secure (https) sites\" ticked (SecureSites=1)\n"
                         "Skipped: 1 not web addresses (javascript:, place:, data:, ...)\n"
                         "  \"Script\" <javascript:void(0)>: not a web address\n");
    const QMap<QString, QByteArray> expected = {
        {"Mine.url", shortcut("https://mine.example/")},
        {"Top.URL", shortcut("http://top.example/")},
        {"Bookmarks bar/", {}},
        {"Bookmarks bar/A & B.URL", shortcut("https://a.example/?q=1&r=2#top")},
    };
    EXPECT_EQ(testsupport::favoritesTree(home.favorites()), expected);

    const CommandResult second =
        runPagoramaCommand(home, {"--import-bookmarks", home.path() + "/bookmarks.html"});
    EXPECT_EQ(second.exitCode, 0) << qPrintable(message(second));
    EXPECT_TRUE(
        second.out.startsWith("Imported 0 favourites into 0 folders; 2 already there; 1 skipped"));
    EXPECT_EQ(testsupport::favoritesTree(home.favorites()), expected);

    // Cut short in the middle of its list, a file writes nothing at all.
    QByteArray cut = Exported;
    cut.replace("https://a.example/", "https://b.example/").chop(10);
    writeText(home.path() + "/cut.html", cut);
    const CommandResult broken =
        runPagoramaCommand(home, {"--import-bookmarks", home.path() + "/cut.html"});
    EXPECT_EQ(broken.exitCode, 1) << qPrintable(message(broken));
    EXPECT_TRUE(broken.out.isEmpty());
    EXPECT_TRUE(broken.err.contains("cannot import bookmarks")) << qPrintable(message(broken));
    EXPECT_TRUE(broken.err.contains("cut short")) << qPrintable(message(broken));
    EXPECT_EQ(testsupport::favoritesTree(home.favorites()), expected);

    const CommandResult missing =
        runPagoramaCommand(home, {"--import-bookmarks", home.path() + "/none.html"});
    EXPECT_EQ(missing.exitCode, 1) << qPrintable(message(missing));
    EXPECT_TRUE(missing.err.contains("none.html: no such file")) << qPrintable(message(missing));

    const CommandResult noBrowser = runPagoramaCommand(home, {"--import-bookmarks", "firefox"});
    EXPECT_EQ(noBrowser.exitCode, 1) << qPrintable(message(noBrowser));
    EXPECT_TRUE(noBrowser.err.contains("No Firefox bookmarks found"))
        << qPrintable(message(noBrowser));
    EXPECT_EQ(testsupport::favoritesTree(home.favorites()), expected);
}

TEST(BookmarksCommand, ExportThenImportIntoEmptyFavoritesGivesTheSameTree) {
    TempHome home;
    const QString fav = home.favorites();
    writeText(fav + "/Plain.URL", shortcut("http://plain.example/"));
    writeText(fav + "/lower case.url", shortcut("https://lower.example/path?a=1&b=\"2\"<x>"));
    writeText(fav + "/Tom & Jerry <3 \"quoted\".URL", shortcut("https://tj.example/#frag"));
    writeText(fav + QString::fromUtf8("/News/Caf\u00e9 \u65e5\u672c.URL"),
              shortcut("http://cafe.example/"));
    writeText(fav + "/News/Tech/Deep: one.URL",
              "[InternetShortcut]\r\nURL=ftp://files.example/pub/\r\nIconIndex=0\r\n"
              "[{000214A0-0000-0000-C000-000000000046}]\r\nProp3=19,2\r\n");
    QDir().mkpath(fav + "/Empty folder");
    writeText(fav + "/notes.txt", "not a favourite");

    const QString file = home.path() + "/export/bookmarks.html";
    QDir().mkpath(home.path() + "/export");
    const CommandResult exported = runPagoramaCommand(home, {"--export-bookmarks", file});
    ASSERT_EQ(exported.exitCode, 0) << qPrintable(message(exported));
    EXPECT_EQ(exported.out, "Exported 5 favourites in 3 folders to " + file.toUtf8() + "\n");
    QFile html(file);
    ASSERT_TRUE(html.open(QIODevice::ReadOnly));
    const QByteArray text = html.readAll();
    EXPECT_TRUE(text.startsWith("<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"));
    EXPECT_TRUE(text.contains(
        "<DT><A HREF=\"https://lower.example/path?a=1&amp;b=&quot;2&quot;&lt;x&gt;\">lower "
        "case</A>"))
        << text.constData();
    EXPECT_TRUE(text.contains("<DT><H3>Empty folder</H3>"));

    TempHome other;
    QDir(other.favorites()).removeRecursively(); // a new user without any Favorites
    const CommandResult imported = runPagoramaCommand(other, {"--import-bookmarks", file});
    ASSERT_EQ(imported.exitCode, 0) << qPrintable(message(imported));
    EXPECT_TRUE(
        imported.out.startsWith("Imported 5 favourites into 3 folders; 0 already there; 0 skipped"))
        << qPrintable(message(imported));
    QMap<QString, QString> expected = favouritesOf(fav);
    expected.remove("notes.txt");
    EXPECT_EQ(favouritesOf(other.favorites()), expected);

    // An export over a file that cannot be replaced says so and keeps it.
    const CommandResult refused =
        runPagoramaCommand(home, {"--export-bookmarks", fav + "/notes.txt/x.html"});
    EXPECT_EQ(refused.exitCode, 1) << qPrintable(message(refused));
    EXPECT_TRUE(refused.err.contains("cannot export bookmarks")) << qPrintable(message(refused));
}

TEST(BookmarksCommand, ExportReplacesOnlyARegularFileAndWritesDashToStandardOutput) {
    TempHome home;
    writeText(home.favorites() + "/A.URL", shortcut("http://a.example/"));
    const QString fifo = home.path() + "/pipe", device = home.path() + "/null";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QList<QPair<QString, QByteArray>> targets{{fifo, "a FIFO"}, {home.path(), "a folder"}};
    // A device of its own, as /dev/null is, where root may make one.
    if (::geteuid() == 0 &&
        ::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0600, makedev(1, 3)) == 0)
        targets.append({device, "a device"});
    for (const auto& [target, kind] : targets) {
        const CommandResult refused = runPagoramaCommand(home, {"--export-bookmarks", target});
        EXPECT_EQ(refused.exitCode, 1) << qPrintable(message(refused));
        EXPECT_EQ(refused.err, "pagorama: cannot export bookmarks: " + QFile::encodeName(target) +
                                   ": " + kind +
                                   ", not a regular file; only a regular file is replaced\n");
        struct stat info {};
        ASSERT_EQ(::lstat(QFile::encodeName(target).constData(), &info), 0);
        EXPECT_FALSE(S_ISREG(info.st_mode)) << qPrintable(target);
    }

    const CommandResult toOutput = runPagoramaCommand(home, {"--export-bookmarks", "-"});
    EXPECT_EQ(toOutput.exitCode, 0) << qPrintable(message(toOutput));
    EXPECT_TRUE(toOutput.out.startsWith("<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"));
    EXPECT_TRUE(toOutput.out.contains("<DT><A HREF=\"http://a.example/\">A</A>\n"));
    EXPECT_EQ(toOutput.err, "Exported 1 favourites in 0 folders to standard output\n");
    EXPECT_FALSE(QFile::exists("-"));
    QFile::remove("-");
}

TEST(BookmarksCommand, HugeDeepAndNamelessInputStaysBoundedAndInsideFavorites) {
    TempHome home;
    writeText(home.path() + "/.config/pagorama/keep.txt", "the program folder's own file");
    // Everything in the home folder but Favorites, the test's own files, the
    // import record and the organiser order (in the registry).
    const auto outsideFavorites = [&home] {
        QMap<QString, QByteArray> tree = testsupport::favoritesTree(home.path());
        for (auto it = tree.begin(); it != tree.end();)
            it = it.key().startsWith("Favorites/") || it.key().endsWith(".html") ||
                         it.key().endsWith("/bookmarks-imported.txt") ||
                         it.key().endsWith("/registry.reg")
                     ? tree.erase(it)
                     : std::next(it);
        return tree;
    };
    const QMap<QString, QByteArray> homeBefore = outsideFavorites();

    // 50 MB: a name and an address of 25 MB each beside two ordinary bookmarks.
    QByteArray big = Header;
    big += "<DT><A HREF=\"http://big.example/\">" + QByteArray(25 * 1000 * 1000, 'n') + "</A>\n";
    big += "<DT><A HREF=\"http://big.example/" + QByteArray(25 * 1000 * 1000, 'p') +
           "\">Long address</A>\n";
    big += "<DT><A HREF=\"http://small.example/\">Small</A>\n</DL><p>\n";
    writeText(home.path() + "/big.html", big);
    big.clear();
    const CommandResult huge =
        runPagoramaCommand(home, {"--import-bookmarks", home.path() + "/big.html"});
    EXPECT_EQ(huge.exitCode, 0) << qPrintable(message(huge));
    EXPECT_TRUE(
        huge.out.startsWith("Imported 2 favourites into 1 folders; 0 already there; 1 skipped\n"
                            "Skipped: 1 without a usable address"))
        << qPrintable(message(huge));
    EXPECT_TRUE(QFile::exists(home.favorites() + "/" + QString(240, 'n') + ".URL"));
    std::cout << "50 MB bookmarks file: " << huge.elapsedMs << " ms, at most "
              << huge.maxRssKiB / 1024 << " MiB resident\n";
    EXPECT_LT(huge.maxRssKiB, 1024L * 1024) << "more than 1 GiB for a 50 MB file";

    // 500 nested folders, each with a bookmark; names of dots and blanks.
    QByteArray deep = Header;
    for (int i = 1; i <= 500; ++i)
        deep += "<DT><H3>" + QByteArray(i % 2 ? ".." : " ") +
                "</H3>\n<DL><p>\n<DT><A HREF=\"http://d" + QByteArray::number(i) + ".example/\">" +
                (i % 2 ? "..." : " . ") + "</A>\n";
    for (int i = 0; i <= 500; ++i)
        deep += "</DL><p>\n";
    writeText(home.path() + "/deep.html", deep);
    const CommandResult nested =
        runPagoramaCommand(home, {"--import-bookmarks", home.path() + "/deep.html"});
    EXPECT_EQ(nested.exitCode, 0) << qPrintable(message(nested));
    EXPECT_TRUE(nested.out.startsWith(
        "Imported 32 favourites into 32 folders; 0 already there; 468 skipped\n"
        "Skipped: 468 in folders nested deeper than 32 levels\n"
        "  \"...\" <http://d33.example/>: folder nested too deep\n"))
        << nested.out.constData();
    EXPECT_TRUE(nested.out.endsWith("  \".\" <http://d42.example/>: folder nested too deep\n"
                                    "  ... and 458 more\n"))
        << nested.out.constData();
    QString folder = home.favorites();
    for (int i = 1; i <= 32; ++i) {
        folder += "/Unnamed folder";
        EXPECT_TRUE(QFile::exists(folder + "/d" + QString::number(i) + ".example.URL")) << i;
    }
    EXPECT_FALSE(QFile::exists(folder + "/Unnamed folder"));

    // Nothing but Favorites changed in the home folder.
    EXPECT_EQ(outsideFavorites(), homeBefore);
}

TEST(BookmarksCommand, HundredThousandBookmarks) {
    // In memory when the machine has a memory file system: the test is about
    // the program's handling of the file, not the shared disk's speed
    // (bench/bookmarks measures that).
    const bool hadTemp = qEnvironmentVariableIsSet("TMPDIR");
    const QByteArray oldTemp = qgetenv("TMPDIR");
    if (QFileInfo("/dev/shm").isWritable())
        qputenv("TMPDIR", "/dev/shm");
    TempHome home;
    if (hadTemp)
        qputenv("TMPDIR", oldTemp);
    else
        qunsetenv("TMPDIR");
    QByteArray html = Header;
    for (int f = 0; f < 100; ++f) {
        html += "<DT><H3>Folder " + QByteArray::number(f) + "</H3>\n<DL><p>\n";
        for (int b = 0; b < 1000; ++b)
            html += "<DT><A HREF=\"https://site" + QByteArray::number(b) + ".example/" +
                    QByteArray::number(f) + "\" ADD_DATE=\"1700000000\">Site " +
                    QByteArray::number(b) + "</A>\n";
        html += "</DL><p>\n";
    }
    html += "</DL><p>\n";
    writeText(home.path() + "/many.html", html);
    const CommandResult many =
        runPagoramaCommand(home, {"--import-bookmarks", home.path() + "/many.html"}, 280000);
    ASSERT_EQ(many.exitCode, 0) << qPrintable(message(many));
    EXPECT_EQ(many.out,
              "Imported 100000 favourites into 100 folders; 0 already there; 0 skipped\n"
              "100000 of them are https sites: Pagorama checks and pictures those only with "
              "\"Picture secure (https) sites\" ticked (SecureSites=1)\n");
    std::cout << "100,000 bookmarks imported in " << many.elapsedMs << " ms, at most "
              << many.maxRssKiB / 1024 << " MiB resident\n";
    EXPECT_EQ(QDir(home.favorites() + "/Folder 99").entryList(QDir::Files).size(), 1000);
}
