// Several captures at once in the kept tabs of one headless Chromium, and
// what the reuse of a tab must never do: show its previous page.
#include "catalogue/page_renderer.h"
#include "catalogue/placeholder.h"
#include "support/loopback_site.h"
#include "support/snapshot_site.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using catalogue::PageRenderer;
using namespace testsupport;

namespace {

const QByteArray kBluePage = "<html><head><title>Blue</title></head>"
                             "<body style=\"background:#0000e0;margin:0\">"
                             "<h1 style=\"color:white;font-size:80px\">Blue</h1></body></html>";

bool isStrongBlue(QRgb colour) {
    return qBlue(colour) > 200 && qRed(colour) < 60 && qGreen(colour) < 60;
}

// Runs work(0..count-1) on threads of their own while this (the renderer's
// owning) thread keeps processing events, as the refresh run's wait does.
void runInParallel(int count, const std::function<void(int)>& work) {
    std::atomic<int> running{count};
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&, i] {
            work(i);
            --running;
        });
    while (running > 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    for (std::thread& thread : threads)
        thread.join();
}

// Counts the browser's requests to a route that are in progress at once.
// Each waits (at most holdMs) until `release` of them have come, then gets
// the red page; with release 0 it hangs until the browser goes away.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    int arrived = 0;
    int inProgress = 0;
    int peak = 0;
    int release = 0;
    int holdMs = 0;

    bool waitForArrivals(int count, int timeoutMs) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [&] { return arrived >= count; });
    }
};

void setGateRoute(TestSite& site, const QByteArray& route, const std::shared_ptr<Gate>& gate) {
    site.setRoute(route,
                  [gate](const TestSite::Request& request, TestSite::Connection& connection) {
                      if (!requestFromBrowser(request)) {
                          connection.send(TestSite::response(200, "text/html", kRedPage));
                          return;
                      }
                      std::unique_lock lock(gate->mutex);
                      ++gate->arrived;
                      gate->peak = qMax(gate->peak, ++gate->inProgress);
                      gate->changed.notify_all();
                      if (gate->release == 0) {
                          lock.unlock();
                          connection.waitUntilClosed();
                          lock.lock();
                      } else {
                          gate->changed.wait_for(lock, std::chrono::milliseconds(gate->holdMs),
                                                 [&] { return gate->arrived >= gate->release; });
                          lock.unlock();
                          connection.send(TestSite::response(200, "text/html", kRedPage));
                          lock.lock();
                      }
                      --gate->inProgress;
                  });
}

// The browser's page (renderer) processes.
QList<int> rendererProcessesOf(pid_t browser) {
    QList<int> found;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool isPid = false;
        const int pid = entry.toInt(&isPid);
        if (!isPid || pid == browser || ::getpgid(pid) != browser)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains("--type=renderer"))
            found << pid;
    }
    return found;
}

class ParallelCapturesTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (PageRenderer::findBrowser().isEmpty())
            FAIL() << "Chromium is not installed (scripts/packages.txt names it)";
        renderer.setTimeouts(3000, 5000);
        renderer.setMaxParallelCaptures(3);
        site.setRawRoute("/red", TestSite::response(200, "text/html", kRedPage));
        site.setRawRoute("/blue", TestSite::response(200, "text/html", kBluePage));
    }

    TestSite site;
    PageRenderer renderer;
};

TEST_F(ParallelCapturesTest, ThePartOfTheMachineItUsesIsBounded) {
    PageRenderer fresh;
    EXPECT_GE(fresh.maxParallelCaptures(), 1);
    EXPECT_LE(fresh.maxParallelCaptures(), 3);
    fresh.setMaxParallelCaptures(100);
    EXPECT_EQ(fresh.maxParallelCaptures(), 8);
    fresh.setMaxParallelCaptures(0);
    EXPECT_EQ(fresh.maxParallelCaptures(), 1);
}

