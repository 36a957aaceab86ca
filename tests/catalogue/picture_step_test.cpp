// The picture step with the real site probe, a real headless Chromium and a
// local test site: what each kind of site gets as its picture, and the
// pieces the step adds to the favourite's record.
#include "catalogue/bmp_file.h"
#include "catalogue/page_renderer.h"
#include "catalogue/picture_step.h"
#include "catalogue/placeholder.h"
#include "catalogue/run_trace.h"
#include "catalogue/site_probe.h"
#include "platform/message_service.h"
#include "support/snapshot_site.h"
#include "support/temp_home.h"

#include <QDir>
#include <QFile>
#include <QPainter>

#include <gtest/gtest.h>

#include <csignal>
#include <future>
#include <mutex>
#include <thread>

using namespace catalogue;
using namespace testsupport;

namespace {

class PictureStepTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        renderer = new PageRenderer;
        renderer->setTimeouts(3000, 5000);
        if (!renderer->start()) {
            delete renderer;
            renderer = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete renderer;
        renderer = nullptr;
    }

    void SetUp() override {
        data = home.dataFolder();
        site.setRawRoute("/red-news", TestSite::response(200, "text/html", kRedPage));
    }

    PictureStepInput input(const QString& url, int counter = 5) const {
        PictureStepInput in;
        in.dataFolder = data;
        in.favouriteName = QStringLiteral("News");
        in.finalUrl = url;
        in.evenFileName = counter;
        return in;
    }

    QByteArray run(const PictureStepInput& in, PageRenderer* with = renderer) {
        QByteArray link;
        RunPictureStep(in, probe, with, trace, link);
        return link;
    }

    QString pictureFile(int counter, bool forHistory = false) const {
        return data + QString(PicturePathFor(data, "News", counter, forHistory).relative)
                          .replace('\\', '/');
    }
    QImage picture(int counter) const {
        return QImage(pictureFile(counter), "BMP").convertToFormat(QImage::Format_RGB32);
    }
    static QByteArray imagePiece(int counter) {
        return "IMAGE =\"images\\" +
               PicturePathFor("/d/", "News", counter, false).relative.mid(7).toUtf8() + "\" \n\r";
    }
    void savePrevious(const QImage& image) {
        QDir().mkpath(data + "images");
        ASSERT_TRUE(SaveBmp(image, pictureFile(4)));
    }

    static PageRenderer* renderer;
    testsupport::TempHome home;
    TestSite site;
    SiteProbe probe;
    RunTrace trace;
    QString data;
};

PageRenderer* PictureStepTest::renderer = nullptr;

#define REQUIRE_BROWSER()                                                                          \
    if (!renderer)                                                                                 \
    FAIL() << "Chromium is not installed (scripts/packages.txt names it)"

TEST(PicturePath, NamesFromCounterAndFavouriteWithTheLongPathRule) {
    EXPECT_EQ(PicturePathFor("/d/", "News", 5, false).relative, "images\\202020354E657773.BMP");
    EXPECT_EQ(PicturePathFor("/d/", "News", 12345, false).relative,
              "images\\31323334354E657773.BMP");
    EXPECT_EQ(PicturePathFor("/d/", "News", 5, true).relative,
              "images\\history\\202020354E657773.BMP");
    EXPECT_FALSE(PicturePathFor("/d/", "News", 5, false).shortened);

    // A favourite name that makes the full picture path 300 characters long.
    const QString name(139, 'n');
    // "/d/" + "images\\" + two hex digits for each byte of "   7" + name + ".BMP"
    ASSERT_EQ(3 + 7 + 2 * (4 + name.length()) + 4, 300);
    const PicturePath cut = PicturePathFor("/d/", name, 7, false);
    EXPECT_TRUE(cut.shortened);
    EXPECT_EQ(3 + cut.relative.length(), 249);
    const QString uncut = "images\\20202037" + QString("6E").repeated(139) + ".BMP";
    EXPECT_TRUE(cut.relative.endsWith(".BMP"));
    EXPECT_TRUE(uncut.startsWith(cut.relative.chopped(4)));
    // The previous run's name is cut by the same rule.
    EXPECT_EQ(3 + PicturePathFor("/d/", name, 6, false).relative.length(), 249);
    EXPECT_EQ(3 + PicturePathFor("/d/", name, 12345, false).relative.length(), 249);

    // However long the data folder, the picture stays in its own folder.
    const PicturePath deep = PicturePathFor("/" + QString(400, 'g') + "/", "Long", 7, true);
    EXPECT_TRUE(deep.relative.startsWith("images\\history\\2"));
    EXPECT_TRUE(deep.relative.endsWith(".BMP"));
}

