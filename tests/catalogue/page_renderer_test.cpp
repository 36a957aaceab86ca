// The page renderer against a real headless Chromium and a local test site.
#include "catalogue/page_renderer.h"
#include "catalogue/placeholder.h"
#include "support/loopback_site.h"
#include "support/snapshot_site.h"
#include "support/temp_home.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <future>
#include <mutex>
#include <sched.h>
#include <thread>

using catalogue::PageRenderer;
using namespace testsupport;

namespace {

// The live (not zombie) processes of a process group.
QList<int> liveProcessesInGroup(int group) {
    QList<int> found;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool isPid = false;
        const int pid = entry.toInt(&isPid);
        if (!isPid)
            continue;
        QFile statFile(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!statFile.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = statFile.readAll();
        // pid (name) state ppid pgrp ...: the name may hold blanks.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields[0] != "Z" && fields[2].toInt() == group)
            found << pid;
    }
    return found;
}

// A group killed with SIGKILL is gone once the system has delivered the
// signal to each of its processes, which may take a moment on a busy machine.
bool groupEnds(int group) {
    const QDeadlineTimer deadline(3000);
    while (!liveProcessesInGroup(group).isEmpty()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

QByteArray profileFolderOf(int pid) {
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!cmdline.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& arg : cmdline.readAll().split('\0'))
        if (arg.startsWith("--user-data-dir="))
            return arg.mid(16);
    return {};
}

QByteArray commandLineOf(int pid) {
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    return cmdline.open(QIODevice::ReadOnly) ? cmdline.readAll().replace('\0', ' ') : QByteArray();
}

// Live processes whose command line names the folder, whatever their group.
QList<int> liveProcessesNaming(const QByteArray& folder) {
    QList<int> found;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const int pid = entry.toInt(&isPid);
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (isPid && cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(folder))
            found << pid;
    }
    return found;
}

bool hasExited(int pid) {
    QFile statFile(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!statFile.open(QIODevice::ReadOnly))
        return true;
    const QByteArray stat = statFile.readAll();
    return stat.mid(stat.lastIndexOf(')') + 2, 1) == "Z";
}

class PageRendererTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (PageRenderer::findBrowser().isEmpty())
            FAIL() << "Chromium is not installed (scripts/packages.txt names it)";
        renderer.setTimeouts(3000, 5000);
        site.setRawRoute("/red-news", TestSite::response(200, "text/html", kRedPage));
    }

    TestSite site;
    PageRenderer renderer;
};

TEST_F(PageRendererTest, CapturesThePageScaledIntoTheCardKeepingProportions) {
    ASSERT_TRUE(renderer.start());
    const QImage colour = renderer.capture(site.url("/red-news"));
    ASSERT_FALSE(colour.isNull());
    EXPECT_EQ(colour.width(), 122);
    EXPECT_EQ(colour.height(), 91); // 1024 x 768 scaled into 122 x 122
    EXPECT_TRUE(isStrongRed(dominantColour(colour)));
    EXPECT_FALSE(catalogue::IsBlankPicture(colour));

    // A page that opens an alert box while loading is answered and captured.
    site.setRawRoute("/alert", TestSite::response(200, "text/html",
                                                  "<html><body style=\"background:#e00000\">"
                                                  "<h1>Alert</h1><script>alert('hello');</script>"
                                                  "</body></html>"));
    const QImage alert = renderer.capture(site.url("/alert"));
    ASSERT_FALSE(alert.isNull());
    EXPECT_TRUE(isStrongRed(dominantColour(alert)));

    const QImage blank = renderer.capture(site.url("/blank"));
    ASSERT_FALSE(blank.isNull());
    EXPECT_TRUE(catalogue::IsBlankPicture(blank));
}

// With one capture at a time every page shares one renderer process: a page
// stuck in its script must not take the pages after it down with it.
TEST_F(PageRendererTest, PagesThatMisbehaveEndWithinTheWaitAndTheNextCaptureWorks) {
    setHangingRoute(site, "/never-loads");
    setScriptLoopRoute(site, "/script-loop");
    setTimerLoopRoute(site, "/timer-loop");
    setHugeRoute(site, "/huge");

    renderer.setMaxParallelCaptures(1);
    // A new page process after an ended one needs a moment on a busy machine.
    renderer.setTimeouts(6000, 5000);
    ASSERT_TRUE(renderer.start());
    const pid_t browser = renderer.browserProcessId();
    for (const char* route : {"/never-loads", "/script-loop", "/timer-loop", "/huge"}) {
        SCOPED_TRACE(route);
        const QImage misbehaving = renderer.capture(site.url(route));
        if (!misbehaving.isNull()) {
            EXPECT_EQ(misbehaving.width(), 122);
        }
        const QImage next = renderer.capture(site.url("/red-news"));
        ASSERT_FALSE(next.isNull());
        EXPECT_TRUE(isStrongRed(dominantColour(next)));
    }
    EXPECT_EQ(renderer.browserProcessId(), browser); // a stuck page ends alone
}

