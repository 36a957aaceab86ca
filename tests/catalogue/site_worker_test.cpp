#include "catalogue/run_trace.h"
#include "catalogue/site_http_client.h"
#include "catalogue/site_worker.h"
#include "platform/message_service.h"
#include "platform/settings_model.h"
#include "platform/urlcache.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <mutex>

#include <QFile>
#include <sched.h>
#include <sys/resource.h>

using namespace catalogue;
using testsupport::TestSite;

namespace {

// The attribute names of a Link text, in order.
QStringList attributeNames(const QByteArray& link) {
    QStringList names;
    for (const QByteArray& piece : link.split('\n')) {
        const QByteArray trimmed = piece.trimmed();
        const qsizetype equals = trimmed.indexOf('=');
        if (equals > 0)
            names << QString::fromLatin1(trimmed.left(equals).trimmed());
    }
    return names;
}

class SiteWorkerTest : public ::testing::Test {
protected:
    SiteWorkerTest() {
        settings.evenFileName = 5;
        settings.newOnly = false;
        settings.showCode = true;
        worker = std::make_unique<SiteWorker>(
            settings, trace, home.dataFolder(), [this] { ++statusShown; },
            [this](const QString& path) {
                const std::lock_guard lock(ownChangesMutex);
                ownChanges << path;
            });
        auto cache = std::make_shared<platform::UrlCache>();
        home.write("cache.txt", "9\t1\t" + platform::UrlCache::visitedPrefix().toUtf8() +
                                    site.url("/title").toUtf8() + "\n");
        cache->addTextStore(home.path() + "/cache.txt");
        worker->setUrlCache(cache);
    }

    void shortcut(const QString& name, const QByteArray& text) {
        home.write("Favorites/" + name, text);
    }

    QByteArray fetch(const QString& name) {
        QByteArray link;
        worker->FetchSiteInfo(home.favorites() + "/", name, false, link);
        return link;
    }

    testsupport::TempHome home;
    TestSite site;
    platform::SettingsModel settings;
    RunTrace trace;
    platform::ScopedMessageRecorder messages;
    std::unique_ptr<SiteWorker> worker;
    int statusShown = 0;
    std::mutex ownChangesMutex;
    QStringList ownChanges; // the paths the worker announced it would write or remove
};

const QStringList shortcutNames = {"PID_IS_URL",         "PID_IS_NAME",     "PID_IS_WORKINGDIR",
                                   "PID_IS_HOTKEY",      "PID_IS_SHOWCMD",  "PID_IS_ICONINDEX",
                                   "PID_IS_ICONFILE",    "PID_IS_WHATSNEW", "PID_IS_AUTHOR",
                                   "PID_IS_DESCRIPTION", "PID_IS_COMMENT"};

} // namespace

TEST_F(SiteWorkerTest, ReachableSiteGetsBothPropertySetsVisitsAndPicture) {
    shortcut("Example.url", "[InternetShortcut]\r\nURL=" + site.url("/title").toUtf8() +
                                "\r\nIconIndex=1\r\n"
                                "[{000214A1-0000-0000-C000-000000000046}]\r\n"
                                "Prop4=64,126989712000000000\r\n"
                                "Prop3=31,Ann Author\r\n");
    const QByteArray link = fetch("Example.url");

    QStringList expected = {"PRECODE"};
    expected << shortcutNames;
    for (const char* name :
         {"WHATSNEW", "AUTHOR", "LASTVISIT", "LASTMOD", "VISITCOUNT", "DESCRIPTION", "COMMENT",
          "FLAGS", "CONTENTLEN", "CONTENTCODE", "RECURSE", "WATCH", "SUBSCRIPTION", "URL", "TITLE",
          "CODEPAGE", "TRACKING"})
        expected << QStringLiteral("PID_INTSITE_") + name;
    expected << "VISITS"
             << "CODE"
             << "GIVEN_TITLE"
             << "IMAGE";
    EXPECT_EQ(attributeNames(link), expected);

    EXPECT_TRUE(link.startsWith("PRECODE = \"200\" \n\r"));
    EXPECT_TRUE(link.contains("\n\rPID_IS_URL=\"" + site.url("/title").toUtf8() + "\"\n\r"));
    EXPECT_TRUE(link.contains("\n\rPID_IS_WORKINGDIR=\"\"\n\r"));
    EXPECT_TRUE(link.contains("\n\rPID_IS_ICONINDEX=\"1\"\n\r"));
    EXPECT_TRUE(link.contains("\n\rPID_INTSITE_AUTHOR=\"Ann&#32;Author\"\n\r"));
    // A file time is a date only, in the user's short date format.
    const QRegularExpression date("PID_INTSITE_LASTVISIT=\"([^\"]*)\"");
    const QString lastVisit = date.match(QString::fromLatin1(link)).captured(1);
    EXPECT_FALSE(lastVisit.isEmpty());
    EXPECT_FALSE(lastVisit.contains(':')) << lastVisit.toStdString();
    EXPECT_TRUE(lastVisit.contains("03")) << lastVisit.toStdString();
    EXPECT_TRUE(link.contains("\n\rVISITS=\"9\"\n\r"));
    EXPECT_TRUE(link.contains("CODE = \"200\" \n\r"));
    EXPECT_TRUE(link.contains("GIVEN_TITLE = \"Test&#32;Title\" \n\r"));
    EXPECT_EQ(statusShown, 1);
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join('|').toStdString();
    EXPECT_EQ(worker->currentFetch(), nullptr);
}

