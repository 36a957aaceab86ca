// The whole program in a browser: pagorama runs without a display over a
// small Favorites tree, and headless Chromium opens its address and shows
// the viewer with the header, the grid of favourites and their pictures;
// a page of another site cannot show them in a frame of its own. With no
// favourite at the top, the page shown first links the folders.
#include "pages/headless_browser.h"
#include "program_command.h"
#include "program_run.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <gtest/gtest.h>

using e2e::ProgramRun;
using testsupport::TempHome;
using testsupport::TestSite;

TEST(ProgramInBrowser, ViewerShowsTheGridOfFavouritesWithTheirPictures) {
    TempHome home;
    TestSite site;
    const quint16 port = e2e::freePort();
    for (const char* name : {"Apple", "Banana", "Cherry", "Damson", "Elder"})
        home.write(QString("Favorites/%1.url").arg(name),
                   "[InternetShortcut]\r\nURL=" + site.url("/title").toUtf8() + "\r\n");
    home.write("Favorites/Work/Mail.url",
               "[InternetShortcut]\r\nURL=" + site.url("/status/404").toUtf8() + "\r\n");

    ProgramRun program(home);
    program.writeSettings("[Data]\r\nPort=" + QByteArray::number(port) +
                          "\r\n[General]\r\nHistory=0\r\nAutoStart=0\r\nNewPage=1\r\n");
    program.start();
    ASSERT_TRUE(program.waitForStderr("All Done", 180000)) << qPrintable(program.stderrText());

    pagetest::HeadlessBrowser browser;
    // The pages link to http://localhost:<port>/, so the viewer is opened there.
    ASSERT_TRUE(browser.open(QString("http://localhost:%1/").arg(port)));
    ASSERT_TRUE(browser.waitFor("frames.length == 3 && "
                                "frames['mymain'].document.readyState == 'complete' && "
                                "frames['header'].document.readyState == 'complete' && "
                                "Array.from(frames['mymain'].document.images).every("
                                "i => i.complete)",
                                60000));
    auto js = [&](const QString& expression) { return browser.evaluate(expression).toString(); };

    EXPECT_EQ(js("document.title"), "Viewer");
    // The header offers the two folders.
    EXPECT_EQ(js("Array.from(frames['header'].document.querySelectorAll('option'))"
                 ".map(o => o.text).join('|')"),
              "Root|Work");
    // The root folder's grid: five favourites with their names and pictures.
    const QString names = js("Array.from(frames['mymain'].document.querySelectorAll('a'))"
                             ".map(a => a.textContent.trim()).filter(t => t).join('|')");
    for (const char* name : {"Apple", "Banana", "Cherry", "Damson", "Elder"})
        EXPECT_TRUE(names.contains(name)) << qPrintable(names);
    EXPECT_FALSE(names.contains("Mail"));
    EXPECT_EQ(js("Array.from(frames['mymain'].document.images)"
                 ".filter(i => i.src.includes('images') && i.naturalWidth == 122).length + ''"),
              "5");

    // Another site framing the editor and the viewer, where a user's clicks
    // could be turned into edits: both frames stay empty. (How many frames
    // a frame of another origin holds is one thing its parent may read.)
    const QByteArray pages = "http://localhost:" + QByteArray::number(port);
    site.setRawRoute("/framer", TestSite::response(200, "text/html",
                                                   "<iframe onload='loaded++' src='" + pages +
                                                       "/editor.htm'></iframe><iframe "
                                                       "onload='loaded++' src='" +
                                                       pages +
                                                       "/'></iframe>"
                                                       "<script>var loaded = 0</script>"));
    ASSERT_TRUE(browser.open(site.url("/framer")));
    ASSERT_TRUE(browser.waitFor("loaded == 2", 30000));
    EXPECT_EQ(js("frames.length + ':' + frames[0].length + ',' + frames[1].length"), "2:0,0");
    // The same pages framed by one of their own keep their frames.
    ASSERT_TRUE(browser.open(QString::fromLatin1(pages) + "/editor.htm"));
    EXPECT_TRUE(browser.waitFor("frames.length == 3 && Array.from(frames).every("
                                "f => f.document.readyState == 'complete')",
                                30000));

    EXPECT_EQ(program.terminate(), 0);
}

TEST(ProgramInBrowser, StartPageLinksTheFoldersOnceTheFirstRunFindsNoFavouriteAtTheTop) {
    TempHome home;
    TestSite site;
    const quint16 port = e2e::freePort();
    const QString scripted = "javascript:top.ran=1";
    for (const QString& file : QStringList{"Bookmarks bar/Alpha", "Bookmarks bar/News/Beta",
                                           "Other/Gamma", scripted + "/Delta"})
        home.write("Favorites/" + file + ".url", e2e::shortcutText(site.url("/title")));

    ProgramRun program(home);
    program.writeSettings("[Data]\r\nPort=" + QByteArray::number(port) +
                          "\r\n[General]\r\nStartup=0\r\nHistory=0\r\nAutoStart=0\r\n"
                          "Time_refresh=0\r\nNewPage=1\r\n");
    program.start();
    pagetest::HeadlessBrowser browser;
    auto js = [&](const QString& expression) { return browser.evaluate(expression).toString(); };
    const QString mainText = "frames['mymain'].document.body.innerText";
    auto openInFrames = [&](const QString& page, const QString& shown) {
        return browser.open(QString("http://localhost:%1/%2").arg(port).arg(page)) &&
               browser.waitFor("frames.length == 3 && " + mainText + ".includes('" + shown + "')",
                               60000);
    };
    // Before the first run: the placeholder.
    ASSERT_TRUE(openInFrames("", "will automatically be updated")) << qPrintable(js(mainText));

    ASSERT_EQ(e2e::runPagoramaCommand(home, {"--refresh"}).exitCode, 0);
    ASSERT_TRUE(program.waitForStderr("All Done", 180000)) << qPrintable(program.stderrText());

    // After it: the highest folders, in the editor and in the viewer, where
    // a folder named like a script address is only a page of the pages.
    const QString links = "Array.from(frames['mymain'].document.links)";
    ASSERT_TRUE(openInFrames("editor.htm", "are in folders")) << qPrintable(js(mainText));
    EXPECT_EQ(js(links + ".map(a => a.pathname).join('|')"),
              "/editBookmarks%20bar.htm|/editjavascript%3Atop.ran%3D1.htm|/editOther.htm");
    ASSERT_TRUE(openInFrames("", "are in folders"));
    EXPECT_EQ(js(links + ".map(a => a.protocol + a.textContent).join('|')"),
              "http:Bookmarks bar|http:" + scripted + "|http:Other");
    browser.evaluate(links + "[1].click()");
    EXPECT_TRUE(browser.waitFor(mainText + ".includes('Delta')", 30000))
        << qPrintable(js(mainText));
    EXPECT_EQ(js("typeof top.ran"), "undefined");

    EXPECT_EQ(program.terminate(), 0);
}