TEST_F(PageRendererTest, BrowserKilledDuringACaptureIsStartedAgainForTheNext) {
    std::promise<void> asked;
    setHangingRoute(site, "/hold", [&asked] { asked.set_value(); });
    ASSERT_TRUE(renderer.start());
    const pid_t first = renderer.browserProcessId();
    ASSERT_GT(first, 0);

    std::thread killer([&] {
        asked.get_future().wait();
        ::kill(first, SIGKILL);
    });
    const QImage during = renderer.capture(site.url("/hold"));
    killer.join();
    EXPECT_TRUE(during.isNull());

    const QImage next = renderer.capture(site.url("/red-news"));
    ASSERT_FALSE(next.isNull());
    EXPECT_TRUE(isStrongRed(dominantColour(next)));
    EXPECT_NE(renderer.browserProcessId(), first);
}

TEST_F(PageRendererTest, StopLeavesNoBrowserProcessNorProfile) {
    pid_t group = 0;
    QByteArray profile;
    {
        PageRenderer scoped;
        ASSERT_FALSE(scoped.capture(site.url("/red-news")).isNull()); // starts on demand
        group = scoped.browserProcessId();
        profile = profileFolderOf(group);
        ASSERT_FALSE(profile.isEmpty());
        ASSERT_FALSE(liveProcessesInGroup(group).isEmpty());
        // A helper outside the group (such as a crash handler) would outlive
        // the stop and could write into the profile after its removal.
    } // the destructor stops it
    EXPECT_TRUE(groupEnds(group));
    // Also the helpers outside the group (the crash handler), which could
    // otherwise make the profile folder again after its removal.
    for (int pid : liveProcessesNaming(profile))
        EXPECT_TRUE(hasExited(pid) || commandLineOf(pid).isEmpty())
            << commandLineOf(pid).constData();
    EXPECT_FALSE(QFileInfo::exists(QString::fromLocal8Bit(profile)));

    ASSERT_FALSE(renderer.capture(site.url("/red-news")).isNull());
    group = renderer.browserProcessId();
    profile = profileFolderOf(group);
    renderer.stop();
    EXPECT_FALSE(renderer.isRunning());
    EXPECT_TRUE(groupEnds(group));
    EXPECT_FALSE(QFileInfo::exists(QString::fromLocal8Bit(profile)));
}

TEST_F(PageRendererTest, DownloadsLeaveNoFiles) {
    testsupport::TempHome home; // the browser's download folder lies below HOME
    PageRenderer scoped;
    scoped.setTimeouts(3000, 5000);
    ASSERT_TRUE(scoped.start());
    site.setRawRoute(
        "/report.zip",
        TestSite::response(200, "application/zip", QByteArray(4096, 'z'),
                           "Content-Disposition: attachment; filename=report.zip\r\n"));
    scoped.capture(site.url("/report.zip"));
    scoped.stop();
    QStringList written;
    QDirIterator it(home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        written << it.next();
    EXPECT_TRUE(written.filter("report").isEmpty()) << written.join(' ').toStdString();
}

TEST_F(PageRendererTest, WithoutABrowserThereIsNoCapture) {
    renderer.setBrowserPath(QStringLiteral("/nonexistent/chromium"));
    EXPECT_FALSE(renderer.start());
    EXPECT_TRUE(renderer.capture(site.url("/blank")).isNull());
    EXPECT_FALSE(renderer.isRunning());
}

// A browser that died is started again by the renderer's own thread, so it
// does not inherit the idle scheduling of the worker that captures.
TEST_F(PageRendererTest, RestartFromAnIdleWorkerRunsAtNormalScheduling) {
    ASSERT_TRUE(renderer.start());
    const pid_t first = renderer.browserProcessId();
    ::kill(first, SIGKILL);
    while (!hasExited(first))
        QThread::msleep(10);

    int workerPolicy = -1;
    pid_t restarted = 0;
    QImage shot;
    QThread* worker = QThread::create([&] {
        workerPolicy = sched_getscheduler(0);
        shot = renderer.capture(site.url("/red-news"));
        restarted = renderer.browserProcessId();
    });
    QEventLoop loop;
    QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker->start(QThread::IdlePriority);
    loop.exec();
    delete worker;

    EXPECT_EQ(workerPolicy, SCHED_IDLE);
    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(isStrongRed(dominantColour(shot)));
    ASSERT_GT(restarted, 0);
    EXPECT_NE(restarted, first);
    EXPECT_EQ(sched_getscheduler(restarted), SCHED_OTHER);
}

} // namespace

