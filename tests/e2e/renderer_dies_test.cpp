// The whole program refreshing while the browser that takes its pictures is
// killed in the middle of several captures at once: the run goes on and
// ends, every favourite keeps its place, code and a picture file, each
// favourite whose page was loading gets its picture or the host-name card,
// a new browser takes the pictures of all the others, the pages are still
// served, and nothing of either browser is left once the program ends.
#include "catalogue/page_renderer.h"
#include "catalogue/placeholder.h"
#include "browser_processes.h"
#include "catalogue_reader.h"
#include "data_folder.h"
#include "picture_colour.h"
#include "program_run.h"
#include "support/http_test_client.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSet>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <memory>
#include <mutex>
#include <unistd.h>

using e2e::ProcessInfo;
using e2e::ProgramRun;
using testsupport::TempHome;
using testsupport::TestSite;

namespace {

// A page of one strong colour, with a white heading so that it does not
// count as a page drawn by scripts.
QByteArray colouredPage(const QByteArray& name, const QByteArray& colour) {
    return "<html><head><title>" + name +
           "</title></head><body style=\"margin:0;background:" + colour +
           "\"><h1 style=\"color:white;font-size:60px\">" + name + "</h1></body></html>";
}

// Holds every page request of the browser until released, and tells which
// favourites' pages the browser asked for before the kill.
struct HeldPages {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    bool killed = false;
    int inFlight = 0;
    QElapsedTimer clock;
    qint64 lastArrivalMs = 0;
    QSet<QByteArray> askedBeforeKill;

    HeldPages() { clock.start(); }

    void hold(const QByteArray& name) {
        std::unique_lock lock(mutex);
        ++inFlight;
        if (!killed)
            askedBeforeKill.insert(name);
        lastArrivalMs = clock.elapsed();
        changed.notify_all();
        // Bounded, so that a failed test never leaves the site waiting.
        changed.wait_for(lock, std::chrono::minutes(3), [this] { return released; });
        --inFlight;
    }
    void release() {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    int pagesInFlight() {
        std::lock_guard lock(mutex);
        return inFlight;
    }
    QSet<QByteArray> askedBefore() {
        std::lock_guard lock(mutex);
        return askedBeforeKill;
    }
    qint64 quietMs() {
        std::lock_guard lock(mutex);
        return clock.elapsed() - lastArrivalMs;
    }
};

struct Favourite {
    QByteArray name;
    QByteArray colour; // "#rrggbb"; empty: the page is missing
    int site = 0;
};

// Spread over four servers, so that more captures run at once than the
// per-server limit of the site work would allow on one.
const QList<Favourite> kFavourites = {
    {"Crimson", "#e00000", 0}, {"Leaf", "#00a000", 1},   {"Ocean", "#0000e0", 2},
    {"Amber", "#e0a000", 3},   {"Violet", "#a000e0", 0}, {"Teal", "#00a0a0", 1},
    {"Rose", "#e00080", 2},    {"Olive", "#806000", 3},  {"Pine", "#008040", 0},
    {"Slate", "#404040", 1},   {"Coral", "#e06040", 2},  {"Missing", "", 3},
};

class RendererDies : public ::testing::Test {
protected:
    RendererDies() {
        for (auto& site : sites)
            site = std::make_unique<TestSite>();
        for (int i = 0; i < kFavourites.size(); ++i) {
            const Favourite& favourite = kFavourites[i];
            const QString path = "/paint/" + QString::fromLatin1(favourite.name);
            if (!favourite.colour.isEmpty())
                servePage(*sites[favourite.site], favourite);
            const QString url = favourite.colour.isEmpty()
                                    ? sites[favourite.site]->url("/status/404")
                                    : sites[favourite.site]->url(path);
            // A tree: some at the top, the rest in two folders.
            const QString folder = i < 4 ? "" : i < 8 ? "Warm/" : "Cool/";
            home.write("Favorites/" + folder + favourite.name + ".url", e2e::shortcutText(url));
        }
    }
    ~RendererDies() override { held->release(); }

    void servePage(TestSite& site, const Favourite& favourite) {
        const QByteArray answer =
            TestSite::response(200, "text/html", colouredPage(favourite.name, favourite.colour));
        site.setRoute("/paint/" + favourite.name, [held = held, answer, name = favourite.name](
                                                      const TestSite::Request& request,
                                                      TestSite::Connection& connection) {
            // The program's probe sends no User-Agent; the browser does.
            if (request.raw.toLower().contains("\nuser-agent:"))
                held->hold(name);
            connection.send(request.method == "HEAD" ? answer.left(answer.indexOf("\r\n\r\n") + 4)
                                                     : answer);
        });
    }

    QImage pictureOf(const e2e::CatalogueLink& link) const { return e2e::pictureOf(home, link); }

