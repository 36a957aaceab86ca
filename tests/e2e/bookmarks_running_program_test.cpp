// Bookmarks imported while the program runs: the import's new folders and
// shortcuts are a change of Favorites like any other, so the program's
// folder watch starts a run and the pages show the imported favourites.
#include "catalogue_reader.h"
#include "program_command.h"
#include "program_run.h"
#include "support/http_test_client.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <gtest/gtest.h>

using e2e::ProgramRun;
using testsupport::TempHome;
using testsupport::TestSite;

TEST(BookmarksRunningProgram, ImportStartsARunThatShowsTheFavourites) {
    TempHome home;
    TestSite site;
    const quint16 port = e2e::freePort();
    ProgramRun program(home);
    program.writeSettings("[Data]\r\nPort=" + QByteArray::number(port) +
                          "\r\n[General]\r\nStartup=1\r\nHistory=0\r\nAutoStart=0\r\n"
                          "Autorefresh=1\r\nTime_refresh=0\r\n");
    program.start();
    const auto count = [&program](const char* text) {
        program.waitForStderr("", 10);
        return int(program.stderrText().count(text));
    };
    ASSERT_TRUE(ProgramRun::waitUntil([&] { return count("All Done") >= 1; }, 180000))
        << qPrintable(program.stderrText());

    home.write("bookmarks.html",
               "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n<DL><p>\n"
               "<DT><H3 PERSONAL_TOOLBAR_FOLDER=\"true\">Bookmarks bar</H3>\n<DL><p>\n"
               "<DT><A HREF=\"" +
                   site.url("/title").toUtf8() +
                   "\">Imported title</A>\n"
                   "</DL><p>\n"
                   "<DT><A HREF=\"" +
                   site.url("/a/b").toUtf8() +
                   "\">Imported top</A>\n"
                   "</DL><p>\n");
    const e2e::CommandResult imported =
        e2e::runPagoramaCommand(home, {"--import-bookmarks", home.path() + "/bookmarks.html"});
    ASSERT_EQ(imported.exitCode, 0) << imported.err.constData();

    // The watch notices within its interval and the run finds both.
    EXPECT_TRUE(program.waitForStderr("Found 2 web favourites.", 90000))
        << qPrintable(program.stderrText());
    ASSERT_TRUE(ProgramRun::waitUntil([&] { return count("All Done") >= 2; }, 180000))
        << qPrintable(program.stderrText());

    const auto listing = testsupport::fetch(port, "GET /listings.xml HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(listing.statusLine.contains(" 200")) << listing.statusLine.constData();
    QString error;
    const QList<e2e::CatalogueFolder> folders = e2e::readCatalogue(listing.body, &error);
    ASSERT_TRUE(error.isEmpty()) << qPrintable(error);
    const e2e::CatalogueLink inBar = e2e::findLink(folders, "Imported title");
    EXPECT_TRUE(inBar.has("UNIQUE")) << listing.body.constData();
    EXPECT_EQ(inBar.value("CODE"), "200");
    EXPECT_EQ(inBar.value("GIVEN_TITLE"), "Test Title");
    EXPECT_TRUE(e2e::findLink(folders, "Imported top").has("UNIQUE"));
    bool barShown = false;
    for (const e2e::CatalogueFolder& folder : folders)
        barShown = barShown || folder.location == "Bookmarks bar";
    EXPECT_TRUE(barShown);
    EXPECT_EQ(program.terminate(), 0) << qPrintable(program.stderrText());
}
