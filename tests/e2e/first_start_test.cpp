// The first start of the real program without a display: with an empty
// Favorites folder it names the command that brings in the bookmarks of the
// browsers found (so does the page shown until the first catalogue), and
// carries on; with favourites it says nothing of it. On a display, a second
// copy started while the first-run text waits brings that text forward.
#include "program_run.h"
#include "support/temp_home.h"

#include <QDir>
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

TEST(FirstStart, ASecondCopyBringsTheFirstRunTextForward) {
    QProcess xserver;
    xserver.start("Xvfb", {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"});
    ASSERT_TRUE(xserver.waitForReadyRead(20000)) << "Xvfb did not start";
    const QString display = ':' + QString::fromLatin1(xserver.readLine().trimmed());
    TempHome home;
    ProgramRun first(home);
    first.setDisplay(display);
    first.start(); // no settings file yet: the first-run text waits for the user
    ASSERT_TRUE(ProgramRun::waitUntil(
        [&] { return !QDir(home.runtimeFolder() + "/pagorama").entryList({"Pagora-*"}).isEmpty(); },
        20000));
    QProcess second;
    QProcessEnvironment env = home.programEnvironment();
    env.insert("DISPLAY", display);
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(PAGORAMA_BINARY_DIR "/pagorama"), {});
    const bool ended = second.waitForFinished(20000);
    if (!ended)
        second.kill();
    EXPECT_TRUE(ended) << "the second copy waits, as for its own \"Already Running\" box";
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().constData();
    first.process().kill();
    xserver.terminate();
    xserver.waitForFinished(5000);
}
