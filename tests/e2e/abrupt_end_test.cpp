// The program killed in the middle of a run (kill -9), also with its data
// folder on a full file system: no browser process outlives it, the next
// start removes what it left (browser profile, temporary files), the
// catalogue is always a complete well-formed one, no favourite is lost, and
// pages are served again.
#include "catalogue_reader.h"
#include "data_folder.h"
#include "program_run.h"
#include "support/http_test_client.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

using e2e::ProgramRun;
using testsupport::TempHome;
using testsupport::TestSite;

namespace {

QByteArray readProcFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Live processes (zombies do not count) started with this HOME, other than
// this test itself.
QList<int> processesOfHome(const QString& home) {
    QList<int> found;
    const QByteArray wanted = "HOME=" + QFile::encodeName(home) + '\0';
    for (const QString& name : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const int pid = name.toInt(&number);
        if (!number || pid == ::getpid())
            continue;
        const QByteArray stat = readProcFile("/proc/" + name + "/stat");
        const qsizetype close = stat.lastIndexOf(')');
        if (close < 0 || stat.mid(close + 2, 1) == "Z")
            continue;
        if (('\0' + readProcFile("/proc/" + name + "/environ")).contains('\0' + wanted))
            found << pid;
    }
    return found;
}

// The browser profile folder named on a process's command line, if any.
QString profileOf(int pid) {
    for (const QByteArray& argument :
         readProcFile(QString("/proc/%1/cmdline").arg(pid)).split('\0'))
        if (argument.startsWith("--user-data-dir="))
            return QFile::decodeName(argument.mid(16));
    return {};
}

QStringList temporaryFilesIn(const QString& folder) {
    return QDir(folder).entryList({"*.partial-*"}, QDir::Files | QDir::Hidden);
}

bool runCommand(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

TEST(AbruptEnd, KilledMidCaptureLeavesNoBrowserAndTheNextStartRemovesItsLeftovers) {
    TempHome home;
    TestSite site;
    // The browser's request for the page never gets an answer, so the
    // capture is in progress when the program is killed.
    home.write("Favorites/Slow.url", e2e::shortcutText(site.url("/stall-for-browsers")));
    const quint16 port = e2e::freePort();
    ProgramRun program(home);
    program.writeSettings(e2e::settingsText(port, "New_Only=0\r\n"));
    program.start();
    const bool browserAsked =
        ProgramRun::waitUntil([&] { return site.browserRequestCount() > 0; }, 60000);
    if (!browserAsked)
        FAIL() << "no browser took the page\n"
                     << qPrintable(program.stderrText());

    const int programPid = int(program.process().processId());
    QList<int> helpers = processesOfHome(home.path());
    helpers.removeAll(programPid);
    ASSERT_FALSE(helpers.isEmpty());
    QString profile;
    for (int pid : helpers)
        if (profile.isEmpty())
            profile = profileOf(pid);
    ASSERT_FALSE(profile.isEmpty());
    EXPECT_TRUE(QFileInfo(profile).isDir());

    ::kill(programPid, SIGKILL);
    ASSERT_TRUE(program.process().waitForFinished(5000));
    // Every browser process ends with the program.
    EXPECT_TRUE(
        ProgramRun::waitUntil([&] { return processesOfHome(home.path()).isEmpty(); }, 15000))
        << processesOfHome(home.path()).size() << " processes still running";
    // Nothing in the user's own browser folders.
    EXPECT_FALSE(QFileInfo::exists(home.path() + "/.config/chromium"));

    // Temporary files of writes the kill interrupted.
    home.write("Documents/pagorama/.listings.xml.partial-Ab12Cd", "<?xml half");
    home.write("Documents/pagorama/.view.htm.partial-Zz9999", "<html half");
    home.write("Documents/pagorama/images/.2020203248.BMP.partial-x1y2z3", "BM");
    home.write(".config/pagorama/.pagorama.ini.partial-000000", "[Data");

    ProgramRun next(home);
    next.start();
    ASSERT_TRUE(next.waitForStderr("Found 1 web favourites.", 60000))
        << qPrintable(next.stderrText());
    // Another copy of the program starting at the same moment may have
    // claimed the folder first and still be removing it.
    EXPECT_TRUE(ProgramRun::waitUntil([&] { return !QFileInfo::exists(profile); }, 10000))
        << qPrintable(profile);
    for (const char* leftover : {"Documents/pagorama/.listings.xml.partial-Ab12Cd",
                                 "Documents/pagorama/.view.htm.partial-Zz9999",
                                 "Documents/pagorama/images/.2020203248.BMP.partial-x1y2z3",
                                 ".config/pagorama/.pagorama.ini.partial-000000"})
        EXPECT_FALSE(QFileInfo::exists(home.path() + '/' + leftover)) << leftover;
    EXPECT_EQ(next.terminate(), 0) << qPrintable(next.stderrText());
    // A normal end leaves no browser and no profile either.
    EXPECT_TRUE(
        ProgramRun::waitUntil([&] { return processesOfHome(home.path()).isEmpty(); }, 10000));
}

// The data folder on a small file system that fills up, and the program
// killed at different moments of a run.
TEST(AbruptEnd, FullDataFolderAndKillsMidRunNeverBreakTheCatalogue) {
    TempHome home;
    TestSite site;
    const QString documents = home.path() + "/Documents";
    QDir().mkpath(documents);
    if (::geteuid() != 0 ||
        !runCommand("mount", {"-t", "tmpfs", "-o", "size=3m", "tmpfs", documents}))
        GTEST_SKIP() << "cannot mount a small file system here (needs root and mount rights)";
    struct Unmount {
        QString path;
        ~Unmount() { runCommand("umount", {"-l", path}); }
    } unmount{documents};

    QMap<QString, QByteArray> favourites;
    for (const char* name : {"Alpha", "Beta", "Gamma", "News/Delta"}) {
        const QByteArray text = e2e::shortcutText(site.url("/title"));
        home.write(QString("Favorites/%1.url").arg(name), text);
        favourites.insert(QString("Favorites/%1.url").arg(name), text);
    }
    const quint16 port = e2e::freePort();
    {
        ProgramRun first(home);
        first.writeSettings(e2e::settingsText(port, "New_Only=0\r\n"));
        first.start();
        ASSERT_TRUE(first.waitForStderr("All Done", 180000)) << qPrintable(first.stderrText());
        ASSERT_EQ(first.terminate(), 0);
    }

    // Fills the file system up to the given room left; a run may have freed some.
    int fillers = 0;
    const auto fillUp = [&](qint64 roomLeft) {
        const QString filler = home.dataFolder() + QString("filler%1").arg(fillers++);
        runCommand("sh", {"-c", "dd if=/dev/zero of='" + filler + "' bs=4k 2>/dev/null; true"});
        ASSERT_TRUE(QFile::resize(filler, qMax<qint64>(0, QFileInfo(filler).size() - roomLeft)));
    };
    for (int delayMs : {300, 1200, 2500}) {
        fillUp(16 * 1024);
        ProgramRun program(home);
        program.start();
        ASSERT_TRUE(program.waitForStderr("Found 4 web favourites.", 60000))
            << qPrintable(program.stderrText());
        QThread::msleep(delayMs);
        program.process().kill();
        ASSERT_TRUE(program.process().waitForFinished(5000));

        QString error;
        const auto folders =
            e2e::readCatalogue(home.read("Documents/pagorama/listings.xml"), &error);
        EXPECT_TRUE(error.isEmpty()) << delayMs << ": " << qPrintable(error);
        int links = 0;
        for (const auto& folder : folders)
            links += int(folder.links.size());
        EXPECT_EQ(links, 4) << delayMs;
        for (auto it = favourites.cbegin(); it != favourites.cend(); ++it)
            EXPECT_EQ(home.read(it.key()), it.value()) << qPrintable(it.key());
        for (const QString& picture : e2e::picturesShownByPages(home))
            EXPECT_TRUE(QFile::exists(home.dataFolder() + picture))
                << delayMs << ": " << qPrintable(picture);
    }

    // A run that cannot store every picture, with room for one or two or
    // none at all, says so and keeps the catalogue and what the pages show.
    for (qint64 room : {qint64(48 * 1024), qint64(0)}) {
        fillUp(room);
        const QByteArray catalogue = home.read("Documents/pagorama/listings.xml");
        ProgramRun program(home);
        program.start();
        ASSERT_TRUE(program.waitForStderr("Refresh failed: cannot store the picture", 180000))
            << room << qPrintable(program.stderrText());
        ASSERT_EQ(program.terminate(), 0);
        EXPECT_EQ(home.read("Documents/pagorama/listings.xml"), catalogue) << room;
        const QStringList shown = e2e::picturesShownByPages(home);
        EXPECT_EQ(shown.size(), 4) << room;
        for (const QString& picture : shown)
            EXPECT_TRUE(QFile::exists(home.dataFolder() + picture)) << qPrintable(picture);
    }

    // With room again, the next start serves the pages and completes a run.
    for (int filler = 0; filler < fillers; ++filler)
        ASSERT_TRUE(QFile::remove(home.dataFolder() + QString("filler%1").arg(filler)));
    ProgramRun last(home);
    last.start();
    ASSERT_TRUE(last.waitForStderr("All Done", 180000)) << qPrintable(last.stderrText());
    const auto view = testsupport::fetch(port, "GET /view.htm HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(view.statusLine.contains(" 200")) << view.statusLine.constData();
    EXPECT_TRUE(temporaryFilesIn(home.dataFolder()).isEmpty());
    EXPECT_EQ(last.terminate(), 0);
}