// A page with a stylesheet and a picture, on a slow server: the browser
// asks for them one after the other, each over a connection of its own that
// the server closes, and opens none ahead of need; the picture is the
// page's all the same.
TEST_F(ParallelCapturesTest, APageAsksItsServerOneRequestAtATime) {
    LoopbackSite slow({2, 150, {}});
    ASSERT_TRUE(renderer.start());
    QImage pictures[2];
    runInParallel(2, [&](int thread) {
        pictures[thread] =
            renderer.capture(slow.url(thread + 1, QStringLiteral("/page/%1").arg(thread)));
    });
    for (int address : {1, 2}) {
        EXPECT_EQ(slow.mostAtOnce(address), 1) << "127.0.0." << address;
        QSet<QByteArray> asked;
        for (const LoopbackSite::Seen& seen : slow.requests())
            if (seen.address == address)
                asked << seen.path;
        EXPECT_TRUE(asked.contains("/style.css") && asked.contains("/picture.png"))
            << "127.0.0." << address;
        const QImage& picture = pictures[address - 1];
        ASSERT_FALSE(picture.isNull());
        EXPECT_EQ(QColor(dominantColour(picture)).name().toLatin1(),
                  LoopbackSite::colourOf(address - 1));
    }
}

// Red and blue pages taken in turn by three threads: every picture shows its
// own page, never another tab's nor the previous page of its own tab.
TEST_F(ParallelCapturesTest, EachPictureShowsItsOwnPage) {
    ASSERT_TRUE(renderer.start());
    constexpr int kRounds = 6;
    std::atomic<int> wrong{0}, missing{0}, misshapen{0};
    runInParallel(3, [&](int thread) {
        for (int round = 0; round < kRounds; ++round) {
            const bool red = (thread + round) % 2 == 0;
            const QImage picture = renderer.capture(site.url(
                QStringLiteral("/%1?t=%2&r=%3").arg(red ? "red" : "blue").arg(thread).arg(round)));
            if (picture.isNull()) {
                ++missing;
                continue;
            }
            misshapen += picture.size() != QSize(122, 91);
            const QRgb colour = dominantColour(picture);
            wrong += red ? !isStrongRed(colour) : !isStrongBlue(colour);
        }
    });
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(misshapen, 0);
}

// The captures really run side by side: as many of the browser's page
// requests are in progress at once as the renderer allows, and no more.
TEST_F(ParallelCapturesTest, UpToTheAllowedNumberOfPagesLoadAtOnce) {
    auto gate = std::make_shared<Gate>();
    gate->release = 3;
    gate->holdMs = 4000;
    setGateRoute(site, "/gate", gate);
    renderer.setTimeouts(8000, 5000);
    ASSERT_TRUE(renderer.start());
    std::atomic<int> red{0};
    runInParallel(5, [&](int thread) {
        const QImage picture = renderer.capture(site.url(QStringLiteral("/gate?%1").arg(thread)));
        red += !picture.isNull() && isStrongRed(dominantColour(picture));
    });
    EXPECT_EQ(gate->peak, 3);
    EXPECT_EQ(red, 5);
}

// A page that never finishes loading holds its own tab only: the other
// captures are done while it still waits.
TEST_F(ParallelCapturesTest, APageThatNeverLoadsDoesNotHoldUpTheOthers) {
    auto gate = std::make_shared<Gate>(); // hangs until the browser goes away
    setGateRoute(site, "/never", gate);
    renderer.setTimeouts(60000, 5000);
    ASSERT_TRUE(renderer.start());
    std::atomic<bool> slowDone{false};
    std::atomic<int> othersDoneFirst{0};
    runInParallel(3, [&](int thread) {
        if (thread == 0) {
            renderer.capture(site.url("/never"));
            slowDone = true;
            return;
        }
        if (!gate->waitForArrivals(1, 10000))
            return;
        for (int round = 0; round < 3; ++round) {
            const QImage picture = renderer.capture(site.url(QStringLiteral("/red?%1").arg(round)));
            othersDoneFirst +=
                !slowDone && !picture.isNull() && isStrongRed(dominantColour(picture));
        }
        if (thread == 1) {
            // Ends the waiting capture at once rather than after its minute.
            while (othersDoneFirst < 6 && !slowDone)
                QThread::msleep(10);
            renderer.shutDown();
        }
    });
    EXPECT_EQ(othersDoneFirst, 6);
}