TEST(PicturePath, FileTypePatternAndReachableCodes) {
    EXPECT_EQ(FileTypePattern("http://h/a/file.zip"), "*.zip");
    EXPECT_EQ(FileTypePattern("http://h.test/x"), "*.test/x");
    EXPECT_EQ(FileTypePattern("nodot"), "*.exe");
    for (int code : {200, 301, 302, 501, -97})
        EXPECT_TRUE(IsReachableCode(code)) << code;
    for (int code : {404, 403, 307, 500, -1, -98, -99})
        EXPECT_FALSE(IsReachableCode(code)) << code;
}

TEST_F(PictureStepTest, ColouredPageGetsItsThumbnailTitleAndImage) {
    REQUIRE_BROWSER();
    const QByteArray link = run(input(site.url("/red-news")));
    EXPECT_EQ(link, "CODE = \"200\" \n\rGIVEN_TITLE = \"Red&#32;News\" \n\r" + imagePiece(5));
    const QImage thumbnail = picture(5);
    EXPECT_EQ(thumbnail.size(), QSize(122, 91));
    EXPECT_TRUE(isStrongRed(dominantColour(thumbnail)));
    const QString M = PicturePathFor(data, "News", 5, false).relative;
    EXPECT_EQ(trace.lines(), QStringList({"force directories = " + data + "images/",
                                          "picture_path = " + data, "picture_filename = " + M}));

    // A later favourite of the same name, without "Get only if a new site",
    // replaces the picture (here by the card a missing browser gives).
    EXPECT_EQ(run(input(site.url("/red-news")), nullptr), link);
    EXPECT_EQ(picture(5), HostCardPicture("127.0.0.1"));
}

TEST_F(PictureStepTest, PlaceholdersForBlankPagesErrorsAndSecureSites) {
    REQUIRE_BROWSER();
    struct Case {
        QString url;
        QByteArray pieces; // before IMAGE
        int card;
    };
    const QList<Case> cases = {
        {site.url("/blank"), "CODE = \"200\" \n\rGIVEN_TITLE = \"Blank\" \n\r", kScriptedSiteCode},
        {site.url("/status/404"), "CODE = \"404\" \n\r", 404},
        {"https://127.0.0.1:1/", "CODE = \"-98\" \n\r", kSecureSiteCode},
        {"http://127.0.0.1:1/", "CODE = \"-99\" \n\r", -99},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        QFile::remove(pictureFile(5));
        trace.clear();
        EXPECT_EQ(run(input(c.url)), c.pieces + imagePiece(5));
        EXPECT_EQ(picture(5), PlaceholderPicture(c.card));
        EXPECT_TRUE(trace.lines().contains("picture_pathEx = " + data));
    }
}

TEST_F(PictureStepTest, DownloadGetsItsFileTypeIconOnWhite) {
    const QString url = site.url("/download.zip");
    EXPECT_EQ(run(input(url), nullptr), "CODE = \"200\" \n\r" + imagePiece(5));
    const QImage icon = probe.FileTypeIcon(url);
    ASSERT_FALSE(icon.isNull());
    QImage expected(122, 122, QImage::Format_RGB32);
    expected.fill(Qt::white);
    QPainter(&expected).drawImage((122 - icon.width()) / 2, (122 - icon.height()) / 2, icon);
    EXPECT_EQ(picture(5), expected);
    EXPECT_TRUE(trace.lines().contains("picture_pathEZ = " + data));
}

