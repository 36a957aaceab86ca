// The overview page in a real browser, served over HTTP: the grid fills
// windows from phone to wide screen without sideways scrolling, the search
// box, the failed and not-checked filters and the folder breadcrumbs show
// exactly the favourites they promise, the keyboard reaches everything, the
// colours follow the system's preference, and nothing from the catalogue runs.
#include "headless_browser.h"
#include "page_fixtures.h"

#include "pages/page_writer.h"
#include "platform/settings_model.h"
#include "support/static_server.h"
#include "support/temp_home.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdio>

using pagetest::Favourite;
using pagetest::HeadlessBrowser;

namespace {

constexpr int loadWaitMs = 30000;
constexpr int gridSize = 40; // favourites of the top folder, enough for a wide row

// The names of the shown favourites, in page order, "|"-separated.
const QString shownNames = "Array.from(document.querySelectorAll('ul.grid > li'))"
                           ".filter(li => li.offsetParent !== null)"
                           ".map(li => li.querySelector('.name').textContent).join('|')";

// How many cards sit in the first row of the first folder.
const QString firstRowCount =
    "(() => { const cards = Array.from(document.querySelector('ul.grid').children);"
    " const top = cards[0].getBoundingClientRect().top;"
    " return cards.filter(c => Math.abs(c.getBoundingClientRect().top - top) < 1).length; })()";

class OverviewInBrowser : public ::testing::Test {
protected:
    OverviewInBrowser()
        : server(home.dataFolder()),
          writer(
              settings, [this] { return QString::number(server.port()); }, [] {}) {}

    void SetUp() override {
        QList<Favourite> top = pagetest::favourites("Site", gridSize);
        // Long words and addresses must wrap or be cut, never widen the page.
        top.append({QString(300, 'W'), "http://example.invalid/" + QString(400, 'p'), "", 200,
                    QString(200, 'T')});
        const QList<pagetest::Folder> folders = {
            {"", top},
            {"Fruit",
             {{"Apple", "http://apple.invalid/", ""},
              {"Banana", url("opened.htm"), "", 200, "Yellow Berry"},
              {"Cherry", "http://cherry.invalid/berry-farm", ""},
              {"Damson", "http://damson.invalid/", "", 404},
              {"Elderberry", "http://elder.invalid/", "", -1}}},
            {"Fruit\\Dried",
             {{"Raisin", "http://raisin.invalid/", "", -99},
              {"Prune", "http://prune.invalid/", ""}}},
            {"Tools",
             {{"Hammer", "http://hammer.invalid/", "", 302},
              {"Vault", "https://vault.invalid/", "", -98},
              {"Lock", "https://lock.invalid/", "", -98}}},
        };
        home.write("Documents/pagorama/opened.htm",
                   "<html><head><title>Opened</title></head><body>opened</body></html>");
        const QByteArray text = pagetest::catalogueText(1000, false, folders);
        home.write("Documents/pagorama/listings.xml", text);
        writer.writeSupportPages();
        writer.writeCataloguePages(text);
    }