    std::shared_ptr<HeldPages> held = std::make_shared<HeldPages>();
    TempHome home;
    std::unique_ptr<TestSite> sites[4];
    const quint16 port = e2e::freePort();
};

} // namespace

TEST_F(RendererDies, BrowserKilledDuringParallelCapturesIsReplacedAndTheRunGoesOn) {
    if (catalogue::PageRenderer::findBrowser().isEmpty())
        FAIL() << "Chromium is not installed (scripts/packages.txt names it)";
    if (catalogue::PageRenderer().maxParallelCaptures() < 2)
        GTEST_SKIP() << "this machine captures one page at a time (one core or under 1 GiB free)";
    ProgramRun program(home);
    program.writeSettings(e2e::settingsText(port, "New_Only=0\r\n"));
    program.start();
    const int programPid = int(program.process().processId());

    // Several pages loading at once, then a moment without a new one, so
    // that every capture that could start has asked for its page.
    ASSERT_TRUE(ProgramRun::waitUntil([&] { return held->pagesInFlight() >= 2; }, 120000))
        << "never two pages loading at once: " << held->pagesInFlight() << "\n"
        << qPrintable(program.stderrText());
    ProgramRun::waitUntil([&] { return held->quietMs() >= 2000; }, 8000);

    const ProcessInfo killed = e2e::browserOf(programPid);
    ASSERT_NE(killed.pid, 0) << "no browser among the program's children";
    ASSERT_FALSE(killed.profile().isEmpty());
    int inFlightAtKill;
    {
        std::lock_guard lock(held->mutex);
        inFlightAtKill = held->inFlight;
        ASSERT_EQ(::kill(killed.pid, SIGKILL), 0);
        held->killed = true;
    }
    EXPECT_GE(inFlightAtKill, 2);

    // A new browser takes over; then every page is let through.
    ProcessInfo replacement;
    const bool replaced = ProgramRun::waitUntil(
        [&] {
            replacement = e2e::browserOf(programPid);
            return replacement.pid != 0 && replacement.pid != killed.pid;
        },
        60000);
    held->release();
    ASSERT_TRUE(replaced) << "no new browser was started\n" << qPrintable(program.stderrText());
    const auto standBy = testsupport::fetch(port, "GET / HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(standBy.statusLine.contains(" 200")) << standBy.statusLine.constData();

    ASSERT_TRUE(program.waitForStderr("All Done", 240000)) << qPrintable(program.stderrText());

    QString error;
    const auto folders = e2e::readCatalogue(home.read("Documents/pagorama/listings.xml"), &error);
    ASSERT_TRUE(error.isEmpty()) << qPrintable(error);
    int links = 0;
    for (const auto& folder : folders)
        links += int(folder.links.size());
    EXPECT_EQ(links, kFavourites.size());

    const QSet<QByteArray> underWay = held->askedBefore();
    const QImage card =
        catalogue::HostCardPicture("127.0.0.1").convertToFormat(QImage::Format_RGB32);
    for (const Favourite& favourite : kFavourites) {
        SCOPED_TRACE(favourite.name.constData());
        const e2e::CatalogueLink link = e2e::findLink(folders, favourite.name);
        EXPECT_TRUE(link.has("DESCRIPTION")) << "not in the catalogue";
        EXPECT_EQ(link.value("CODE"), favourite.colour.isEmpty() ? "404" : "200");
        const QImage picture = pictureOf(link);
        if (!link.has("IMAGE") || picture.isNull()) {
            ADD_FAILURE() << "no picture file";
            continue;
        }
        if (favourite.colour.isEmpty()) {
            EXPECT_TRUE(catalogue::IsErrorCard(picture));
            continue;
        }
        const bool own = e2e::mainColour(picture) == QColor(QString::fromLatin1(favourite.colour));
        const bool isCard = picture.convertToFormat(QImage::Format_RGB32) == card;
        if (underWay.contains(favourite.name))
            EXPECT_TRUE(own || isCard) << "neither its picture nor the card";
        else
            EXPECT_TRUE(own) << "not under way at the kill, yet no picture of its page";
    }

    // The program still serves its pages and pictures.
    const auto root = testsupport::fetch(port, "GET / HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(root.statusLine.contains(" 200")) << root.statusLine.constData();
    QString image = e2e::findLink(folders, "Crimson").value("IMAGE");
    const auto bitmap =
        testsupport::fetch(port, "GET /" + image.replace('\\', '/').toUtf8() + " HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(bitmap.body.startsWith("BM")) << bitmap.statusLine.constData();

    // A normal end leaves neither browser nor either profile behind.
    EXPECT_EQ(program.terminate(), 0) << qPrintable(program.stderrText());
    EXPECT_TRUE(ProgramRun::waitUntil(
        [&] {
            return e2e::processesOfBrowsers({killed, replacement}).isEmpty();
        },
        15000))
        << e2e::processesOfBrowsers({killed, replacement}).size() << " browser processes left";
    for (const ProcessInfo& browser : {killed, replacement})
        EXPECT_TRUE(
            ProgramRun::waitUntil([&] { return !QFileInfo::exists(browser.profile()); }, 10000))
            << qPrintable(browser.profile());
}
