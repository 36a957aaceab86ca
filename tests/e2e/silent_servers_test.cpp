// The whole program refreshing favourites whose servers accept connections
// and never answer, with the probe's time-out shortened (a build made for
// tests): such favourites wait side by side instead of taking turns, the
// catalogue is that of a run one at a time, every server is asked at most
// twice at once, and results waiting for their turn keep their pictures
// when the browser dies meanwhile.
#include "browser_processes.h"
#include "catalogue_reader.h"
#include "data_folder.h"
#include "picture_colour.h"
#include "program_run.h"
#include "support/loopback_site.h"
#include "support/temp_home.h"

#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

using e2e::ProgramRun;
using testsupport::LoopbackSite;
using testsupport::TempHome;

namespace {

class SilentServers : public ::testing::Test {
protected:
    void add(const QString& path, const QString& url) {
        home.write("Favorites/" + path, e2e::shortcutText(url));
    }
    // Runs the program until its first run has ended; the time it took
    // from the start, in ms (-1 when it did not end).
    qint64 runOnce(int probeTimeoutMs, bool oneAtATime = false) {
        if (oneAtATime)
            qputenv("PAGORAMA_ONE_AT_A_TIME", "1");
        ProgramRun program(home);
        program.setProbeTimeoutMs(probeTimeoutMs);
        program.writeSettings(e2e::settingsText(port, "SortBy=0\r\nNew_Only=0\r\n"));
        QElapsedTimer clock;
        clock.start();
        program.start();
        const bool ended = program.waitForStderr("All Done", 280000);
        const qint64 took = clock.elapsed();
        qunsetenv("PAGORAMA_ONE_AT_A_TIME");
        EXPECT_TRUE(ended) << qPrintable(program.stderrText());
        EXPECT_EQ(program.terminate(), 0);
        return ended ? took : -1;
    }

    TempHome home;
    const quint16 port = e2e::freePort();
};

// The probe asks a server that never answers six times, each until the time-out.
constexpr int RequestsToASilentServer = 6;

// The most favourites of one address asked about at the same time: each
// favourite's requests follow one another, from its first to its last.
// (The site's own count of open connections is no measure here: it may
// see a new connection before the close of the one that timed out.)
int mostFavouritesAtOnce(const QList<LoopbackSite::Seen>& requests, int address) {
    QHash<QByteArray, QPair<qint64, qint64>> spans;
    for (const LoopbackSite::Seen& seen : requests)
        if (seen.address == address) {
            auto found = spans.find(seen.path);
            if (found == spans.end())
                spans.insert(seen.path, {seen.atMs, seen.atMs});
            else
                found->second = seen.atMs;
        }
    int most = 0;
    for (const auto& span : spans) {
        int atOnce = 0;
        for (const auto& other : spans)
            atOnce += other.first <= span.first && span.first <= other.second ? 1 : 0;
        most = std::max(most, atOnce);
    }
    return most;
}

} // namespace

TEST_F(SilentServers, TwentyAmongThreeHundredWaitSideBySideAndChangeNothing) {
    constexpr int timeoutMs = 4000;
    LoopbackSite fast({4, 0, {}});
    QSet<int> silentAddresses;
    for (int address = 1; address <= 20; ++address)
        silentAddresses.insert(address);
    LoopbackSite silent({20, 0, silentAddresses});
    auto path = [](int i) {
        return QStringLiteral("F%1/N%2.url").arg(i / 30).arg(i, 3, 10, QLatin1Char('0'));
    };
    auto isSilent = [](int i) { return i % 15 == 7; };
    for (int i = 0; i < 300; ++i)
        if (!isSilent(i))
            add(path(i), i % 10 == 0 ? fast.url(1 + i % 4, QStringLiteral("/plain/%1").arg(i))
                                     : fast.url(1 + i % 4, QStringLiteral("/file/%1.zip").arg(i)));
    const qint64 withoutThem = runOnce(timeoutMs);

    for (int i = 0, server = 1; i < 300; ++i)
        if (isSilent(i))
            add(path(i), silent.url(server++, QStringLiteral("/page/%1").arg(i)));
    const qint64 withThem = runOnce(timeoutMs);
    const QByteArray overlapped = e2e::withoutRunMarks(home.read("Documents/pagorama/listings.xml"));

    // One silent favourite per server: its time-outs alone are the floor,
    // or the run without them, whichever is longer.
    const qint64 floor = std::max<qint64>(withoutThem, RequestsToASilentServer * timeoutMs);
    EXPECT_LE(withThem, floor * 12 / 10)
        << "without them " << withoutThem << " ms, with them " << withThem << " ms";

    runOnce(100, true);
    const QByteArray oneAtATime = e2e::withoutRunMarks(home.read("Documents/pagorama/listings.xml"));
    int links = 0, timedOut = 0;
    QString error;
    for (const e2e::CatalogueFolder& folder : e2e::readCatalogue(overlapped, &error))
        for (const e2e::CatalogueLink& link : folder.links) {
            ++links;
            timedOut += link.value("CODE") == "-1" ? 1 : 0;
        }
    EXPECT_EQ(links, 300);
    EXPECT_EQ(timedOut, 20);
    EXPECT_EQ(overlapped.toStdString(), oneAtATime.toStdString());
}

