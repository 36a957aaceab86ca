// Favourites worked on ahead of the run: the run still receives each one's
// Link, trace lines and message boxes in its own order, while the waits of
// many favourites overlap within their bounds (per server, per shared
// picture), and work that is dropped or cut short leaves nothing behind.
#include "catalogue/host_slots.h"
#include "catalogue/run_trace.h"
#include "catalogue/site_http_client.h"
#include "catalogue/site_worker.h"
#include "catalogue/temporary_shortcut.h"
#include "platform/message_service.h"
#include "platform/settings_model.h"
#include "platform/urlcache.h"
#include "support/loopback_site.h"
#include "support/temp_home.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using namespace catalogue;
using testsupport::LoopbackSite;

namespace {

// Waits for check while the main thread handles events, as the run does.
bool waitFor(const std::function<bool()>& check, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!check()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

// A favourite: its folder below Favorites ("" for the top) and file name.
struct Favourite {
    QString folder;
    QString name;
};

class SiteOverlapTest : public ::testing::Test {
protected:
    SiteOverlapTest() {
        settings.evenFileName = 5;
        settings.showCode = true;
    }
    ~SiteOverlapTest() override {
        TSiteHttpClient::setDefaultTimeoutMs(TSiteHttpClient::DefaultTimeoutMs);
    }

    QString folderPath(const QString& folder) const {
        return folder.isEmpty() ? home.favorites() + "/" : home.favorites() + "/" + folder + "/";
    }
    Favourite add(const QString& folder, const QString& name, const QString& url) {
        home.write("Favorites/" + (folder.isEmpty() ? QString() : folder + "/") + name,
                   "[InternetShortcut]\r\nURL=" + url.toUtf8() + "\r\n");
        return {folder, name};
    }
    std::unique_ptr<SiteWorker> makeWorker(int parallel) {
        auto worker = std::make_unique<SiteWorker>(
            settings, trace, home.dataFolder(), std::function<void()>{}, platform::NoteOwnChange{});
        worker->setUrlCache(std::make_shared<platform::UrlCache>());
        worker->setParallelFetches(parallel);
        return worker;
    }
    QList<PlannedFetch> planOf(const QList<Favourite>& favourites) const {
        QList<PlannedFetch> plan;
        for (const Favourite& f : favourites)
            plan.append({folderPath(f.folder), f.name});
        return plan;
    }

    // What the run receives, favourite by favourite.
    struct Received {
        QList<QByteArray> links;
        QList<QStringList> boxes; // the boxes shown while each was taken
        QStringList trace;
    };
    Received runThrough(SiteWorker& worker, const QList<Favourite>& favourites) {
        trace.clear();
        Received received;
        worker.planAhead(planOf(favourites));
        for (const Favourite& f : favourites) {
            messages.texts.clear();
            QByteArray link;
            worker.FetchSiteInfo(folderPath(f.folder), f.name, false, link);
            received.links << link;
            received.boxes << messages.texts;
        }
        worker.dropAhead();
        received.trace = trace.lines();
        return received;
    }
    QStringList picturesOnDisk() const {
        return QDir(home.dataFolder() + "images").entryList({"*.BMP"}, QDir::Files, QDir::Name);
    }
    QStringList temporaryShortcuts() const {
        QStringList found;
        for (const QString& folder :
             QDir(home.favorites()).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            found << QDir(home.favorites() + "/" + folder).entryList({"temp*"}, QDir::Files);
        found << QDir(home.favorites()).entryList({"temp*"}, QDir::Files);
        return found;
    }

    testsupport::TempHome home;
    platform::SettingsModel settings;
    RunTrace trace;
    platform::ScopedMessageRecorder messages;
};

} // namespace

TEST_F(SiteOverlapTest, RunReceivesWhatOneAtATimeGivesInItsOwnOrder) {
    LoopbackSite site({4, 40, {}});
    QList<Favourite> favourites;
    for (int i = 0; i < 6; ++i)
        favourites << add("News", QStringLiteral("Site %1.url").arg(i),
                          site.url(1 + i % 4, QStringLiteral("/plain/%1").arg(i)));
    favourites << add("News", "Moved.url", site.url(2, "/redirect/7"));
    favourites << add("News", "Gone.url", site.url(3, "/nothing"));
    favourites << add("News", "Archive.url", site.url(4, "/file/1.zip"));
    // A favourite that went missing after the scan: its boxes come with it.
    favourites << Favourite{"News", "Missing.url"};
    favourites << add("Tech", "Same.url", site.url(1, "/plain/20"));
    favourites << add("Work", "Same.url", site.url(2, "/plain/21"));
    favourites << add("", "Top.url", site.url(3, "/plain/22"));

    const Received alone = runThrough(*makeWorker(1), favourites);
    const QStringList alonePictures = picturesOnDisk();
    QDir(home.dataFolder() + "images").removeRecursively();

    auto overlapped = makeWorker(8);
    const Received together = runThrough(*overlapped, favourites);

    EXPECT_GT(overlapped->parallelFetches(), 1);
    ASSERT_EQ(together.links.size(), alone.links.size());
    for (int i = 0; i < alone.links.size(); ++i) {
        EXPECT_EQ(together.links[i], alone.links[i]) << "favourite " << i;
        EXPECT_EQ(together.boxes[i], alone.boxes[i]) << "favourite " << i;
    }
    EXPECT_EQ(together.boxes[9], QStringList({"error FMTID_Intshcut", "error ParseDisplayName 2"}));
    EXPECT_EQ(together.trace, alone.trace);
    EXPECT_EQ(picturesOnDisk(), alonePictures);
    EXPECT_TRUE(temporaryShortcuts().isEmpty());
}

TEST_F(SiteOverlapTest, AtMostTwoAtOnceToOneServerAndSharedPicturesNeverTogether) {
    constexpr int delayMs = 60;
    LoopbackSite site({6, delayMs, {}});
    QList<Favourite> favourites;
    for (int i = 0; i < 30; ++i)
        favourites << add("One", QStringLiteral("F%1.url").arg(i),
                          site.url(1, QStringLiteral("/plain/%1").arg(i)));
    // Favourites of one name share their picture file: on five different
    // servers, nothing but that would keep them apart.
    for (int i = 0; i < 5; ++i)
        favourites << add(QStringLiteral("Folder%1").arg(i), "Same.url",
                          site.url(2 + i, QStringLiteral("/plain/%1").arg(100 + i)));
    for (int i = 0; i < 20; ++i)
        favourites << add("Many", QStringLiteral("M%1.url").arg(i),
                          site.url(2 + i % 5, QStringLiteral("/plain/%1").arg(200 + i)));

    auto worker = makeWorker(8);
    runThrough(*worker, favourites);

    EXPECT_EQ(site.mostAtOnce(1), 2) << "one server: never more than two, and two do happen";
    EXPECT_GT(site.mostAtOnceOverall(), 2) << "different servers are worked on at once";
    for (int address = 2; address <= 6; ++address)
        EXPECT_LE(site.mostAtOnce(address), 2);

    // Each same-name favourite starts only once the one before has had
    // its last answer.
    const QList<LoopbackSite::Seen> seen = site.requests();
    for (int i = 1; i < 5; ++i) {
        const QByteArray before = "/plain/" + QByteArray::number(100 + i - 1);
        const QByteArray after = "/plain/" + QByteArray::number(100 + i);
        qint64 lastBefore = -1, firstAfter = -1;
        for (const LoopbackSite::Seen& request : seen) {
            if (request.path == before)
                lastBefore = std::max(lastBefore, request.atMs);
            if (request.path == after && firstAfter < 0)
                firstAfter = request.atMs;
        }
        ASSERT_GE(lastBefore, 0);
        ASSERT_GE(firstAfter, 0);
        EXPECT_GE(firstAfter, lastBefore + delayMs - 5) << "same-name favourite " << i;
    }
}

TEST_F(SiteOverlapTest, DroppedWorkEndsAtOnceAndLeavesNoPictureOrTemporaryShortcut) {
    LoopbackSite fast({1, 0, {}});
    LoopbackSite slow({3, 1500, {3}}); // 127.0.0.3 never answers
    QList<Favourite> favourites;
    favourites << add("A", "First.url", fast.url(1, "/plain/1"));
    favourites << add("A", "Silent.url", slow.url(3, "/plain/2"));
    for (int i = 0; i < 3; ++i)
        favourites << add("A", QStringLiteral("Quick%1.url").arg(i),
                          fast.url(1, QStringLiteral("/plain/%1").arg(10 + i)));
    for (int i = 0; i < 3; ++i)
        favourites << add("B", QStringLiteral("Moved%1.url").arg(i),
                          slow.url(1 + i % 2, QStringLiteral("/redirect/%1").arg(i)));

    auto worker = makeWorker(8);
    worker->planAhead(planOf(favourites));
    QByteArray link;
    worker->FetchSiteInfo(folderPath("A"), "First.url", false, link);
    const QString firstPicture = picturesOnDisk().value(0);
    // Wait until work ahead has made pictures (kept apart from the served
    // ones until the run takes them) and temporary shortcuts.
    ASSERT_TRUE(waitFor(
        [&] { return home.stagedPictures().size() >= 3 && temporaryShortcuts().size() >= 2; },
        15000))
        << home.stagedPictures().join(' ').toStdString();
    EXPECT_EQ(picturesOnDisk(), QStringList({firstPicture}));

    QElapsedTimer dropping;
    dropping.start();
    worker->dropAhead();
    EXPECT_LT(dropping.elapsed(), 1500) << "nothing waits for a dropped answer";
    const qint64 droppedAt = slow.nowMs();

    EXPECT_EQ(picturesOnDisk(), QStringList({firstPicture}));
    EXPECT_TRUE(home.stagedPictures().isEmpty());
    EXPECT_TRUE(temporaryShortcuts().isEmpty());
    QThread::msleep(2000);
    for (const LoopbackSite::Seen& request : slow.requests())
        EXPECT_LT(request.atMs, droppedAt) << request.path.constData();
    // A favourite dropped from the plan is still done when the run asks.
    link.clear();
    worker->FetchSiteInfo(folderPath("A"), "Quick0.url", false, link);
    EXPECT_TRUE(link.contains("GIVEN_TITLE = \"Plain&#32;10\"")) << link.constData();
}

TEST_F(SiteOverlapTest, CloseCutsTheFavouriteInProgressAndAllWorkAheadShort) {
    LoopbackSite silent({4, 0, {1, 2, 3, 4}});
    QList<Favourite> favourites;
    for (int i = 0; i < 20; ++i)
        favourites << add("", QStringLiteral("S%1.url").arg(i),
                          silent.url(1 + i % 4, QStringLiteral("/plain/%1").arg(i)));
    auto worker = makeWorker(8);
    worker->planAhead(planOf(favourites));
    QTimer::singleShot(500, [&] { worker->abandonFetch(); });
    QElapsedTimer timer;
    timer.start();
    QByteArray link;
    worker->FetchSiteInfo(folderPath(""), "S0.url", false, link);
    worker->dropAhead();
    EXPECT_LT(timer.elapsed(), 5000) << "the 60 s time-outs are not waited for";
    EXPECT_FALSE(worker->fetchRunning());
    // At most the picture of the favourite that was cut short, none of those ahead.
    EXPECT_LE(picturesOnDisk().size(), 1) << picturesOnDisk().join(' ').toStdString();
}

TEST_F(SiteOverlapTest, ServersThatNeverAnswerCostTheirTimeOutsSharedByTheWorkers) {
    constexpr int timeoutMs = 300;
    TSiteHttpClient::setDefaultTimeoutMs(timeoutMs);
    LoopbackSite silent({8, 0, {1, 2, 3, 4, 5, 6, 7, 8}});
    QList<Favourite> favourites;
    for (int i = 0; i < 200; ++i)
        favourites << add(QStringLiteral("F%1").arg(i / 50), QStringLiteral("S%1.url").arg(i),
                          silent.url(1 + i % 8, QStringLiteral("/plain/%1").arg(i)));

    // One such favourite alone, for the cost of its time-outs.
    auto alone = makeWorker(1);
    QElapsedTimer one;
    one.start();
    QByteArray link;
    alone->FetchSiteInfo(folderPath("F0"), "S0.url", false, link);
    const qint64 oneMs = one.elapsed();
    ASSERT_GE(oneMs, timeoutMs);
    QDir(home.dataFolder() + "images").removeRecursively();

    auto worker = makeWorker(8);
    QElapsedTimer all;
    all.start();
    const Received received = runThrough(*worker, favourites);
    const qint64 allMs = all.elapsed();
    // One at a time would take 200 times oneMs; eight at once an eighth.
    EXPECT_LT(allMs, 200 * oneMs / 3) << "one favourite " << oneMs << " ms, all " << allMs;
    for (const QByteArray& each : received.links)
        EXPECT_TRUE(each.contains("CODE = \"-1\"")) << each.constData();
    EXPECT_EQ(picturesOnDisk().size(), 200) << "each gets its error picture";
}

TEST(TemporaryShortcutNames, WorkersAtOnceNeverGetTheSameNameNorAnExistingFile) {
    testsupport::TempHome home;
    const QString folder = home.favorites() + "/";
    home.write("Favorites/temp1000.URL", "the user's");
    QList<QStringList> taken(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i)
                taken[t] << ReserveTemporaryShortcut(folder, 1000);
        });
    for (std::thread& thread : threads)
        thread.join();
    QSet<QString> all;
    for (const QStringList& names : taken)
        for (const QString& name : names)
            all.insert(name);
    EXPECT_EQ(all.size(), 400);
    EXPECT_FALSE(all.contains(folder + "temp1000.URL"));
    for (const QString& name : std::as_const(all)) {
        EXPECT_TRUE(IsTemporaryShortcut(name));
        ReleaseTemporaryShortcut(name);
    }
    // Released names come back; the user's file never does.
    EXPECT_EQ(ReserveTemporaryShortcut(folder, 1000), folder + "temp1001.URL");
    EXPECT_FALSE(IsTemporaryShortcut(folder + "temp1000.URL"));
}

