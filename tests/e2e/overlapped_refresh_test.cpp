// The whole program refreshing with the waits of many favourites
// overlapped: the catalogue and pictures are those of a run one favourite
// at a time, no server gets more than two connections at once, a cancel
// ends the run after the favourite in progress with nothing ahead going on,
// and a close ends the program within seconds.
#include "catalogue_reader.h"
#include "picture_colour.h"
#include "program_command.h"
#include "program_run.h"
#include "support/loopback_site.h"
#include "support/temp_home.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QThread>
#include <gtest/gtest.h>

using e2e::ProgramRun;
using testsupport::LoopbackSite;
using testsupport::TempHome;

namespace {

// The main colour of every favourite's picture, by description.
QHash<QString, QRgb> pictureColours(const TempHome& home,
                                    const QList<e2e::CatalogueFolder>& folders) {
    QHash<QString, QRgb> colours;
    for (const e2e::CatalogueFolder& folder : folders)
        for (const e2e::CatalogueLink& link : folder.links) {
            QString relative = link.value("IMAGE");
            relative.replace('\\', '/');
            const QImage image(home.dataFolder() + relative, "BMP");
            colours.insert(folder.location + "/" + link.value("DESCRIPTION"),
                           image.isNull() ? 0 : e2e::mainColour(image).rgb());
        }
    return colours;
}

QStringList temporaryShortcuts(const TempHome& home) {
    QStringList found;
    QDir favorites(home.favorites());
    for (const QString& folder : favorites.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        found << QDir(favorites.filePath(folder)).entryList({"temp*"}, QDir::Files);
    return found << favorites.entryList({"temp*"}, QDir::Files);
}

class OverlappedRefresh : public ::testing::Test {
protected:
    ~OverlappedRefresh() override { qunsetenv("PAGORAMA_ONE_AT_A_TIME"); }

    void add(const QString& path, const QString& url) {
        home.write("Favorites/" + path, e2e::shortcutText(url));
    }
    // Starts the program, which refreshes at once, with or without overlap.
    void start(ProgramRun& program, bool oneAtATime) {
        if (oneAtATime)
            qputenv("PAGORAMA_ONE_AT_A_TIME", "1");
        else
            qunsetenv("PAGORAMA_ONE_AT_A_TIME");
        program.writeSettings(e2e::settingsText(port, "SortBy=0\r\n"));
        program.start();
    }
    QStringList picturesOnDisk() const {
        return QDir(home.dataFolder() + "images").entryList({"*.BMP"}, QDir::Files);
    }
    // The compressed copies (small and large) whose BMP is gone.
    QStringList copiesWithoutTheirPicture() const {
        const QDir images(home.dataFolder() + "images");
        QStringList orphans;
        for (const QString& copy : images.entryList({"*.png"}, QDir::Files))
            if (!images.exists(copy.section('.', 0, 0) + ".BMP"))
                orphans << copy;
        return orphans;
    }

    TempHome home;
    const quint16 port = e2e::freePort();
};

} // namespace

TEST_F(OverlappedRefresh, GivesTheCatalogueAndPicturesOfARunOneAtATime) {
    // Folder A holds slow favourites, so work ahead reaches folder B (and
    // writes the temporary shortcut of its redirected favourite there)
    // before the run lists B.
    LoopbackSite slow({2, 700, {}});
    LoopbackSite site({4, 30, {}});
    add("Top.url", site.url(1, "/page/7"));
    add("A/Slow.url", slow.url(1, "/plain/1"));
    add("A/Slow2.url", slow.url(2, "/plain/2"));
    add("B/Moved.url", slow.url(1, "/redirect/3"));
    add("B/Same.url", site.url(1, "/page/4"));
    add("B/Archive.url", site.url(2, "/file/1.zip"));
    add("B/Gone.url", site.url(3, "/nothing"));
    add("C/Same.url", site.url(3, "/page/5"));
    add("C/Other.url", site.url(4, "/plain/6"));

    QByteArray catalogues[2];
    QHash<QString, QRgb> colours[2];
    for (const bool oneAtATime : {true, false}) {
        ProgramRun program(home);
        start(program, oneAtATime);
        ASSERT_TRUE(program.waitForStderr("All Done", 240000)) << qPrintable(program.stderrText());
        EXPECT_EQ(program.terminate(), 0);
        const QByteArray catalogue = home.read("Documents/pagorama/listings.xml");
        QString error;
        const auto folders = e2e::readCatalogue(catalogue, &error);
        ASSERT_TRUE(error.isEmpty()) << qPrintable(error);
        catalogues[oneAtATime ? 0 : 1] = e2e::withoutRunMarks(catalogue);
        colours[oneAtATime ? 0 : 1] = pictureColours(home, folders);
        EXPECT_TRUE(temporaryShortcuts(home).isEmpty());
    }
    EXPECT_EQ(catalogues[1].toStdString(), catalogues[0].toStdString());
    EXPECT_TRUE(catalogues[1].contains("DESCRIPTION=\"Moved\""));
    EXPECT_FALSE(catalogues[1].contains("temp")) << "a temporary shortcut is no favourite";
    EXPECT_EQ(colours[1], colours[0]);
    EXPECT_EQ(colours[1].value("A/Slow"), qRgb(0x00, 0xa0, 0x00) | 0xff000000);
}

TEST_F(OverlappedRefresh, CancelEndsTheRunAtOnceWithNothingAheadGoingOn) {
    LoopbackSite site({8, 600, {}});
    for (int i = 0; i < 40; ++i)
        add(QStringLiteral("Many/F%1.url").arg(i, 2, 10, QLatin1Char('0')),
            site.url(1 + i % 8, QStringLiteral("/plain/%1").arg(i)));
    ProgramRun program(home);
    start(program, false);
    ASSERT_TRUE(program.waitForStderr("Found 40 web favourites.", 60000));
    QThread::msleep(4000);
    const e2e::CommandResult cancel = e2e::runPagoramaCommand(home, {"--cancel"});
    EXPECT_EQ(cancel.out, "Cancelling the refresh\nRefresh cancelled\n");
    ASSERT_TRUE(program.waitForStderr("Refresh cancelled", 60000))
        << qPrintable(program.stderrText());
    const qint64 cancelledAt = site.nowMs();

    // Only the favourites the run took left anything: their trace lines
    // and pictures; those ahead left no picture and no temporary shortcut.
    const QByteArray trace = home.read(".config/pagorama/files.log");
    const int taken = int(trace.count("File = "));
    EXPECT_GE(taken, 1);
    EXPECT_LT(taken, 40);
    EXPECT_LE(picturesOnDisk().size(), taken) << picturesOnDisk().join(' ').toStdString();
    EXPECT_TRUE(copiesWithoutTheirPicture().isEmpty())
        << copiesWithoutTheirPicture().join(' ').toStdString();
    EXPECT_TRUE(temporaryShortcuts(home).isEmpty());
    EXPECT_FALSE(QFile::exists(home.dataFolder() + "listings.xml"));

    QThread::msleep(2000);
    for (const LoopbackSite::Seen& request : site.requests())
        EXPECT_LE(request.atMs, cancelledAt) << "after the cancel: " << request.path.constData();
    EXPECT_EQ(program.terminate(), 0);
}

TEST_F(OverlappedRefresh, PicturesOfDroppedWorkAheadAreNeverServedAndGoWithIt) {
    // The run waits on the slow first favourite while work ahead pictures
    // the fast ones; a cancel, a close and a kill drop that work.
    LoopbackSite slow({1, 4000, {}});
    LoopbackSite fast({4, 20, {}});
    add("A/First.url", slow.url(1, "/plain/0"));
    for (int i = 1; i <= 16; ++i)
        add(QStringLiteral("B/F%1.url").arg(i, 2, 10, QLatin1Char('0')),
            fast.url(1 + i % 4, QStringLiteral("/plain/%1").arg(i)));
    QStringList leftByTheKill;
    for (const QString end : {"cancel", "close", "kill"}) {
        SCOPED_TRACE(end.toStdString());
        QDir(home.dataFolder() + "images").removeRecursively();
        ProgramRun program(home);
        start(program, false);
        ASSERT_TRUE(program.waitForStderr("Found 17 web favourites.", 60000));
        ASSERT_TRUE(ProgramRun::waitUntil([&] { return home.stagedPictures().size() >= 3; }, 30000))
            << "no work ahead pictured";
        EXPECT_TRUE(picturesOnDisk().isEmpty()) << "pictures the run has not taken are not served";
        if (end == "kill") {
            program.process().kill();
            program.process().waitForFinished(5000);
            leftByTheKill = home.stagedPictures();
            continue;
        }
        if (end == "close") {
            EXPECT_EQ(program.terminate(5000), 0) << qPrintable(program.stderrText());
        } else {
            EXPECT_EQ(e2e::runPagoramaCommand(home, {"--cancel"}).out,
                      "Cancelling the refresh\nRefresh cancelled\n");
            ASSERT_TRUE(program.waitForStderr("Refresh cancelled", 60000))
                << qPrintable(program.stderrText());
        }
        EXPECT_TRUE(home.stagedPictures().isEmpty()) << home.stagedPictures().join(' ').toStdString();
        EXPECT_TRUE(copiesWithoutTheirPicture().isEmpty())
            << copiesWithoutTheirPicture().join(' ').toStdString();
        if (end == "cancel") {
            EXPECT_EQ(program.terminate(), 0);
        }
    }
    ASSERT_FALSE(leftByTheKill.isEmpty());
    ProgramRun program(home);
    start(program, false);
    ASSERT_TRUE(program.waitForStderr("Found 17 web favourites.", 60000));
    for (const QString& staged : leftByTheKill)
        EXPECT_FALSE(QFile::exists(staged)) << "left by a killed program: " << qPrintable(staged);
    EXPECT_EQ(program.terminate(5000), 0);
}

TEST_F(OverlappedRefresh, CloseEndsTheProgramWithinSecondsWhateverTheServersDo) {
    LoopbackSite silent({8, 0, {1, 2, 3, 4, 5, 6, 7, 8}});
    for (int i = 0; i < 30; ++i)
        add(QStringLiteral("S%1.url").arg(i),
            silent.url(1 + i % 8, QStringLiteral("/page/%1").arg(i)));
    ProgramRun program(home);
    start(program, false);
    ASSERT_TRUE(program.waitForStderr("Found 30 web favourites.", 60000));
    ASSERT_TRUE(ProgramRun::waitUntil([&] { return silent.requests().size() >= 8; }, 20000));
    QElapsedTimer closing;
    closing.start();
    EXPECT_EQ(program.terminate(5000), 0) << qPrintable(program.stderrText());
    EXPECT_LT(closing.elapsed(), 5000);
    EXPECT_TRUE(temporaryShortcuts(home).isEmpty());
}

TEST_F(OverlappedRefresh, ManyFavouritesOfOneSlowServerNeverMakeMoreThanTwoConnections) {
    LoopbackSite site({1, 40, {}});
    for (int i = 0; i < 200; ++i)
        add(QStringLiteral("One/F%1.url").arg(i, 3, 10, QLatin1Char('0')),
            i % 10 == 0 ? site.url(1, QStringLiteral("/page/%1").arg(i))
                        : site.url(1, QStringLiteral("/file/%1.zip").arg(i)));
    ProgramRun program(home);
    start(program, false);
    ASSERT_TRUE(program.waitForStderr("All Done", 280000)) << qPrintable(program.stderrText());
    EXPECT_EQ(program.terminate(), 0);
    EXPECT_GE(site.requests().size(), 200 * 3);
    // Requests of the probes and of the browser's page loads (the pages with
    // their stylesheet and picture) together, and every connection open at
    // once, also one that never carries a request.
    EXPECT_EQ(site.mostAskingAtOnce(1), 2);
    EXPECT_LE(site.mostAtOnce(1), 2);
}