TEST_F(SiteWorkerTest, UnreachableSiteGetsNoSitePropertiesAndValuesAreEscaped) {
    shortcut("Missing.url",
             "[InternetShortcut]\r\nURL=" + site.url("/status/404?a=1&b=2").toUtf8() +
                 "\r\nWorkingDirectory=C:\\My Files\r\n"
                 "[{000214A1-0000-0000-C000-000000000046}]\r\nProp3=31,Ann\r\n");
    const QByteArray link = fetch("Missing.url");
    QStringList expected = {"PRECODE"};
    expected << shortcutNames << "VISITS"
             << "CODE"
             << "IMAGE";
    EXPECT_EQ(attributeNames(link), expected);
    EXPECT_TRUE(link.startsWith("PRECODE = \"404\" \n\r"));
    EXPECT_TRUE(
        link.contains("PID_IS_URL=\"" + site.url("/status/404?a=1&amp;b=2").toUtf8() + "\"\n\r"));
    EXPECT_TRUE(link.contains("PID_IS_WORKINGDIR=\"C:\\My&#32;Files\"\n\r"));
    EXPECT_TRUE(link.contains("\n\rVISITS=\"0\"\n\r"));
    EXPECT_TRUE(link.contains("CODE = \"404\" \n\r"));
}

TEST_F(SiteWorkerTest, SecureSiteIsNeverContacted) {
    shortcut("Bank.url", "[InternetShortcut]\r\nURL=https://" + site.hostPort().toUtf8() + "/\r\n");
    const QByteArray link = fetch("Bank.url");
    EXPECT_TRUE(link.startsWith("PRECODE = \"-98\" \n\r"));
    EXPECT_TRUE(link.contains("CODE = \"-98\" \n\r"));
    EXPECT_FALSE(link.contains("PID_INTSITE_"));
    EXPECT_EQ(site.connectionCount(), 0);
}

TEST_F(SiteWorkerTest, RedirectedFavouriteUsesATemporaryShortcutThatIsRemoved) {
    // The picture step asks the final address for its status: the temporary
    // shortcut must exist at that moment.
    std::mutex seenMutex;
    QStringList seenDuringPicture;
    const QString favorites = home.favorites();
    site.setRoute("/final", [&](const TestSite::Request& request, TestSite::Connection& c) {
        {
            std::lock_guard lock(seenMutex);
            seenDuringPicture << QDir(favorites).entryList(QDir::Files, QDir::Name);
        }
        const QByteArray answer = TestSite::response(200, "text/html", TestSite::page("Final"));
        c.send(request.method == "HEAD" ? answer.left(answer.indexOf("\r\n\r\n") + 4) : answer);
    });
    site.setRawRoute("/moved", TestSite::response(302, "text/html", {}, "Location: /final\r\n"));

    shortcut("Moved.url", "[InternetShortcut]\r\nURL=" + site.url("/moved").toUtf8() + "\r\n");
    const QByteArray link = fetch("Moved.url");

    EXPECT_TRUE(link.startsWith("PRECODE = \"302\" \n\r"));
    EXPECT_TRUE(link.contains("PID_INTSITE_")) << "302 is a reachable code";
    EXPECT_TRUE(link.contains("CODE = \"200\" \n\r"));
    EXPECT_TRUE(link.contains("GIVEN_TITLE = \"Final\" \n\r"));
    const QRegularExpression temporary("^temp\\d+\\.URL$");
    bool sawTemporary = false;
    for (const QString& name : std::as_const(seenDuringPicture))
        sawTemporary = sawTemporary || temporary.match(name).hasMatch();
    EXPECT_TRUE(sawTemporary) << seenDuringPicture.join(' ').toStdString();
    EXPECT_EQ(QDir(favorites).entryList(QDir::Files), QStringList({"Moved.url"}));
    // The temporary shortcut is announced before it is written and again
    // before it is removed, and nothing else is.
    const std::lock_guard lock(ownChangesMutex);
    ASSERT_EQ(ownChanges.size(), 2);
    EXPECT_EQ(ownChanges[0], ownChanges[1]);
    EXPECT_EQ(QFileInfo(ownChanges[0]).path(), QFileInfo(favorites + "/x").path());
    EXPECT_TRUE(temporary.match(QFileInfo(ownChanges[0]).fileName()).hasMatch());
}