TEST_F(PictureStepTest, UnavailableSiteKeepsTheEarlierPictureOnlyWhenCodesAreHidden) {
    QImage earlier(122, 91, QImage::Format_RGB32);
    earlier.fill(qRgb(0, 160, 0));
    const QString unreachable = "http://127.0.0.1:1/";

    savePrevious(earlier);
    PictureStepInput hidden = input(unreachable);
    hidden.showCode = false;
    EXPECT_EQ(run(hidden, nullptr), "CODE = \"-99\" \n\r" + imagePiece(5));
    EXPECT_EQ(picture(5), earlier);

    QFile::remove(pictureFile(5));
    EXPECT_EQ(run(input(unreachable), nullptr), "CODE = \"-99\" \n\r" + imagePiece(5));
    EXPECT_EQ(picture(5), PlaceholderPicture(-99));

    // Codes hidden but nothing to keep: the code is shown after all.
    QFile::remove(pictureFile(4));
    QFile::remove(pictureFile(5));
    run(hidden, nullptr);
    EXPECT_EQ(picture(5), PlaceholderPicture(-99));
}

TEST_F(PictureStepTest, GetOnlyNewSitesKeepsPicturesOfExistingFavourites) {
    REQUIRE_BROWSER();
    QImage earlier(122, 91, QImage::Format_RGB32);
    earlier.fill(qRgb(0, 160, 0));
    PictureStepInput newOnly = input(site.url("/red-news"));
    newOnly.newOnly = true;
    // Keeping the picture changes nothing else: the code and the title are
    // still learnt from the site.
    const QByteArray pieces =
        "CODE = \"200\" \n\rGIVEN_TITLE = \"Red&#32;News\" \n\r" + imagePiece(5);

    // Pictured in the previous run: carried forward, not captured again.
    savePrevious(earlier);
    EXPECT_EQ(run(newOnly), pieces);
    EXPECT_EQ(picture(5), earlier);
    EXPECT_EQ(browserRequestCount(site), 0);

    // Pictured earlier in this run under the same name: kept as it is, and
    // after its status nothing more is asked of the site (no title).
    QFile::remove(pictureFile(4));
    EXPECT_EQ(run(newOnly), "CODE = \"200\" \n\r" + imagePiece(5));
    EXPECT_EQ(picture(5), earlier);
    EXPECT_EQ(browserRequestCount(site), 0);

    // A new favourite is captured, and so is one whose earlier picture only
    // stood in for a capture: the error card of a run when its site was
    // down, the "Scripted Site" card, the "Secure Site" card of a run when
    // secure sites were not pictured, the card naming the host.
    const QList<QImage> before = {
        QImage(), PlaceholderPicture(503), PlaceholderPicture(kScriptedSiteCode),
        PlaceholderPicture(kSecureSiteCode), HostCardPicture("127.0.0.1")};
    for (const QImage& previous : before) {
        SCOPED_TRACE(before.indexOf(previous));
        QFile::remove(pictureFile(5));
        QFile::remove(pictureFile(4));
        if (!previous.isNull())
            savePrevious(previous);
        const int requests = browserRequestCount(site);
        EXPECT_EQ(run(newOnly), pieces);
        EXPECT_TRUE(isStrongRed(dominantColour(picture(5))));
        EXPECT_GT(browserRequestCount(site), requests);
    }
}

TEST_F(PictureStepTest, GetOnlyNewSitesGivesADownloadItsIconInPlaceOfAStandInCard) {
    PictureStepInput newOnly = input(site.url("/download.zip"));
    newOnly.newOnly = true;
    QImage earlier(122, 122, QImage::Format_RGB32);
    earlier.fill(qRgb(0, 160, 0));
    savePrevious(earlier);
    run(newOnly, nullptr);
    EXPECT_EQ(picture(5), earlier);

    for (int code : {kSecureSiteCode, kScriptedSiteCode, -99}) {
        SCOPED_TRACE(code);
        QFile::remove(pictureFile(5));
        savePrevious(PlaceholderPicture(code));
        run(newOnly, nullptr);
        EXPECT_EQ(picture(5).pixel(0, 0), qRgb(255, 255, 255));
        EXPECT_NE(picture(5), PlaceholderPicture(code).convertToFormat(QImage::Format_RGB32));
    }
}