TEST_F(SilentServers, FiveHundredAllSilentEndWithTwoConnectionsAtMostPerServer) {
    QSet<int> addresses;
    for (int address = 1; address <= 25; ++address)
        addresses.insert(address);
    LoopbackSite silent({25, 0, addresses});
    for (int i = 0; i < 500; ++i)
        add(QStringLiteral("S%1/N%2.url").arg(i / 100).arg(i),
            silent.url(1 + i % 25, QStringLiteral("/page/%1").arg(i)));
    ASSERT_GT(runOnce(150), 0);
    int links = 0;
    for (const e2e::CatalogueFolder& folder : e2e::savedCatalogue(home))
        for (const e2e::CatalogueLink& link : folder.links) {
            ++links;
            EXPECT_EQ(link.value("CODE"), "-1") << qPrintable(link.value("DESCRIPTION"));
            EXPECT_FALSE(e2e::pictureOf(home, link).isNull()) << "no card";
        }
    EXPECT_EQ(links, 500);
    for (int address = 1; address <= 25; ++address)
        EXPECT_EQ(mostFavouritesAtOnce(silent.requests(), address), 2) << "127.0.0." << address;
    EXPECT_EQ(silent.requests().size(), 500 * RequestsToASilentServer);
}

TEST_F(SilentServers, ResultsWaitingForTheirTurnKeepTheirPicturesWhenTheBrowserDies) {
    LoopbackSite silent({1, 0, {1}});
    LoopbackSite pages({4, 0, {}});
    // The run waits on the first favourite while the twenty after it are
    // pictured ahead; then the browser dies; five more come after.
    add("A/000 First.url", silent.url(1, "/page/0"));
    for (int i = 1; i <= 25; ++i)
        add(QStringLiteral("%1/P%2.url").arg(i <= 20 ? "A" : "B").arg(i, 2, 10, QLatin1Char('0')),
            pages.url(1 + i % 4, QStringLiteral("/page/%1").arg(i)));
    ProgramRun program(home);
    program.setProbeTimeoutMs(5000);
    program.writeSettings(e2e::settingsText(port, "SortBy=0\r\nNew_Only=0\r\n"));
    program.start();
    ASSERT_TRUE(ProgramRun::waitUntil([&] { return home.stagedPictures().size() >= 20; }, 25000))
        << home.stagedPictures().size() << " pictured ahead\n" << qPrintable(program.stderrText());
    const e2e::ProcessInfo browser = e2e::browserOf(int(program.process().processId()));
    ASSERT_NE(browser.pid, 0);
    ASSERT_EQ(::kill(browser.pid, SIGKILL), 0);
    ASSERT_TRUE(program.waitForStderr("All Done", 120000)) << qPrintable(program.stderrText());
    EXPECT_EQ(program.terminate(), 0);

    for (const e2e::CatalogueFolder& folder : e2e::savedCatalogue(home))
        for (const e2e::CatalogueLink& link : folder.links) {
            const QString name = link.value("DESCRIPTION");
            SCOPED_TRACE(name.toStdString());
            const QImage picture = e2e::pictureOf(home, link);
            ASSERT_FALSE(picture.isNull()) << "no picture file";
            if (name.startsWith("P") && name.mid(1).toInt() <= 20) {
                EXPECT_EQ(e2e::mainColour(picture).name().toLatin1(),
                          LoopbackSite::colourOf(name.mid(1).toInt()))
                    << "a result waiting for its turn lost its picture";
            }
        }
    EXPECT_TRUE(home.stagedPictures().isEmpty());
}