TEST_F(SiteWorkerTest, TemporaryShortcutNeverReplacesAUserFile) {
    shortcut("Moved.url", "[InternetShortcut]\r\nURL=" + site.url("/moved").toUtf8() + "\r\n");
    // Learn the name the worker chooses, make it (and the next number) a
    // file of the user's, and run again: those files must stay as they are.
    std::mutex seenMutex;
    QStringList seen;
    const QString favorites = home.favorites();
    site.setRoute("/title2", [&](const TestSite::Request& request, TestSite::Connection& c) {
        {
            std::lock_guard lock(seenMutex);
            seen << QDir(favorites).entryList({"temp*"}, QDir::Files);
        }
        const QByteArray answer = TestSite::response(200, "text/html", TestSite::page("T2"));
        c.send(request.method == "HEAD" ? answer.left(answer.indexOf("\r\n\r\n") + 4) : answer);
    });
    site.setRawRoute("/moved", TestSite::response(302, "text/html", {}, "Location: /title2\r\n"));
    fetch("Moved.url");
    ASSERT_FALSE(seen.isEmpty());
    const QString chosen = seen.first();
    home.write("Favorites/" + chosen, "user's own shortcut");
    // Also occupy the following numbers the worker could pick next.
    const qint64 number = chosen.mid(4, chosen.size() - 8).toLongLong();
    home.write("Favorites/" + QStringLiteral("temp%1.URL").arg(number + 1), "user's second");
    fetch("Moved.url");
    EXPECT_EQ(home.read("Favorites/" + chosen), "user's own shortcut");
    EXPECT_EQ(home.read("Favorites/" + QStringLiteral("temp%1.URL").arg(number + 1)),
              "user's second");
}

TEST_F(SiteWorkerTest, StalledSiteEndsAtTheTimeOutWhileEventsFlow) {
    TSiteHttpClient::setDefaultTimeoutMs(300);
    shortcut("Stalled.url", "[InternetShortcut]\r\nURL=" + site.url("/stall").toUtf8() + "\r\n");
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    const QByteArray link = fetch("Stalled.url");
    TSiteHttpClient::setDefaultTimeoutMs(TSiteHttpClient::DefaultTimeoutMs);
    EXPECT_TRUE(link.startsWith("PRECODE = \"-1\" \n\r"));
    EXPECT_TRUE(link.contains("CODE = \"-1\" \n\r"));
    EXPECT_GT(ticks, 0) << "the main thread handled events during the wait";
}

TEST_F(SiteWorkerTest, ShellFailuresAreShownOnTheMainThreadAndTheWorkGoesOn) {
    QByteArray link;
    worker->FetchSiteInfo(home.favorites() + "/", "Absent.url", false, link);
    EXPECT_EQ(messages.texts, QStringList({"error FMTID_Intshcut", "error ParseDisplayName 2"}));
    EXPECT_TRUE(link.startsWith("PRECODE = \"-99\" \n\r"));
    EXPECT_TRUE(link.contains("PID_IS_URL=\"\"\n\r"));
    EXPECT_TRUE(link.contains("CODE = "));

    messages.texts.clear();
    link.clear();
    worker->FetchSiteInfo(home.path() + "/NoSuchFolder", "A.url", false, link);
    EXPECT_EQ(messages.texts, QStringList({"error FMTID_Intshcut", "error ParseDisplayName",
                                           "error ParseDisplayName 2"}));
}

// The worker runs in the background without being starved: normal
// scheduling (never the idle class, which stops it for seconds on a busy
// machine) with a nice value above the program's own.
TEST_F(SiteWorkerTest, WorkerRunsAtNormalSchedulingWithARaisedNiceValue) {
    int policy = -1;
    int nice = -100;
    bool found = false;
    site.setRoute("/observed", [&](const TestSite::Request&, TestSite::Connection& connection) {
        // The worker waits in this request: look at its thread now.
        for (const QString& task :
             QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm("/proc/self/task/" + task + "/comm");
            if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "site worker")
                continue;
            found = true;
            policy = ::sched_getscheduler(pid_t(task.toInt()));
            errno = 0;
            nice = ::getpriority(PRIO_PROCESS, id_t(task.toInt()));
        }
        connection.send(TestSite::response(200, "text/html", TestSite::page("Observed")));
    });
    shortcut("Observed.url",
             "[InternetShortcut]\r\nURL=" + site.url("/observed").toUtf8() + "\r\n");
    errno = 0;
    const int ownNice = ::getpriority(PRIO_PROCESS, id_t(::getpid()));
    fetch("Observed.url");
    ASSERT_TRUE(found);
    EXPECT_EQ(policy, SCHED_OTHER);
    EXPECT_EQ(nice, std::min(ownNice + 10, 19));
    // The program's own threads keep their priority.
    EXPECT_EQ(::getpriority(PRIO_PROCESS, id_t(::getpid())), ownNice);
}
