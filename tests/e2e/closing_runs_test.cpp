// Runs that are ended early or that fail, on the whole program: a SIGTERM
// during a fetch that never finishes ends it within seconds with its
// settings saved; a run whose catalogue cannot be saved, and runs ended
// half a second after start, leave the catalogue, the pages and every
// picture they show as they were; a cancel during a probe, a capture or
// the history analysis returns at once and sends nothing more.
#include "catalogue_reader.h"
#include "data_folder.h"
#include "program_command.h"
#include "program_run.h"
#include "support/http_test_client.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QThread>
#include <gtest/gtest.h>

#include <cstdio>

using e2e::CatalogueFolder;
using e2e::ProgramRun;
using testsupport::TempHome;
using testsupport::TestSite;

namespace {

class ClosingRuns : public ::testing::Test {
protected:
    // One complete run of the program, with the test's settings when there
    // are none yet; the test fails when it does not end well.
    void completeRun() {
        ProgramRun program(home);
        if (home.read(".config/pagorama/pagorama.ini").isEmpty())
            program.writeSettings(e2e::settingsText(port, "SortBy=0\r\nNewPage=1\r\n"));
        program.start();
        ASSERT_TRUE(program.waitForStderr("All Done", 180000)) << qPrintable(program.stderrText());
        ASSERT_EQ(program.terminate(), 0) << qPrintable(program.stderrText());
    }

    QByteArray listings() { return home.read("Documents/pagorama/listings.xml"); }

    TempHome home;
    TestSite site;
    const quint16 port = e2e::freePort();
};

} // namespace

TEST_F(ClosingRuns, SigtermDuringAFetchThatNeverEndsEndsTheProgramWithinSeconds) {
    // The first request for the page gets no answer at all, so the fetch
    // would wait for the full time-out.
    home.write("Favorites/A stalled page.url", e2e::shortcutText(site.url("/stall")));
    home.write("Favorites/B later page.url", e2e::shortcutText(site.url("/title")));
    ProgramRun program(home);
    program.writeSettings(e2e::settingsText(port, "SortBy=0\r\nNewPage=1\r\n"));
    program.start();
    ASSERT_TRUE(program.waitForStderr("Found 2 web favourites.", 60000))
        << qPrintable(program.stderrText());
    ASSERT_TRUE(ProgramRun::waitUntil([&] { return site.requestCount("/stall") > 0; }, 30000));
    QThread::msleep(2000);

    const int laterRequestsAtClose = site.requestCount("/title");
    QElapsedTimer closing;
    closing.start();
    program.process().terminate();
    const bool ended = program.process().waitForFinished(5000);
    const qint64 closeMs = closing.elapsed();
    std::printf("close during a fetch took %lld ms\n", static_cast<long long>(closeMs));
    ASSERT_TRUE(ended) << "still running 5 s after SIGTERM\n" << qPrintable(program.stderrText());
    EXPECT_EQ(program.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.process().exitCode(), 0);

    // Settings saved, with the counter of a run that did not finish given back.
    const QByteArray ini = home.read(".config/pagorama/pagorama.ini");
    EXPECT_EQ(home.setting("Data", "Port"), QString::number(port));
    EXPECT_EQ(home.setting("General", "EvenFileName"), "1");
    // The cancelled probe sent nothing more, and the next favourite was not
    // taken up: work on it ahead of the run sent nothing after the close
    // and left no picture.
    QThread::msleep(300);
    EXPECT_EQ(site.requestCount("/stall"), 1);
    EXPECT_EQ(site.requestCount("/title"), laterRequestsAtClose);
    EXPECT_LE(QDir(home.dataFolder() + "images").entryList({"*.BMP"}, QDir::Files).size(), 1);
    EXPECT_FALSE(program.stderrText().contains("All Done"));
}