    QString url(const QString& page) const {
        return QString("http://localhost:%1/%2").arg(server.port()).arg(page);
    }
    QString js(const QString& expression) { return browser.evaluate(expression).toString(); }
    bool openOverview() {
        return browser.open(url("overview.htm")) &&
               browser.waitFor("document.readyState == 'complete' && "
                               "document.querySelectorAll('ul.grid > li').length == " +
                                   QString::number(allCount),
                               loadWaitMs);
    }
    // Waits until the shown favourites are exactly these.
    ::testing::AssertionResult shows(const QStringList& names) {
        const QString expected = names.join('|');
        if (browser.waitFor("(" + shownNames + ") == " + jsString(expected), loadWaitMs))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "shows " << js(shownNames).toStdString();
    }
    static QString jsString(const QString& text) {
        return "decodeURIComponent('" + QString::fromLatin1(QUrl::toPercentEncoding(text)) + "')";
    }
    // Keeps a screenshot under the build tree for people to look at.
    static void saveArtefact(const QString& name, const QByteArray& png) {
        const QString folder = QStringLiteral(PAGORAMA_BINARY_DIR) + "/test-artifacts/";
        QDir().mkpath(folder);
        QFile file(folder + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(png);
        std::printf("screenshot: %s\n", qPrintable(file.fileName()));
    }
    QStringList everyName() {
        return js("Array.from(document.querySelectorAll('.name')).map(n => n.textContent)"
                  ".join('|')")
            .split('|');
    }

    static constexpr int allCount = gridSize + 1 + 5 + 2 + 3;
    testsupport::TempHome home;
    testsupport::StaticServer server;
    platform::SettingsModel settings;
    pages::PageWriter writer;
    HeadlessBrowser browser;
};

} // namespace

TEST_F(OverviewInBrowser, GridFillsPhoneDesktopAndWideWindowsWithoutSidewaysScrolling) {
    ASSERT_TRUE(openOverview()) << server.requests().join(' ').toStdString();
    const struct {
        int width;
        int atLeast;
    } windows[] = {{480, 2}, {1280, 6}, {1920, 9}};
    for (const auto& window : windows) {
        SCOPED_TRACE(window.width);
        ASSERT_TRUE(browser.setWindowSize(window.width, 900));
        ASSERT_TRUE(
            browser.waitFor(QString("window.innerWidth == %1").arg(window.width), loadWaitMs));
        EXPECT_LE(browser.evaluate("document.documentElement.scrollWidth").toInt(), window.width);
        EXPECT_GE(browser.evaluate(firstRowCount).toInt(), window.atLeast);
        // No card reaches past the window's right edge.
        EXPECT_EQ(js("Array.from(document.querySelectorAll('.card')).filter("
                     "c => c.getBoundingClientRect().right > window.innerWidth).length + ''"),
                  "0");
        saveArtefact(QString("overview-%1px.png").arg(window.width), browser.screenshot());
    }
}

TEST_F(OverviewInBrowser, TypingInTheSearchBoxNarrowsToNameAddressAndTitleMatches) {
    ASSERT_TRUE(openOverview());
    // "/" from anywhere on the page goes to the search box and is not typed.
    ASSERT_EQ(js("document.activeElement.tagName"), "BODY");
    browser.pressKey("/");
    EXPECT_EQ(js("document.activeElement.id"), "search");
    EXPECT_EQ(js("document.getElementById('search').value"), "");

    // By title (Banana), address (Cherry) and name (Elderberry), any case.
    browser.typeText("BeRRy");
    EXPECT_TRUE(shows({"Banana", "Cherry", "Elderberry"}));
    EXPECT_EQ(js("document.getElementById('count').textContent"),
              QString("3 of %1 favourites").arg(allCount));
    // Every word must match.
    browser.typeText(" farm");
    EXPECT_TRUE(shows({"Cherry"}));
    browser.typeText("x");
    EXPECT_TRUE(shows({}));
    EXPECT_EQ(js("document.getElementById('none').hidden + ''"), "false");
    EXPECT_EQ(js("document.querySelectorAll('section.folder:not([hidden])').length + ''"), "0");

    // Escape empties the box and shows everything again.
    browser.pressKey("Escape");
    EXPECT_TRUE(shows(everyName()));
    EXPECT_EQ(js("document.getElementById('count').textContent"),
              QString("%1 favourites").arg(allCount));
    EXPECT_EQ(js("document.querySelectorAll('ul.grid > li:not([hidden])').length + ''"),
              QString::number(allCount));

    // Enter moves from the box to the first match, and Enter there opens it.
    browser.typeText("yellow");
    EXPECT_TRUE(shows({"Banana"}));
    browser.pressKey("Enter");
    EXPECT_EQ(js("document.activeElement.querySelector('.name').textContent"), "Banana");
    browser.pressKey("Enter");
    EXPECT_TRUE(browser.waitFor("location.pathname == '/opened.htm' && document.title == 'Opened'",
                                loadWaitMs))
        << js("location.href").toStdString();
}

TEST_F(OverviewInBrowser, TabMovesThroughTheControlsAndThenTheFavouritesInPageOrder) {
    ASSERT_TRUE(openOverview());
    const QString focused =
        "(e => e.id || (e.querySelector('.name') || e).textContent)(document.activeElement)";
    QStringList order;
    browser.evaluate("document.getElementById('search').focus()");
    for (int i = 0; i < 7; ++i) {
        browser.pressKey("Tab");
        order << js(focused);
    }
    EXPECT_EQ(order, QStringList({"failed", "unchecked", "size", "Favourites", "Site1", "Site2",
                                  "Site3"}));
    // From a favourite, "/" goes back to the search box.
    browser.pressKey("/");
    EXPECT_EQ(js("document.activeElement.id"), "search");
}

TEST_F(OverviewInBrowser, FailedFilterShowsExactlyTheFavouritesThatDidNotAnswer) {
    ASSERT_TRUE(openOverview());
    EXPECT_EQ(js("document.getElementById('failed').textContent"), "Failed: 3");
    EXPECT_EQ(js("Array.from(document.querySelectorAll('.card.failed .code'))"
                 ".map(c => c.textContent + '=' + c.title).join('|')"),
              "404=404 Not Found|-1=No answer within 60 seconds|"
              "-99=Site not reachable (name not found or connection refused)");

    // The button is reached and pressed by keyboard like any other.
    browser.evaluate("document.getElementById('failed').focus()");
    browser.pressKey("Enter");
    EXPECT_TRUE(shows({"Damson", "Elderberry", "Raisin"}));
    EXPECT_EQ(js("document.getElementById('failed').getAttribute('aria-pressed')"), "true");

    // Together with the search box, both must hold.
    browser.evaluate("document.getElementById('search').focus()");
    browser.typeText("r");
    EXPECT_TRUE(shows({"Elderberry", "Raisin"})); // Banana's title has an "r" too

    browser.evaluate("document.getElementById('failed').click()");
    EXPECT_TRUE(shows({"Banana", "Cherry", "Elderberry", "Raisin", "Prune", "Hammer"}));

    // The https favourites left unprobed are not failures: "Not checked"
    // shows exactly them, names the setting, and releases "Failed".
    EXPECT_EQ(js("document.getElementById('unchecked').textContent"), "Not checked: 2");
    EXPECT_TRUE(js("document.getElementById('unchecked-hint').textContent")
                    .contains("\"Picture secure (https) sites\" ticked (SecureSites=1)"));
    browser.evaluate("document.getElementById('search').focus()");
    browser.pressKey("Escape");
    browser.evaluate("document.getElementById('failed').click()");
    browser.evaluate("document.getElementById('unchecked').click()");
    EXPECT_TRUE(shows({"Vault", "Lock"}));
    EXPECT_EQ(js("document.getElementById('failed').getAttribute('aria-pressed')"), "false");
    browser.evaluate("document.getElementById('unchecked').click()");
    EXPECT_TRUE(shows(everyName()));
}

TEST_F(OverviewInBrowser, FolderBreadcrumbsFilterByFolderAndItsSubfolders) {
    ASSERT_TRUE(openOverview());
    const QString crumb = "document.querySelector(\"section[data-path='Fruit\\\\\\\\Dried'] "
                          "nav button[data-path='%1']\").click()";
    browser.evaluate(crumb.arg("Fruit"));
    EXPECT_TRUE(shows({"Apple", "Banana", "Cherry", "Damson", "Elderberry", "Raisin", "Prune"}));
    EXPECT_EQ(js("document.getElementById('filter').textContent"),
              "Folder: All folders\u203aFruit");

    browser.evaluate(crumb.arg("Fruit\\\\\\\\Dried"));
    EXPECT_TRUE(shows({"Raisin", "Prune"}));
    EXPECT_EQ(js("document.getElementById('filter').textContent"),
              "Folder: All folders\u203aFruit\u203aDried");

    // The filter's own breadcrumb widens it again.
    browser.evaluate("document.querySelector('#filter button').click()");
    EXPECT_TRUE(shows(everyName()));
    EXPECT_EQ(js("document.getElementById('filter').hidden + ''"), "true");
}

TEST_F(OverviewInBrowser, ColoursFollowTheSystemsLightOrDarkPreference) {
    // Pictures for the screenshots, in a range of colours.
    ASSERT_TRUE(QDir().mkpath(home.dataFolder() + "images"));
    for (int i = 1; i <= gridSize; ++i) {
        QImage picture(122, 91, QImage::Format_RGB32);
        picture.fill(QColor::fromHsv(i * 360 / gridSize % 360, 160, 220));
        picture.save(home.dataFolder() + QString("images/%1.png").arg(i), "PNG");
    }
    ASSERT_TRUE(openOverview());
    ASSERT_TRUE(browser.setWindowSize(1280, 800));
    const struct {
        const char* scheme;
        QColor background;
    } schemes[] = {{"light", QColor(0xf4, 0xf5, 0xf7)}, {"dark", QColor(0x15, 0x18, 0x1d)}};
    for (const auto& scheme : schemes) {
        SCOPED_TRACE(scheme.scheme);
        ASSERT_TRUE(browser.setColourScheme(scheme.scheme));
        EXPECT_TRUE(browser.waitFor(
            QString(
                "getComputedStyle(document.documentElement).backgroundColor == 'rgb(%1, %2, %3)'")
                .arg(scheme.background.red())
                .arg(scheme.background.green())
                .arg(scheme.background.blue()),
            loadWaitMs))
            << js("getComputedStyle(document.documentElement).backgroundColor").toStdString();
        const QByteArray png = browser.screenshot();
        const QImage shot = QImage::fromData(png, "PNG");
        ASSERT_FALSE(shot.isNull());
        // The page's margin below the last row shows the page colour.
        EXPECT_EQ(QColor(shot.pixel(3, shot.height() - 3)), scheme.background);
        saveArtefact(QString("overview-%1.png").arg(scheme.scheme), png);
    }
}

TEST_F(OverviewInBrowser, MarkupAndScriptsInNamesAndTitlesNeverRun) {
    const QList<Favourite> bad = {
        {"<script>window.ran = 1</script>", "http://a.invalid/", "", 404,
         "<img src=x onerror=\"window.ran = 2\">"},
        {"\"onmouseover=\"window.ran = 3\" x=\"", "http://b.invalid/\"onfocus=\"window.ran=4", "",
         200, "\" autofocus onfocus=\"window.ran = 5"},
        {"Script address", "javascript:window.ran = 6", "", 200, ""},
        {"Data address", " DaTa:text/html,<script>parent.ran = 7</script>", "", 200, ""},
    };
    const QByteArray text = pagetest::catalogueText(2000, false, {{"<b>Folder", bad}});
    home.write("Documents/pagorama/listings.xml", text);
    writer.writeCataloguePages(text);
    ASSERT_TRUE(browser.open(url("overview.htm")));
    ASSERT_TRUE(browser.waitFor("document.readyState == 'complete' && "
                                "document.querySelectorAll('.card').length == 4",
                                loadWaitMs));

    // Hover, focus and click every card: nothing from the catalogue runs.
    browser.evaluate("Array.from(document.querySelectorAll('.card')).forEach(c => {"
                     " c.dispatchEvent(new MouseEvent('mouseover', {bubbles: true}));"
                     " c.focus(); if (c.tagName != 'A') c.click(); }), true");
    browser.pressKey("/");
    browser.typeText("<script>");
    EXPECT_EQ(js("typeof window.ran"), "undefined");
    EXPECT_EQ(js("document.querySelectorAll('script').length + ''"), "2"); // the page's own
    EXPECT_TRUE(shows({"<script>window.ran = 1</script>", "Data address"}));
    browser.pressKey("Escape");
    EXPECT_EQ(everyName(), QStringList({"<script>window.ran = 1</script>",
                                        "\"onmouseover=\"window.ran = 3\" x=\"", "Script address",
                                        "Data address"}));
    EXPECT_EQ(js("document.querySelector('.title').textContent"),
              "<img src=x onerror=\"window.ran = 2\">");
    EXPECT_EQ(js("Array.from(document.querySelectorAll('section nav button'))"
                 ".map(b => b.textContent).join('|')"),
              "Favourites|<b>Folder");
    // Script addresses are plain cards, not links.
    EXPECT_EQ(js("Array.from(document.querySelectorAll('a.card .name'))"
                 ".map(n => n.textContent).join('|')"),
              "<script>window.ran = 1</script>|\"onmouseover=\"window.ran = 3\" x=\"");
    EXPECT_EQ(js("typeof window.ran"), "undefined");
}

TEST_F(OverviewInBrowser, PicturesLoadFromTheirCompressedCopiesOnlyAsTheyComeIntoView) {
    constexpr int count = 300;
    QImage picture(122, 122, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(QDir().mkpath(home.dataFolder() + "images"));
    for (int i = 1; i <= count; ++i)
        picture.save(home.dataFolder() + QString("images/%1.png").arg(i), "PNG");
    // One favourite whose copy is missing shows its BMP instead.
    QFile::remove(home.dataFolder() + "images/2.png");
    picture.save(home.dataFolder() + "images/2.BMP", "BMP");
    const QByteArray text =
        pagetest::catalogueText(3000, false, {{"", pagetest::favourites("Pic", count)}});
    home.write("Documents/pagorama/listings.xml", text);
    writer.writeCataloguePages(text);

    ASSERT_TRUE(browser.open(url("overview.htm")));
    const QString loaded = "(n => { const img = document.querySelectorAll('img')[n - 1];"
                           " return img.complete && img.naturalWidth == 122; })";
    ASSERT_TRUE(browser.waitFor(loaded + "(1) && " + loaded + "(2)", loadWaitMs));
    EXPECT_EQ(js("document.querySelectorAll('img')[0].currentSrc"), url("images/1.png"));
    EXPECT_EQ(js("document.querySelectorAll('img')[1].currentSrc"), url("images/2.BMP"));
    const auto requested = [this](int n) {
        return server.requests().contains(QString("/images/%1.png").arg(n));
    };
    EXPECT_FALSE(requested(count));

    browser.evaluate("window.scrollTo(0, document.documentElement.scrollHeight)");
    EXPECT_TRUE(browser.waitFor(loaded + QString("(%1)").arg(count), loadWaitMs));
    EXPECT_TRUE(requested(count));
}

// A picture whose copy is missing may fail before the page's script has
// arrived; it must still fall back to its stored original.
TEST_F(OverviewInBrowser, APictureThatFailsWhileThePageIsStillArrivingFallsBackToo) {
    QImage picture(122, 122, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    ASSERT_TRUE(QDir().mkpath(home.dataFolder() + "images"));
    picture.save(home.dataFolder() + "images/1.png", "PNG");
    picture.save(home.dataFolder() + "images/2.BMP", "BMP");
    const QByteArray text =
        pagetest::catalogueText(3000, false, {{"", pagetest::favourites("Pic", 2)}});
    home.write("Documents/pagorama/listings.xml", text);
    writer.writeCataloguePages(text);
    server.pauseBefore("overview.htm", "</main>", 5000);

    ASSERT_TRUE(browser.open(url("overview.htm")));
    const QString secondShown = "(() => { const img = document.querySelectorAll('img')[1];"
                                " return img.complete && img.naturalWidth == 122; })()";
    EXPECT_TRUE(browser.waitFor(secondShown, 15000));
    EXPECT_TRUE(server.requests().contains("/images/2.png"));
    EXPECT_EQ(js("document.querySelectorAll('img')[1].currentSrc"), url("images/2.BMP"));
}