// The renderer processes below the browser's (a page is drawn in one).
QSet<int> rendererProcessesBelow(int pid) {
    QSet<int> found;
    QList<int> below{pid};
    for (int i = 0; i < below.size(); ++i) {
        QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(below[i]));
        if (children.open(QIODevice::ReadOnly))
            for (const QByteArray& word : children.readAll().split(' '))
                if (!word.trimmed().isEmpty())
                    below << word.trimmed().toInt();
        if (i > 0 && commandLineOf(below[i]).contains("--type=renderer"))
            found.insert(below[i]);
    }
    return found;
}

// Shared by default; the way of a browser for everyday use, a process per
// site, stays for comparisons: the pictures are the same pixel for pixel.
TEST_F(PageRendererTest, SitesShareAFewRenderersAndThePicturesStayTheSame) {
    testsupport::LoopbackSite sites({6, 0, {}});
    const auto captureEach = [&](bool perSite, QSet<int>* renderers) {
        PageRenderer each;
        each.setTimeouts(5000, 5000);
        each.setMaxParallelCaptures(2);
        if (perSite)
            each.setSharedRenderers(false); // shared is the default
        QList<QImage> pictures;
        if (!each.start())
            return pictures;
        for (int address = 1; address <= 6; ++address) {
            pictures << each.capture(sites.url(address, QStringLiteral("/page/%1").arg(address)));
            *renderers += rendererProcessesBelow(int(each.browserProcessId()));
        }
        return pictures;
    };
    QSet<int> perSiteRenderers, sharedRenderers;
    const QList<QImage> perSite = captureEach(true, &perSiteRenderers);
    const QList<QImage> shared = captureEach(false, &sharedRenderers);
    ASSERT_EQ(perSite.size(), 6);
    for (int i = 0; i < 6; ++i) {
        ASSERT_FALSE(perSite[i].isNull()) << i;
        EXPECT_EQ(shared[i], perSite[i]) << "site " << i + 1;
    }
    std::printf("renderer processes for 6 sites: %lld one per site, %lld shared\n",
                static_cast<long long>(perSiteRenderers.size()),
                static_cast<long long>(sharedRenderers.size()));
    EXPECT_GE(perSiteRenderers.size(), 6);
    EXPECT_LE(sharedRenderers.size(), 2);
}

// Shared processes that drew many pages keep what they loaded: after a
// while they end and fresh ones draw the pages, in the same browser, and a
// page looks the same pixel for pixel.
TEST_F(PageRendererTest, SharedRendererProcessesEndAfterManyPages) {
    testsupport::LoopbackSite sites({6, 0, {}});
    renderer.setMaxParallelCaptures(2);
    ASSERT_TRUE(renderer.start());
    const int browser = int(renderer.browserProcessId());
    const QString firstPage = sites.url(1, QStringLiteral("/page/1"));
    const QImage first = renderer.capture(firstPage);
    ASSERT_FALSE(first.isNull());
    const QSet<int> early = rendererProcessesBelow(browser);
    ASSERT_FALSE(early.isEmpty());
    const auto allEnded = [&early] {
        return std::all_of(early.begin(), early.end(), [](int pid) { return hasExited(pid); });
    };
    int pages = 1;
    for (; pages < 200 && !allEnded(); ++pages) {
        const QString page = sites.url(1 + pages % 6, QStringLiteral("/page/%1").arg(pages));
        ASSERT_FALSE(renderer.capture(page).isNull()) << page.toStdString();
    }
    EXPECT_TRUE(allEnded()) << "not all ended in " << pages << " pages";
    std::printf("the first renderer processes ended after %d pages\n", pages);
    EXPECT_EQ(int(renderer.browserProcessId()), browser);
    EXPECT_EQ(renderer.capture(firstPage), first);
}
