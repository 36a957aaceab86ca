// What the page renderer may leave behind: a browser that outlives the
// program, and profile folders in the temporary folder. A stand-in browser
// that ignores its pipe and only sleeps shows what the renderer itself
// guarantees.
#include "catalogue/page_renderer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

using catalogue::PageRenderer;

namespace {

// A "browser" that reads nothing and never ends by itself.
QString sleepingBrowser(const QTemporaryDir& dir) {
    const QString path = dir.filePath("sleeping-browser");
    QFile script(path);
    EXPECT_TRUE(script.open(QIODevice::WriteOnly));
    // A shell that stays, so its command line keeps the arguments it got.
    script.write("#!/bin/sh\nwhile :; do sleep 1; done\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

bool processRuns(pid_t pid) {
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close >= 0 && text.mid(close + 2, 1) != "Z";
}

bool waitUntilGone(pid_t pid, int timeoutMs) {
    QElapsedTimer waited;
    waited.start();
    while (processRuns(pid) && waited.elapsed() < timeoutMs)
        QThread::msleep(20);
    return !processRuns(pid);
}

} // namespace

TEST(RendererLeftovers, TheBrowserEndsWithTheProgramEvenAfterKill9) {
    QTemporaryDir dir;
    const QString browser = sleepingBrowser(dir);
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t program = ::fork();
    ASSERT_GE(program, 0);
    if (program == 0) {
        // The "program": starts its browser, says which, then waits to be killed.
        ::close(report[0]);
        PageRenderer renderer;
        renderer.setBrowserPath(browser);
        const pid_t started = renderer.start() ? renderer.browserProcessId() : 0;
        [[maybe_unused]] const ssize_t written = ::write(report[1], &started, sizeof started);
        ::pause();
        ::_exit(0);
    }
    ::close(report[1]);
    pid_t browserPid = 0;
    ASSERT_EQ(::read(report[0], &browserPid, sizeof browserPid), ssize_t(sizeof browserPid));
    ::close(report[0]);
    ASSERT_GT(browserPid, 0);
    EXPECT_TRUE(processRuns(browserPid));

    ::kill(program, SIGKILL);
    int status = 0;
    ::waitpid(program, &status, 0);
    const bool gone = waitUntilGone(browserPid, 5000);
    if (!gone)
        ::kill(browserPid, SIGKILL);
    EXPECT_TRUE(gone);
    PageRenderer::removeStaleProfiles(); // the killed program's profile
}

TEST(RendererLeftovers, ProfilesOfEndedProgramsGoAndThoseInUseStay) {
    QTemporaryDir dir;
    PageRenderer live;
    live.setBrowserPath(sleepingBrowser(dir));
    ASSERT_TRUE(live.start());
    const pid_t browser = live.browserProcessId();
    QString liveProfile;
    for (const QString& argument : QString::fromLocal8Bit([&] {
                                       QFile cmdline(QString("/proc/%1/cmdline").arg(browser));
                                       return cmdline.open(QIODevice::ReadOnly) ? cmdline.readAll()
                                                                                : QByteArray();
                                   }())
                                       .split(QChar('\0')))
        if (argument.startsWith("--user-data-dir="))
            liveProfile = argument.mid(16);
    ASSERT_FALSE(liveProfile.isEmpty());
    ASSERT_TRUE(QDir(liveProfile).exists());

    // Left by a program that ended: its lock file is held by nobody.
    const QString temp = QDir::tempPath() + "/";
    const QString ended = temp + "pagorama-browser-endedAB";
    QDir().mkpath(ended + "/Default");
    QFile lock(ended + "/.owner-lock");
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.close();
    // Just being made by another copy: no lock file yet, and new.
    const QString fresh = temp + "pagorama-browser-freshCD";
    QDir().mkpath(fresh);
    // Held by a program that still runs (here another open of a lock).
    const QString held = temp + "pagorama-browser-heldEF";
    QDir().mkpath(held);
    QFile heldLock(held + "/.owner-lock");
    ASSERT_TRUE(heldLock.open(QIODevice::WriteOnly));
    ASSERT_EQ(::flock(heldLock.handle(), LOCK_EX), 0);

    PageRenderer::removeStaleProfiles();
    EXPECT_FALSE(QFileInfo::exists(ended));
    EXPECT_TRUE(QFileInfo::exists(fresh));
    EXPECT_TRUE(QFileInfo::exists(held));
    EXPECT_TRUE(QFileInfo::exists(liveProfile));
    EXPECT_TRUE(live.isRunning());

    heldLock.close();
    QDir(held).removeRecursively();
    QDir(fresh).removeRecursively();
    live.stop();
    EXPECT_FALSE(QFileInfo::exists(liveProfile));
}

TEST(RendererLeftovers, AfterShutDownNoCaptureStartsABrowser) {
    QTemporaryDir dir;
    PageRenderer renderer;
    renderer.setBrowserPath(sleepingBrowser(dir));
    ASSERT_TRUE(renderer.start());
    const pid_t browser = renderer.browserProcessId();
    renderer.shutDown();
    QElapsedTimer took;
    took.start();
    EXPECT_TRUE(renderer.capture("http://127.0.0.1:9/").isNull());
    EXPECT_LT(took.elapsed(), 2000);
    EXPECT_FALSE(renderer.start());
    renderer.stop();
    EXPECT_TRUE(waitUntilGone(browser, 5000));
}