// The browser killed while three captures wait for their pages: each ends
// promptly without a picture, the browser is started again once, and the
// captures after it work.
TEST_F(ParallelCapturesTest, BrowserKilledDuringParallelCapturesIsStartedAgainOnce) {
    auto gate = std::make_shared<Gate>();
    setGateRoute(site, "/hold", gate);
    renderer.setTimeouts(60000, 5000);
    ASSERT_TRUE(renderer.start());
    const pid_t first = renderer.browserProcessId();

    std::atomic<int> pictures{0};
    std::atomic<qint64> slowestAfterKill{0};
    QElapsedTimer sinceKill;
    std::atomic<bool> killed{false};
    runInParallel(4, [&](int thread) {
        if (thread == 3) {
            if (gate->waitForArrivals(3, 15000)) {
                sinceKill.start();
                killed = true;
                ::kill(first, SIGKILL);
            }
            return;
        }
        pictures += !renderer.capture(site.url(QStringLiteral("/hold?%1").arg(thread))).isNull();
        if (killed)
            slowestAfterKill = qMax<qint64>(slowestAfterKill, sinceKill.elapsed());
    });
    ASSERT_TRUE(killed) << "the three captures never ran at once";
    EXPECT_EQ(pictures, 0);
    EXPECT_LT(slowestAfterKill, 5000); // not the minute the pages could take

    std::mutex seenMutex;
    QSet<pid_t> browsersSeen;
    std::atomic<int> red{0};
    runInParallel(3, [&](int thread) {
        const QImage picture =
            renderer.capture(site.url(QStringLiteral("/red?after%1").arg(thread)));
        red += !picture.isNull() && isStrongRed(dominantColour(picture));
        std::lock_guard lock(seenMutex);
        browsersSeen.insert(renderer.browserProcessId());
    });
    EXPECT_EQ(red, 3);
    EXPECT_EQ(browsersSeen.size(), 1);
    EXPECT_FALSE(browsersSeen.contains(first));
}

TEST_F(ParallelCapturesTest, ShutDownEndsEveryCaptureInProgressAtOnce) {
    auto gate = std::make_shared<Gate>();
    setGateRoute(site, "/hold", gate);
    renderer.setTimeouts(60000, 5000);
    ASSERT_TRUE(renderer.start());
    std::atomic<int> ended{0};
    std::atomic<bool> shut{false};
    QElapsedTimer sinceShutDown;
    std::atomic<qint64> slowest{0};
    runInParallel(5, [&](int thread) {
        if (thread == 4) {
            if (gate->waitForArrivals(3, 15000)) {
                sinceShutDown.start();
                shut = true;
                renderer.shutDown();
            }
            return;
        }
        // The fourth waits for a free tab, and must not get one after the shut-down.
        const QImage picture = renderer.capture(site.url(QStringLiteral("/hold?%1").arg(thread)));
        ended += picture.isNull();
        if (shut)
            slowest = qMax<qint64>(slowest, sinceShutDown.elapsed());
    });
    ASSERT_TRUE(shut) << "the three captures never ran at once";
    EXPECT_EQ(ended, 4);
    EXPECT_LT(slowest, 5000);
    EXPECT_TRUE(renderer.capture(site.url("/red")).isNull());
}

// One tab, used again and again: a navigation that never shows a document
// of its own (a server that never answers, a download) gives the picture of
// an empty page, not the red page the tab showed before.
TEST_F(ParallelCapturesTest, AKeptTabNeverShowsItsPreviousPage) {
    renderer.setMaxParallelCaptures(1);
    renderer.setTimeouts(1500, 5000);
    setHangingRoute(site, "/never-answers");
    site.setRawRoute("/file.zip",
                     TestSite::response(200, "application/zip", QByteArray(4096, 'z'),
                                        "Content-Disposition: attachment; filename=file.zip\r\n"));
    ASSERT_TRUE(renderer.start());
    for (const char* route : {"/never-answers", "/file.zip", "/status/204"}) {
        SCOPED_TRACE(route);
        const QImage before = renderer.capture(site.url("/red"));
        ASSERT_FALSE(before.isNull());
        ASSERT_TRUE(isStrongRed(dominantColour(before)));
        const QImage after = renderer.capture(site.url(route));
        ASSERT_FALSE(after.isNull());
        EXPECT_TRUE(catalogue::IsBlankPicture(after));
    }
    // A fragment of the page just shown is that page, and loads at once.
    const QImage red = renderer.capture(site.url("/red#top"));
    const QImage again = renderer.capture(site.url("/red#bottom"));
    ASSERT_FALSE(again.isNull());
    EXPECT_TRUE(isStrongRed(dominantColour(again)));
}

