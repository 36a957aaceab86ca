// The first start of the real program without a display: with an empty
// Favorites folder it names the command that brings in the bookmarks of the
// browsers found (so does the page shown until the first catalogue), and
// carries on; with favourites it says nothing of it.
#include "program_run.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

using e2e::ProgramRun;
using testsupport::TempHome;

namespace {

const QByteArray Bookmarks = R"json({"roots": {"bookmark_bar": {"children": [
    {"name": "A", "type": "url", "url": "http://a.test/"}], "name": "Bookmarks bar", "type": "folder"}},
    "version": 1})json";

TEST(FirstStart, EmptyFavoritesNamesTheImportCommandAndCarriesOn) {
    TempHome home;
    home.write(".config/chromium/Default/Bookmarks", Bookmarks);
    ProgramRun program(home);
    program.writeSettings("[Data]\r\nPort=" + QByteArray::number(e2e::freePort()) +
                          "\r\n[General]\r\nStartup=0\r\nHistory=0\r\n");
    program.start();
    ASSERT_TRUE(program.waitForStderr("run: pagorama --import-bookmarks chromium\n", 20000))
        << qPrintable(program.stderrText());
    EXPECT_TRUE(program.stderrText().contains("Favorites has no favourites"));
    // The page shown until the first catalogue says the same.
    EXPECT_TRUE(ProgramRun::waitUntil(
        [&] {
            return home.read("Documents/pagorama/view.htm")
                .contains("pagorama --import-bookmarks chromium");
        },
        10000))
        << home.read("Documents/pagorama/view.htm").constData();
    EXPECT_EQ(program.process().state(), QProcess::Running);
    EXPECT_EQ(program.terminate(), 0);
}

TEST(FirstStart, FavoritesWithAShortcutGetNoHint) {
    TempHome home;
    home.write(".config/chromium/Default/Bookmarks", Bookmarks);
    home.write("Favorites/Site.url", e2e::shortcutText("http://127.0.0.1:9/"));
    ProgramRun program(home);
    program.writeSettings("[Data]\r\nPort=" + QByteArray::number(e2e::freePort()) +
                          "\r\n[General]\r\nStartup=1\r\nHistory=0\r\n");
    program.start();
    ASSERT_TRUE(program.waitForStderr("All Done", 60000)) << qPrintable(program.stderrText());
    EXPECT_FALSE(program.stderrText().contains("--import-bookmarks"));
    EXPECT_EQ(program.terminate(), 0);
}

} // namespace
