// The whole program over several runs: every stored picture has its
// compressed copies beside it (the same pixels, and a large copy at three
// times the size), the copies go with the previous run's pictures, a kept
// picture keeps its copies, and the overview page shows the favourites with
// the copies in a real browser: the small ones on an ordinary screen, the
// large ones on a dense screen and for the larger cards the user picks.
#include "catalogue_reader.h"
#include "pages/headless_browser.h"
#include "program_run.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QDir>
#include <QImage>
#include <gtest/gtest.h>

#include <functional>
#include <gtest/gtest.h>

using e2e::ProgramRun;
using e2e::shortcutText;
using testsupport::TempHome;
using testsupport::TestSite;

namespace {

class OverviewPictures : public ::testing::Test {
protected:
    // One start of the program with a refresh, with the settings the last
    // one saved; whileRunning is called once the refresh is done, with the
    // program still serving its pages.
    void runOnce(const std::function<void()>& whileRunning = {}) {
        ProgramRun program(home);
        program.start();
        ASSERT_TRUE(program.waitForStderr("All Done", 180000)) << qPrintable(program.stderrText());
        if (whileRunning)
            whileRunning();
        ASSERT_EQ(program.terminate(), 0) << qPrintable(program.stderrText());
    }
    void expectOverviewInBrowser();
    QStringList files(const QString& mask) const {
        return QDir(home.dataFolder() + "images").entryList({mask}, QDir::Files, QDir::Name);
    }
    // The BMP names the catalogue shows, without their folder.
    QStringList shownPictures() const {
        QString error;
        QStringList names;
        for (const auto& folder :
             e2e::readCatalogue(home.read("Documents/pagorama/listings.xml"), &error))
            for (const auto& link : folder.links)
                names << link.value("IMAGE").section('\\', -1);
        names.sort();
        return names;
    }
    static QStringList copiesOf(const QStringList& pictures) {
        QStringList copies;
        for (const QString& name : pictures)
            copies << name.chopped(4) + ".png";
        return copies;
    }
    static QStringList largeCopiesOf(const QStringList& pictures) {
        QStringList copies;
        for (const QString& name : pictures)
            copies << name.chopped(4) + ".large.png";
        return copies;
    }
    QImage image(const QString& name, const char* format) const {
        return QImage(home.dataFolder() + "images/" + name, format)
            .convertToFormat(QImage::Format_RGB32);
    }
    void expectEveryPictureWithItsCopy() {
        const QStringList pictures = shownPictures();
        ASSERT_EQ(pictures.size(), 3);
        EXPECT_EQ(files("*.BMP").join(' ').toStdString(), pictures.join(' ').toStdString());
        QStringList allCopies = copiesOf(pictures) + largeCopiesOf(pictures);
        allCopies.sort();
        EXPECT_EQ(files("*.png").join(' ').toStdString(), allCopies.join(' ').toStdString());
        for (const QString& name : pictures) {
            const QImage bmp = image(name, "BMP");
            EXPECT_EQ(bmp, image(name.chopped(4) + ".png", "PNG")) << qPrintable(name);
            // The large copy shows the same view: scaled down, it is the BMP
            // but for the rounding of the scaling.
            const QImage large = image(name.chopped(4) + ".large.png", "PNG");
            ASSERT_EQ(large.size(), bmp.size() * 3) << qPrintable(name);
            const QImage down =
                large.scaled(bmp.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            int far = 0;
            for (int y = 0; y < bmp.height(); ++y)
                for (int x = 0; x < bmp.width(); ++x) {
                    const QRgb a = bmp.pixel(x, y), b = down.pixel(x, y);
                    far += qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) +
                               qAbs(qBlue(a) - qBlue(b)) >
                           96;
                }
            EXPECT_LT(far, bmp.width() * bmp.height() / 20) << qPrintable(name);
        }
    }

    TempHome home;
    TestSite site;
    const quint16 port = e2e::freePort();
};

} // namespace