// A tab whose page process died is replaced; the browser goes on.
TEST_F(ParallelCapturesTest, ATabWhosePageProcessDiedIsReplaced) {
    renderer.setMaxParallelCaptures(1);
    ASSERT_TRUE(renderer.start());
    ASSERT_TRUE(isStrongRed(dominantColour(renderer.capture(site.url("/red")))));
    const pid_t browser = renderer.browserProcessId();
    const QList<int> pageProcesses = rendererProcessesOf(browser);
    ASSERT_FALSE(pageProcesses.isEmpty());
    for (int pid : pageProcesses)
        ::kill(pid, SIGKILL);
    QThread::msleep(200);
    QImage blue = renderer.capture(site.url("/blue"));
    if (blue.isNull()) // the crash was noticed by this capture, which ends without a picture
        blue = renderer.capture(site.url("/blue"));
    ASSERT_FALSE(blue.isNull());
    EXPECT_TRUE(isStrongBlue(dominantColour(blue)));
    EXPECT_EQ(renderer.browserProcessId(), browser);
}

// Pages share page processes: when the one under a page ends while the page
// loads (another page stuck in it was ended), that page is captured again.
TEST_F(ParallelCapturesTest, APageWhoseProcessEndsWhileItLoadsIsCapturedAgain) {
    renderer.setMaxParallelCaptures(1);
    ASSERT_TRUE(renderer.start());
    const pid_t browser = renderer.browserProcessId();
    std::atomic<int> asked{0};
    site.setRoute("/ended-once", [&](const TestSite::Request& request,
                                     TestSite::Connection& connection) {
        if (requestFromBrowser(request) && asked++ == 0) {
            for (int pid : rendererProcessesOf(browser))
                ::kill(pid, SIGKILL);
            QThread::msleep(300); // the browser tells of the end before the page comes
        }
        connection.send(TestSite::response(200, "text/html", kBluePage));
    });
    const QImage blue = renderer.capture(site.url("/ended-once"));
    EXPECT_GE(asked, 2);
    ASSERT_FALSE(blue.isNull());
    EXPECT_TRUE(isStrongBlue(dominantColour(blue)));
    EXPECT_EQ(renderer.browserProcessId(), browser);
}

// The browser scales the picture: same size as a full capture scaled into
// the card, flat colours kept exactly, edges blended smoothly.
TEST_F(ParallelCapturesTest, ThePictureKeepsTheCardsSizeAndColours) {
    const QImage full(1024, 768, QImage::Format_RGB32);
    EXPECT_EQ(PageRenderer::scaleToThumbnail(full).size(), QSize(122, 91));

    site.setRawRoute("/halves",
                     TestSite::response(200, "text/html",
                                        "<html><body style=\"margin:0\">"
                                        "<div style=\"height:384px;background:#e00000\"></div>"
                                        "<div style=\"height:384px;background:#0000e0\"></div>"
                                        "</body></html>"));
    ASSERT_TRUE(renderer.start());
    const QImage picture = renderer.capture(site.url("/halves"));
    ASSERT_EQ(picture.size(), QSize(122, 91));
    EXPECT_EQ(picture.format(), QImage::Format_RGB32);
    EXPECT_EQ(picture.pixel(60, 10) & 0xffffff, 0xe00000u);
    EXPECT_EQ(picture.pixel(60, 80) & 0xffffff, 0x0000e0u);
    // The border between the halves falls inside a row: that row is a blend.
    int blended = 0;
    for (int y = 0; y < picture.height(); ++y) {
        const QRgb colour = picture.pixel(60, y) & 0xffffff;
        blended += colour != 0xe00000u && colour != 0x0000e0u;
    }
    EXPECT_GE(blended, 1);
    EXPECT_LE(blended, 2);
}

} // namespace
