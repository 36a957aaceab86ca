// The Favorites folder watch of the whole program: the shortcuts it writes
// itself (the temporary shortcut of a redirected favourite, a favourite
// added from the suggestions page) start no run, and a favourite the user
// puts into the folder afterwards starts one within the watch interval,
// also when it comes in the middle of a run that analyses the history.
#include "program_run.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

using e2e::ProgramRun;
using e2e::shortcutText;
using testsupport::TempHome;
using testsupport::TestSite;

namespace {

// One tick of the program's timer, which starts a run for a change, and
// some time for the run to show that it started.
constexpr int WatchIntervalMs = 30000;
constexpr int QuietMs = WatchIntervalMs + 10000;

} // namespace

TEST(FolderWatch, OwnShortcutsStartNoRunAndTheUsersNextChangeDoes) {
    TempHome home;
    TestSite site;
    const quint16 port = e2e::freePort();
    home.write("Favorites/Moved.url", shortcutText(site.url("/redirect/302")));
    ProgramRun program(home);
    program.writeSettings("[Data]\r\nPort=" + QByteArray::number(port) +
                          "\r\n[General]\r\nStartup=1\r\nHistory=0\r\nAutoStart=0\r\n"
                          "Autorefresh=1\r\nTime_refresh=0\r\n");
    program.start();
    const auto runsStarted = [&program] {
        program.waitForStderr("", 10);
        return int(program.stderrText().count("web favourites."));
    };
    ASSERT_TRUE(program.waitForStderr("All Done", 180000)) << qPrintable(program.stderrText());
    ASSERT_EQ(runsStarted(), 1);

    // The redirected favourite's temporary shortcut came and went during
    // that run: no second run.
    QThread::msleep(QuietMs);
    EXPECT_EQ(runsStarted(), 1) << qPrintable(program.stderrText());

    // "Add to favourites" on the suggestions page writes a favourite: no run.
    QByteArray address = site.url("/x/c.html").toUtf8();
    address.replace(":", "%3A").replace("/", "%2F");
    const auto added = e2e::postForm(port, "/cgi-bin/cgifrm2.exe", address + "=Add+to+favourites");
    ASSERT_TRUE(added.statusLine.contains(" 200")) << added.statusLine.constData();
    ASSERT_TRUE(QFile::exists(home.favorites() + "/X C.URL"));
    QThread::msleep(QuietMs);
    EXPECT_EQ(runsStarted(), 1) << qPrintable(program.stderrText());

    // The user's own new favourite starts a run within the interval.
    home.write("Favorites/Mine.url", shortcutText(site.url("/title")));
    EXPECT_TRUE(ProgramRun::waitUntil([&] { return runsStarted() >= 2; }, QuietMs))
        << qPrintable(program.stderrText());
    EXPECT_TRUE(program.waitForStderr("Found 3 web favourites.", 5000));
    EXPECT_TRUE(ProgramRun::waitUntil(
        [&] {
            program.waitForStderr("", 10);
            return program.stderrText().count("All Done") >= 2;
        },
        180000));
    EXPECT_EQ(program.terminate(), 0) << qPrintable(program.stderrText());
}

TEST(FolderWatch, AChangeInTheMiddleOfARunLeadsToExactlyOneMoreRun) {
    TempHome home;
    TestSite site;
    // Each answer takes a while, so the run is still fetching when the user
    // adds a favourite.
    site.setRoute("/slow", [](const TestSite::Request& request, TestSite::Connection& connection) {
        QThread::msleep(1500);
        const QByteArray answer = TestSite::response(200, "text/html", TestSite::page("Slow"));
        connection.send(request.method == "HEAD" ? answer.left(answer.indexOf("\r\n\r\n") + 4)
                                                 : answer);
    });
    for (const char* name : {"One", "Two", "Three"})
        home.write(QString("Favorites/%1.url").arg(name), shortcutText(site.url("/slow")));
    // A site visited often, so the history analysis takes a while too.
    home.write(".config/pagorama/urlcache.txt",
               "25\t1\tVisited: me@" + site.url("/slow?visited").toUtf8() + "\n");
    ProgramRun program(home);
    program.writeSettings("[Data]\r\nPort=" + QByteArray::number(e2e::freePort()) +
                          "\r\n[General]\r\nStartup=1\r\nHistory=1\r\nAutoStart=0\r\n"
                          "Autorefresh=1\r\nTime_refresh=0\r\n");
    program.start();
    const auto count = [&program](const char* text) {
        program.waitForStderr("", 10);
        return int(program.stderrText().count(text));
    };
    ASSERT_TRUE(program.waitForStderr("Found 3 web favourites.", 60000))
        << qPrintable(program.stderrText());
    home.write("Favorites/Four.url", shortcutText(site.url("/title")));
    // The run ends with its history analysis, during which another comes.
    ASSERT_TRUE(ProgramRun::waitUntil([&] { return count("web histories.") == 1; }, 180000))
        << qPrintable(program.stderrText());
    home.write("Favorites/Five.url", shortcutText(site.url("/title")));
    EXPECT_EQ(count("web favourites."), 1) << qPrintable(program.stderrText());

    // The change made during that run (and its history analysis) starts
    // one more run, and only one.
    ASSERT_TRUE(ProgramRun::waitUntil([&] { return count("Found 5 web favourites.") == 1; },
                                      QuietMs + 60000))
        << qPrintable(program.stderrText());
    ASSERT_TRUE(ProgramRun::waitUntil([&] { return count("web histories.") == 2; }, 180000));
    QThread::msleep(QuietMs);
    EXPECT_EQ(count("web favourites."), 2) << qPrintable(program.stderrText());
    EXPECT_EQ(program.terminate(), 0) << qPrintable(program.stderrText());
}