TEST_F(ClosingRuns, SigtermWhileTheBrowserWaitsForAPageEndsTheProgramWithinSeconds) {
    home.write("Favorites/Stalls.url", e2e::shortcutText(site.url("/stall-for-browsers")));
    ProgramRun program(home);
    program.writeSettings(e2e::settingsText(port));
    program.start();
    const bool browserAsked =
        ProgramRun::waitUntil([&] { return site.browserRequestCount() > 0; }, 60000);
    if (!browserAsked)
        FAIL() << "no browser took the page";
    QThread::msleep(1000);

    QElapsedTimer closing;
    closing.start();
    program.process().terminate();
    const bool ended = program.process().waitForFinished(5000);
    std::printf("close during a picture took %lld ms\n", static_cast<long long>(closing.elapsed()));
    ASSERT_TRUE(ended) << qPrintable(program.stderrText());
    EXPECT_EQ(program.process().exitCode(), 0);
    EXPECT_EQ(home.setting("General", "EvenFileName"), "1");
}

TEST_F(ClosingRuns, StartsEndedHalfASecondInKeepTheLastCompleteRun) {
    // Slow answers, so each start is still in its run when it is ended.
    site.setRoute("/slow", [](const TestSite::Request& request, TestSite::Connection& connection) {
        QThread::msleep(300);
        QByteArray answer = TestSite::response(200, "text/html", TestSite::page("Slow"));
        if (request.method == "HEAD")
            answer = answer.left(answer.indexOf("\r\n\r\n") + 4);
        connection.send(answer);
    });
    for (const char* name : {"One", "Two", "Three"})
        home.write(QString("Favorites/%1.url").arg(name), e2e::shortcutText(site.url("/slow")));
    completeRun();
    const QByteArray firstCatalogue = listings();
    const QMap<QString, QByteArray> firstPictures = e2e::pictureFiles(home);
    ASSERT_EQ(firstPictures.size(), 3);
    ASSERT_EQ(e2e::picturesShownByPages(home).size(), 3);

    for (int start = 0; start < 3; ++start) {
        ProgramRun program(home);
        program.start();
        QThread::msleep(500);
        EXPECT_EQ(program.terminate(5000), 0) << qPrintable(program.stderrText());
    }

    EXPECT_EQ(listings(), firstCatalogue);
    const QMap<QString, QByteArray> now = e2e::pictureFiles(home);
    for (auto it = firstPictures.cbegin(); it != firstPictures.cend(); ++it)
        EXPECT_EQ(now.value(it.key()), it.value()) << qPrintable(it.key());
    for (const QString& shown : e2e::picturesShownByPages(home))
        EXPECT_TRUE(firstPictures.contains(shown)) << qPrintable(shown);
    EXPECT_EQ(home.setting("General", "EvenFileName"), "2");

    // A later complete run replaces them as usual.
    completeRun();
    const QMap<QString, QByteArray> after = e2e::pictureFiles(home);
    EXPECT_EQ(after.size(), 3);
    for (const QString& name : after.keys())
        EXPECT_FALSE(firstPictures.contains(name)) << qPrintable(name);
    EXPECT_EQ(home.setting("General", "EvenFileName"), "3");
}

TEST_F(ClosingRuns, RunWhoseCatalogueCannotBeSavedKeepsThePicturesThePagesShow) {
    home.write("Favorites/Alpha.url", e2e::shortcutText(site.url("/title")));
    home.write("Favorites/News/Beta.url", e2e::shortcutText(site.url("/status/404")));
    completeRun();
    const QMap<QString, QByteArray> firstPictures = e2e::pictureFiles(home);
    ASSERT_EQ(firstPictures.size(), 2);

    // listings.xml becomes a folder: the next run cannot save its catalogue.
    ASSERT_TRUE(QFile::remove(home.dataFolder() + "listings.xml"));
    ASSERT_TRUE(QDir().mkdir(home.dataFolder() + "listings.xml"));
    ProgramRun program(home);
    program.start();
    ASSERT_TRUE(program.waitForStderr("Refresh failed: ", 180000))
        << qPrintable(program.stderrText());
    EXPECT_FALSE(program.stderrText().contains("All Done"));

    const QStringList shown = e2e::picturesShownByPages(home);
    EXPECT_FALSE(shown.isEmpty());
    for (const QString& picture : shown)
        EXPECT_TRUE(QFile::exists(home.dataFolder() + picture)) << qPrintable(picture);
    const QMap<QString, QByteArray> now = e2e::pictureFiles(home);
    for (auto it = firstPictures.cbegin(); it != firstPictures.cend(); ++it)
        EXPECT_EQ(now.value(it.key()), it.value()) << qPrintable(it.key());
    EXPECT_EQ(program.terminate(), 0);
    EXPECT_TRUE(home.read(".config/pagorama/PagoraERRORLOG.txt").contains("listings.xml"));
    EXPECT_EQ(home.setting("General", "EvenFileName"), "2");
}