TEST_F(OverviewPictures, CopiesComeAndGoWithTheirPicturesAndTheOverviewShowsThem) {
    home.write("Favorites/Apple.url", shortcutText(site.url("/title")));
    home.write("Favorites/Work/Mail.url", shortcutText(site.url("/status/404")));
    home.write("Favorites/Work/Deep/Gone.url", shortcutText("http://127.0.0.1:1/"));

    // The server log lists the pictures the browser asks for.
    home.write(".config/pagorama/pagorama.ini",
               e2e::settingsText(port, "NewPage=1\r\nNew_Only=0\r\nShowCode=1\r\n")
                   .replace("[Data]\r\n", "[Data]\r\nLogToFile=1\r\n"));
    runOnce([this] { expectOverviewInBrowser(); });
    expectEveryPictureWithItsCopy();
    const QStringList first = shownPictures();

    // The next run's pictures replace the first run's, copies and all.
    runOnce();
    expectEveryPictureWithItsCopy();
    const QStringList second = shownPictures();
    for (const QString& name : first)
        EXPECT_FALSE(second.contains(name)) << qPrintable(name);

    // "Get only if a new site": the kept picture keeps its copy.
    const QImage appleCopy = image(copiesOf(second).first(), "PNG");
    const QByteArray saved = home.read(".config/pagorama/pagorama.ini");
    ASSERT_TRUE(saved.contains("New_only=0"));
    home.write(".config/pagorama/pagorama.ini",
               QByteArray(saved).replace("New_only=0", "New_only=1"));
    runOnce();
    expectEveryPictureWithItsCopy();
    EXPECT_EQ(image(copiesOf(shownPictures()).first(), "PNG"), appleCopy);
}

// The viewer's header leads to the overview, which shows every favourite
// with the compressed copies of their pictures.
void OverviewPictures::expectOverviewInBrowser() {
    pagetest::HeadlessBrowser browser;
    ASSERT_TRUE(browser.open(QString("http://localhost:%1/").arg(port)));
    ASSERT_TRUE(browser.waitFor("frames.length == 3 && frames['header'].document.readyState"
                                " == 'complete' && frames['header'].document.querySelector("
                                "'a[href=\"overview.htm\"]') != null",
                                60000));
    browser.evaluate("frames['header'].document.querySelector('a[href=\"overview.htm\"]')"
                     ".click()");
    ASSERT_TRUE(browser.waitFor(
        "location.pathname == '/overview.htm' && document.readyState == 'complete' && "
        "Array.from(document.images).every(i => i.complete && i.naturalWidth == 122)",
        60000));
    auto js = [&](const QString& expression) { return browser.evaluate(expression).toString(); };
    EXPECT_EQ(js("Array.from(document.querySelectorAll('.name')).map(n => n.textContent)"
                 ".join('|')"),
              "Apple|Mail|Gone");
    EXPECT_EQ(js("Array.from(document.images).filter(i => i.currentSrc.endsWith('.png'))"
                 ".length + ''"),
              "3");
    EXPECT_EQ(js("document.getElementById('failed').textContent"), "Failed: 2");
    EXPECT_EQ(js("Array.from(document.querySelectorAll('section nav'))"
                 ".map(n => n.textContent).join('|')"),
              "Favourites|Favourites\u203aWork|Favourites\u203aWork\u203aDeep");

    // Small cards on an ordinary screen never ask for a large copy.
    auto log = [&] { return home.read(".config/pagorama/pagorama.log"); };
    ASSERT_TRUE(ProgramRun::waitUntil([&] { return log().count(".png") >= 3; }, 10000))
        << log().constData();
    EXPECT_EQ(log().count(".large.png"), 0) << log().constData();

    const QString allLarge = "document.readyState == 'complete' && document.images.length == 3 "
                             "&& Array.from(document.images).every(i => i.complete && "
                             "i.naturalWidth > 0 && i.currentSrc.endsWith('.large.png'))";

    // A dense screen (two device pixels per CSS pixel) takes the large copies
    // for the small cards.
    {
        pagetest::HeadlessBrowser dense;
        ASSERT_TRUE(dense.open(QString("http://localhost:%1/overview.htm").arg(port)));
        ASSERT_TRUE(dense.setWindowSize(1024, 768, 2));
        dense.evaluate("window.beforeReload = true; location.reload()");
        EXPECT_TRUE(dense.waitFor("!window.beforeReload && " + allLarge, 60000));
        EXPECT_EQ(dense.evaluate("getComputedStyle(document.images[0]).width").toString(),
                  "122px");
        EXPECT_TRUE(ProgramRun::waitUntil([&] { return log().count(".large.png") >= 3; }, 10000))
            << log().constData();
    }

    // Larger cards show the large copies on an ordinary screen too, and
    // stay chosen on the next visit.
    browser.evaluate("document.getElementById('size').click()");
    EXPECT_TRUE(browser.waitFor(allLarge, 30000))
        << js("Array.from(document.images).map(i => i.currentSrc + ' ' + i.naturalWidth + ' ' + "
              "i.sizes).join('|')").toStdString();
    EXPECT_EQ(js("getComputedStyle(document.images[0]).width"), "244px");
    browser.evaluate("window.beforeReload = true; location.reload()");
    EXPECT_TRUE(browser.waitFor(
        "!window.beforeReload && " + allLarge + " && document.getElementById('size').getAttribute('aria-pressed') == 'true'",
        30000));
}
