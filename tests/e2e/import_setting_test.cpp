// The "ImportBookmarks" setting in the whole program: each run first brings
// in the browser's bookmarks that no earlier import has seen, the run shows
// them, a favourite the user deleted does not come back, and the import's
// own writes start no extra run.
#include "program_command.h"
#include "program_run.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

using e2e::ProgramRun;
using testsupport::TempHome;
using testsupport::TestSite;

namespace {

// One tick of the program's timer, which would start a run for a change,
// and some time for that run to show.
constexpr int QuietMs = 30000 + 10000;

QByteArray chromiumFile(const QStringList& urls) {
    QByteArray children;
    for (const QString& url : urls) {
        if (!children.isEmpty())
            children += ",";
        const QByteArray name = url.section('/', -1).toUtf8().replace('.', '_');
        children +=
            R"({"name": ")" + name + R"(", "type": "url", "url": ")" + url.toUtf8() + R"("})";
    }
    return R"({"roots": {"bookmark_bar": {"name": "Bar", "type": "folder", "children": [)" +
           children + R"(]}}, "version": 1})";
}

TEST(ImportSetting, EachRunImportsNewBookmarksOnceAndStartsNoExtraRun) {
    TempHome home;
    TestSite site;
    const quint16 port = e2e::freePort();
    home.write(".config/chromium/Default/Bookmarks",
               chromiumFile({site.url("/title"), site.url("/a/b")}));
    ProgramRun program(home);
    program.writeSettings("[Data]\r\nPort=" + QByteArray::number(port) +
                          "\r\n[General]\r\nStartup=1\r\nHistory=0\r\nAutoStart=0\r\n"
                          "Autorefresh=1\r\nTime_refresh=0\r\nImportBookmarks=chromium\r\n");
    program.start();
    const auto count = [&program](const char* text) {
        program.waitForStderr("", 10);
        return int(program.stderrText().count(text));
    };
    ASSERT_TRUE(program.waitForStderr("All Done", 180000)) << qPrintable(program.stderrText());
    EXPECT_TRUE(program.stderrText().contains("Imported 2 new bookmarks from chromium"));
    EXPECT_TRUE(program.stderrText().contains("Found 2 web favourites."));
    EXPECT_TRUE(home.read("Documents/pagorama/listings.xml").contains(site.url("/title").toUtf8()));

    // The user deletes one favourite; the browser gains a bookmark.
    ASSERT_TRUE(QFile::remove(home.favorites() + "/Bar/title.URL"))
        << qPrintable(QDir(home.favorites() + "/Bar").entryList().join(' '));
    home.write(".config/chromium/Default/Bookmarks",
               chromiumFile({site.url("/title"), site.url("/a/b"), site.url("/x/c.html")}));
    QThread::msleep(1000); // the deletion's notice arrives before the run
    const e2e::CommandResult refresh = e2e::runPagoramaCommand(home, {"--refresh"});
    ASSERT_EQ(refresh.exitCode, 0) << refresh.err.constData();
    ASSERT_TRUE(ProgramRun::waitUntil([&] { return count("All Done") >= 2; }, 180000))
        << qPrintable(program.stderrText());
    EXPECT_EQ(count("Imported 1 new bookmarks from chromium"), 1)
        << qPrintable(program.stderrText());
    EXPECT_EQ(QDir(home.favorites() + "/Bar").entryList(QDir::Files),
              (QStringList{"b.URL", "c_html.URL"}));
    const QByteArray catalogue = home.read("Documents/pagorama/listings.xml");
    EXPECT_TRUE(catalogue.contains(site.url("/x/c.html").toUtf8()));
    EXPECT_FALSE(catalogue.contains(site.url("/title").toUtf8()));

    // The import's own shortcut started no run of its own.
    QThread::msleep(QuietMs);
    EXPECT_EQ(count("web favourites."), 2) << qPrintable(program.stderrText());
    EXPECT_EQ(program.terminate(), 0);
}

} // namespace