TEST_F(PictureStepTest, GetOnlyNewSitesStillShowsTheCodeOfAnUnavailableSite) {
    QImage earlier(122, 91, QImage::Format_RGB32);
    earlier.fill(qRgb(0, 160, 0));
    PictureStepInput down = input("http://127.0.0.1:1/");
    down.newOnly = true;

    // "Display Error Code if page unavailable": the card, not the old picture.
    savePrevious(earlier);
    EXPECT_EQ(run(down, nullptr), "CODE = \"-99\" \n\r" + imagePiece(5));
    EXPECT_EQ(picture(5), PlaceholderPicture(-99));

    // Codes hidden: the old picture is kept.
    QFile::remove(pictureFile(5));
    down.showCode = false;
    run(down, nullptr);
    EXPECT_EQ(picture(5), earlier);

    // A picture a favourite of the same name made earlier in this run stays
    // shared, codes shown or not.
    QFile::remove(pictureFile(4));
    down.showCode = true;
    run(down, nullptr);
    EXPECT_EQ(picture(5), earlier);
}

TEST_F(PictureStepTest, WithoutABrowserPagesGetACardWithTheirHost) {
    const QByteArray link = run(input(site.url("/red-news")), nullptr);
    EXPECT_EQ(link, "CODE = \"200\" \n\rGIVEN_TITLE = \"Red&#32;News\" \n\r" + imagePiece(5));
    EXPECT_EQ(picture(5), HostCardPicture("127.0.0.1"));
}

TEST_F(PictureStepTest, HistoryPicturesGoToTheirOwnFolder) {
    PictureStepInput in = input("https://127.0.0.1:1/");
    in.forHistory = true;
    const QByteArray link = run(in, nullptr);
    EXPECT_TRUE(link.endsWith("IMAGE =\"images\\history\\202020354E657773.BMP\" \n\r"))
        << link.toStdString();
    EXPECT_TRUE(QFileInfo(pictureFile(5, true)).isFile());
}

TEST_F(PictureStepTest, LongNamesAreCutAndTraced) {
    PictureStepInput in = input("https://127.0.0.1:1/");
    in.favouriteName = QString(200, 'n');
    const QString M = PicturePathFor(data, in.favouriteName, 5, false).relative;
    ASSERT_EQ(data.length() + M.length(), 249);
    EXPECT_TRUE(run(in, nullptr).endsWith("IMAGE =\"" + M.toUtf8() + "\" \n\r"));
    EXPECT_TRUE(trace.lines().contains("picture_filenameEY = " + M));
    EXPECT_TRUE(QFileInfo(data + QString(M).replace('\\', '/')).isFile());
}

TEST_F(PictureStepTest, PictureThatCannotBeSavedIsReportedAndNotListed) {
    platform::ScopedMessageRecorder messages;
    ASSERT_TRUE(QDir().mkpath(pictureFile(5))); // a folder where the file should go
    const QByteArray link = run(input(site.url("/red-news")), nullptr);
    EXPECT_EQ(link, "CODE = \"200\" \n\rGIVEN_TITLE = \"Red&#32;News\" \n\r");
    EXPECT_EQ(messages.texts, QStringList({"problem"}));
}

// Pages that never load, loop in script (also again from a timer) or are
// huge, and a browser that is killed mid-capture: each favourite still gets
// a picture, and the next capture is a real one again.
TEST_F(PictureStepTest, MisbehavingPagesAndADyingBrowserStillEndInPictures) {
    REQUIRE_BROWSER();
    std::promise<void> holdAsked;
    setHangingRoute(site, "/never-loads");
    setHangingRoute(site, "/hold", [&holdAsked] { holdAsked.set_value(); });
    setScriptLoopRoute(site, "/script-loop");
    setTimerLoopRoute(site, "/timer-loop");
    setHugeRoute(site, "/huge");

    std::thread killer([&] {
        holdAsked.get_future().wait();
        ::kill(renderer->browserProcessId(), SIGKILL);
    });
    int counter = 10;
    for (const char* route : {"/never-loads", "/script-loop", "/timer-loop", "/huge", "/hold"}) {
        SCOPED_TRACE(route);
        PictureStepInput bad = input(site.url(route), counter++);
        EXPECT_TRUE(run(bad).contains("IMAGE =\""));
        EXPECT_TRUE(QFileInfo(pictureFile(bad.evenFileName)).isFile());

        PictureStepInput good = input(site.url("/red-news"), counter++);
        run(good);
        EXPECT_TRUE(isStrongRed(dominantColour(picture(good.evenFileName))));
    }
    killer.join();
}

} // namespace
