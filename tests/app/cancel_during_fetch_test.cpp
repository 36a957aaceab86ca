// "Cancel Refresh" pressed in the configuration window while the site
// worker waits for a page that answers after three seconds: that favourite
// is abandoned at once, the run ends without replacing the catalogue, and
// a new run can start.
#include "catalogue/refresh_run.h"
#include "platform/message_service.h"
#include "support/free_port.h"
#include "support/program_fixture.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>

using testsupport::TestSite;

namespace {

// Handles events until done() holds or the time is up.
bool processUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

} // namespace

TEST(CancelDuringFetch, WindowKeepsRunningTheRunEndsAfterThatFavouriteAndANewOneStarts) {
    testsupport::programApplication();
    testsupport::TempHome home;
    platform::ScopedMessageRecorder messages;
    TestSite site;
    // The first request waits three seconds for its answer.
    auto answered = std::make_shared<std::atomic<int>>(0);
    site.setRoute(
        "/late", [answered](const TestSite::Request& request, TestSite::Connection& connection) {
            if ((*answered)++ == 0)
                QThread::msleep(3000);
            QByteArray answer = TestSite::response(200, "text/html", TestSite::page("Late"));
            if (request.method == "HEAD")
                answer = answer.left(answer.indexOf("\r\n\r\n") + 4);
            connection.send(answer);
        });
    home.write("Favorites/A late page.url",
               "[InternetShortcut]\r\nURL=" + site.url("/late").toUtf8() + "\r\n");
    home.write("Favorites/B quick page.url",
               "[InternetShortcut]\r\nURL=" + site.url("/title").toUtf8() + "\r\n");
    home.write(".config/pagorama/pagorama.ini",
               "[Data]\r\nPort=" + QByteArray::number(testsupport::freePort()) +
                   "\r\n[General]\r\nStartup=0\r\nHistory=0\r\nAutoStart=0\r\nNew_Only=0\r\n");
    home.write("Documents/pagorama/listings.xml", "the previous catalogue");

    app::ProgramCore core({});
    app::TMain window(core);
    processUntil([&] { return core.Initialised; }, 5000);
    ASSERT_TRUE(core.Initialised);

    // A cancel that never returns would hang the test: end it with a clear failure.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        std::fprintf(stderr, "Cancel Refresh did not return within 30 s\n");
        std::_Exit(1);
    });
    watchdog.start(30000);

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);

    // Cancel from within the run's own event handling, once the worker
    // waits for the late page.
    int ticksDuringCancel = -1;
    qint64 cancelMs = -1;
    int quickRequestsAtCancel = -1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (cancelMs >= 0 || site.requestCount("/late") == 0)
            return;
        cancelMs = 0;
        const int before = ticks;
        QElapsedTimer waited;
        waited.start();
        window.findChild<QPushButton*>("Button4")->click();
        cancelMs = waited.elapsed();
        ticksDuringCancel = ticks - before;
        quickRequestsAtCancel = site.requestCount("/title");
    });
    poll.start(20);
    bool runReturned = false;
    QTimer::singleShot(0, [&] {
        window.findChild<QPushButton*>("Button2")->click();
        runReturned = true;
    });
    ASSERT_TRUE(processUntil([&] { return runReturned; }, 25000));
    watchdog.stop();

    // "Cancel Refresh" does not wait for the page in progress (three seconds).
    EXPECT_LT(cancelMs, 2000);
    EXPECT_GE(ticksDuringCancel, 0);
    // The next favourite was not taken up: work on it ahead of the run may
    // have begun, but it ended with the cancel and left no picture.
    QThread::msleep(500);
    EXPECT_EQ(site.requestCount("/title"), quickRequestsAtCancel);
    EXPECT_EQ(QDir(home.dataFolder() + "images").entryList({"*.BMP"}, QDir::Files).size(), 0)
        << "the late page was abandoned before its picture";
    EXPECT_EQ(window.findChild<QLabel*>("Label1")->text(), "Refresh cancelled");
    EXPECT_EQ(home.read("Documents/pagorama/listings.xml"), "the previous catalogue");
    EXPECT_FALSE(core.Run().runInProgress());
    EXPECT_TRUE(window.findChild<QPushButton*>("Button2")->isEnabled());

    // A new run takes every favourite.
    site.setRoute("/late", [](const TestSite::Request&, TestSite::Connection& connection) {
        connection.send(TestSite::response(200, "text/html", TestSite::page("Late")));
    });
    window.findChild<QPushButton*>("Button2")->click();
    EXPECT_EQ(window.findChild<QLabel*>("Label1")->text(), "All Done");
    EXPECT_GT(site.requestCount("/title"), 0);
    EXPECT_TRUE(home.read("Documents/pagorama/listings.xml").contains("quick"));
}