TEST_F(ClosingRuns, CancelAbandonsTheWorkInProgressAndReturnsOnceTheRunHasEnded) {
    // A favourite on a server that never answers, one whose page never
    // finishes loading in the browser, and a history entry that never
    // answers: each cancel returns at once and sends nothing more.
    home.write("Favorites/Silent.url", e2e::shortcutText(site.url("/stall")));
    home.write(".config/pagorama/urlcache.txt",
               "25\t1\tVisited: me@" + site.url("/stall?visited").toUtf8() + "\n");
    ProgramRun program(home);
    program.writeSettings("[Data]\r\nPort=" + QByteArray::number(port) +
                          "\r\n[General]\r\nStartup=1\r\nHistory=1\r\nAutoStart=0\r\n"
                          "Autorefresh=0\r\nTime_refresh=0\r\n");
    program.start();
    const auto cancelOnce = [&](const char* when) {
        QThread::msleep(500);
        const int silentRequests = site.requestCount("/stall");
        const e2e::CommandResult cancel = e2e::runPagoramaCommand(home, {"--cancel"});
        std::printf("cancel during %s took %lld ms\n", when,
                    static_cast<long long>(cancel.elapsedMs));
        EXPECT_EQ(cancel.exitCode, 0) << when << cancel.err.constData();
        EXPECT_EQ(cancel.out, "Cancelling the refresh\nRefresh cancelled\n") << when;
        EXPECT_LT(cancel.elapsedMs, 4000) << when;
        QThread::msleep(500);
        EXPECT_EQ(site.requestCount("/stall"), silentRequests) << when;
        EXPECT_TRUE(program.waitForStderr("Refresh cancelled", 1000)) << when;
    };
    ASSERT_TRUE(ProgramRun::waitUntil([&] { return site.requestCount("/stall") > 0; }, 60000));
    cancelOnce("a probe");

    QFile::remove(home.favorites() + "/Silent.url");
    home.write("Favorites/Slow page.url", e2e::shortcutText(site.url("/stall-for-browsers")));
    const int browserRequests = site.browserRequestCount();
    EXPECT_EQ(e2e::runPagoramaCommand(home, {"--refresh"}).exitCode, 0);
    ASSERT_TRUE(ProgramRun::waitUntil(
        [&] { return site.browserRequestCount() > browserRequests; }, 60000));
    cancelOnce("a capture");

    home.write("Favorites/Slow page.url", e2e::shortcutText(site.url("/title")));
    const int silentBefore = site.requestCount("/stall");
    EXPECT_EQ(e2e::runPagoramaCommand(home, {"--refresh"}).exitCode, 0);
    ASSERT_TRUE(ProgramRun::waitUntil([&] { return site.requestCount("/stall") > silentBefore; },
                                      120000))
        << qPrintable(program.stderrText());
    cancelOnce("the history analysis");
    EXPECT_EQ(program.terminate(), 0) << qPrintable(program.stderrText());
    // Work given up is no failure of the program's.
    const QByteArray exceptions = home.read(".config/pagorama/PagoraERRORLOG.txt");
    EXPECT_FALSE(exceptions.contains("Canceled")) << exceptions.left(2000).constData();
}