TEST(HostSlotsTest, OneServerIsItsHostAndPortAsTheAddressGivesThem) {
    EXPECT_EQ(HostSlots::keyOf("http://Example.COM/a"), "example.com:80");
    EXPECT_EQ(HostSlots::keyOf("http://example.com:8080/"), "example.com:8080");
    EXPECT_EQ(HostSlots::keyOf("https://example.com/"), "example.com:443");
    EXPECT_EQ(HostSlots::keyOf("not an address"), "");

    HostSlots servers;
    EXPECT_TRUE(servers.take("a:80"));
    EXPECT_TRUE(servers.take("a:80"));
    EXPECT_FALSE(servers.take("a:80"));
    EXPECT_TRUE(servers.take("a:81")) << "another port is another server";
    servers.release("a:80");
    EXPECT_TRUE(servers.take("a:80"));
    EXPECT_TRUE(servers.take("") && servers.take("") && servers.take("")) << "no server, no limit";
}

TEST_F(SiteOverlapTest, AnOptionChangedDuringTheRunReachesTheFavouritesAfterItAsOneAtATime) {
    QList<Favourite> favourites;
    for (int i = 0; i < 6; ++i) // https on a port where nothing listens
        favourites << add("", QStringLiteral("Secure %1.url").arg(i),
                          QStringLiteral("https://127.0.0.1:1/%1").arg(i));
    const auto runChangingHalfway = [&](SiteWorker& worker) {
        settings.secureSites = false;
        worker.planAhead(planOf(favourites));
        QList<QByteArray> links;
        for (const Favourite& f : favourites) {
            if (links.size() == 2) {
                // Give the work ahead time to finish with the old option.
                waitFor([] { return false; }, 300);
                settings.secureSites = true;
            }
            QByteArray link;
            worker.FetchSiteInfo(folderPath(f.folder), f.name, false, link);
            links << link;
        }
        worker.dropAhead();
        return links;
    };
    const QList<QByteArray> alone = runChangingHalfway(*makeWorker(1));
    QDir(home.dataFolder() + "images").removeRecursively();
    const QList<QByteArray> together = runChangingHalfway(*makeWorker(8));
    ASSERT_TRUE(alone[1].contains("CODE = \"-98\""));
    ASSERT_FALSE(alone[2].contains("CODE = \"-98\""));
    EXPECT_EQ(together, alone);
}
