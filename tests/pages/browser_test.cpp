// The generated pages in a real browser, served over HTTP (frames and their
// scripts only work together across pages of one web origin).
#include "headless_browser.h"
#include "page_fixtures.h"

#include "pages/page_writer.h"
#include "platform/settings_model.h"
#include "support/static_server.h"
#include "support/temp_home.h"

#include <QJsonArray>

#include <gtest/gtest.h>

using pagetest::HeadlessBrowser;

namespace {

// The watcher reloads every 10 seconds; allow for a slow machine.
constexpr int watcherWaitMs = 40000;
constexpr int loadWaitMs = 30000;

class PagesInBrowser : public ::testing::Test {
protected:
    PagesInBrowser()
        : server(home.dataFolder()),
          writer(
              settings, [this] { return QString::number(server.port()); }, [] {}) {}

    void refresh(const QByteArray& catalogueText) {
        home.write("Documents/pagorama/listings.xml", catalogueText);
        writer.writeSupportPages();
        writer.writeCataloguePages(catalogueText);
    }
    // Pages link to http://localhost:<port>/, so the viewer is opened there too.
    QString url(const QString& page) const {
        return QString("http://localhost:%1/%2").arg(server.port()).arg(page);
    }
    QString js(const QString& expression) { return browser.evaluate(expression).toString(); }
    bool viewerLoaded(qint64 time) {
        return browser.waitFor(
            QString("frames.length == 3 && frames['mymain'].document.readyState == 'complete' && "
                    "frames['mymain'].LoadTime == %1 && frames['header'].LoadTime == %1 && "
                    "frames['header'].document.readyState == 'complete' && "
                    "frames['dummy'].LocalTime == %1")
                .arg(time),
            loadWaitMs);
    }
    std::string requestsSeen() const { return server.requests().join(' ').toStdString(); }

    testsupport::TempHome home;
    testsupport::StaticServer server;
    platform::SettingsModel settings;
    pages::PageWriter writer;
    HeadlessBrowser browser;
};

// Links whose names are the favourites' names, in page order.
const QString gridNames =
    "Array.from(frames['mymain'].document.querySelectorAll('font[size=\"2\"] a'))"
    ".map(a => a.textContent).join('|')";

} // namespace

TEST_F(PagesInBrowser, ViewerShowsHeaderGridAndHiddenWatcher) {
    settings.newPage = false;
    refresh(pagetest::catalogueText(1000, false, {{"", pagetest::favourites("Site", 6)}}));
    ASSERT_TRUE(browser.open(url("viewer.htm")));
    ASSERT_TRUE(viewerLoaded(1000)) << requestsSeen();

    EXPECT_EQ(js("document.title"), "Viewer");
    EXPECT_TRUE(js("frames['header'].document.body.innerText").contains("Manage Favourites"));
    EXPECT_EQ(js("frames['header'].document.querySelectorAll('select').length + ''"), "0");
    EXPECT_EQ(js(gridNames), "Site1|Site2|Site3|Site4|Site5|Site6");
    EXPECT_EQ(js("frames['mymain'].document.querySelectorAll('tr').length + ''"), "6");
    EXPECT_EQ(js("frames['mymain'].document.querySelectorAll('td').length + ''"), "24");
    EXPECT_EQ(js("document.querySelector('frame[name=dummy]').getBoundingClientRect().height + ''"),
              "0");
    EXPECT_EQ(
        js("document.querySelector('frame[name=header]').getBoundingClientRect().height + ''"),
        "64");
    EXPECT_EQ(js("frames['dummy'].location.href"), url("reloader.htm"));
}

TEST_F(PagesInBrowser, GridReloadsAtItsScrollPositionWhenTheCatalogueChanges) {
    settings.newPage = false;
    const QList<pagetest::Folder> folders = {{"", pagetest::favourites("Site", 160)}};
    refresh(pagetest::catalogueText(1000, false, folders));
    ASSERT_TRUE(browser.open(url("viewer.htm")));
    ASSERT_TRUE(viewerLoaded(1000)) << requestsSeen();

    browser.evaluate("frames['mymain'].scrollTo(0, 700)");
    ASSERT_TRUE(browser.waitFor("frames['mymain'].scrollY == 700", loadWaitMs))
        << js("frames['mymain'].scrollY + ''").toStdString();
    // Let the watcher run at least once on the unchanged catalogue: nothing reloads.
    ASSERT_TRUE(browser.waitFor(
        "frames['dummy'].performance.timeOrigin > " +
            QString::number(browser.evaluate("frames['dummy'].performance.timeOrigin").toDouble(),
                            'f', 3),
        watcherWaitMs));
    EXPECT_EQ(js("frames['mymain'].location.search"), "");

    refresh(pagetest::catalogueText(2000, false, folders));
    ASSERT_TRUE(viewerLoaded(2000)) << requestsSeen();
    EXPECT_TRUE(browser.waitFor("frames['mymain'].scrollY == 700", loadWaitMs))
        << js("frames['mymain'].scrollY + ''").toStdString();
    EXPECT_EQ(js("frames['mymain'].location.search"), "?xScroll=0&yScroll=700");

    // A second change replaces the scroll pair instead of adding another.
    refresh(pagetest::catalogueText(3000, false, folders));
    ASSERT_TRUE(viewerLoaded(3000)) << requestsSeen();
    EXPECT_EQ(js("frames['mymain'].location.search"), "?xScroll=0&yScroll=700");
}

TEST_F(PagesInBrowser, FolderChoiceLoadsEachFolderPage) {
    settings.newPage = true;
    const QString odd = QString::fromUtf8("Caf\xc3\xa9 & <b> \"q\" 'a' 100%#?");
    const QString oddName = QString::fromUtf8("R\xc3\xb6"
                                              "ck & <Roll> \"it's\"");
    const QList<pagetest::Folder> folders = {
        {"", pagetest::favourites("Top", 1)},
        {"News\\Tech", pagetest::favourites("NT", 2)},
        {"NewsTech", pagetest::favourites("Flat", 1)},
        {"view", pagetest::favourites("View", 1)},
        {odd, {{oddName, "http://odd.invalid/", ""}}},
        {"Root", pagetest::favourites("Rt", 1)},
    };
    refresh(pagetest::catalogueText(1000, false, folders));
    ASSERT_TRUE(browser.open(url("viewer.htm")));
    ASSERT_TRUE(viewerLoaded(1000)) << requestsSeen();

    const QString box = "frames['header'].document.forms['view_head'].DropDown";
    EXPECT_EQ(js("Array.from(" + box + ".options).map(o => o.text).join('|')"),
              "Root|News\\Tech|NewsTech|view|" + odd + "|Root");
    const QStringList expected = {"Top1", "NT1|NT2", "Flat1", "View1", oddName, "Rt1"};
    for (int index : {1, 2, 3, 4, 5, 0}) {
        browser.evaluate(
            QString("(%1.selectedIndex = %2, %1.dispatchEvent(new Event('change')), true)")
                .arg(box)
                .arg(index));
        EXPECT_TRUE(browser.waitFor(
            QString("frames['mymain'].document.readyState == 'complete' && (%1) == %2")
                .arg(gridNames,
                     QString(
                         QJsonDocument(QJsonArray{expected[index]}).toJson(QJsonDocument::Compact))
                         .mid(1)
                         .chopped(1)),
            loadWaitMs))
            << index << " shows " << js(gridNames).toStdString() << " at "
            << js("frames['mymain'].location.href").toStdString();
    }

    // After a choice, the watcher's reload of the header keeps it selected.
    browser.evaluate(
        QString("(%1.selectedIndex = 2, %1.dispatchEvent(new Event('change')), true)").arg(box));
    ASSERT_TRUE(browser.waitFor("(" + gridNames + ") == 'Flat1'", loadWaitMs));
    refresh(pagetest::catalogueText(2000, false, folders));
    ASSERT_TRUE(browser.waitFor("frames['header'].LoadTime == 2000 && "
                                "frames['header'].document.readyState == 'complete'",
                                watcherWaitMs));
    EXPECT_TRUE(browser.waitFor(box + ".selectedIndex == 2", loadWaitMs));
    EXPECT_EQ(js(gridNames), "Flat1");

    // The editor's folder choice opens the same folder's edit page.
    ASSERT_TRUE(browser.open(url("editor.htm")));
    const QString editBox = "frames['header'].document.forms['edit_head'].DropDown";
    ASSERT_TRUE(
        browser.waitFor("frames.length == 3 && " + editBox + ".options.length == 6", loadWaitMs));
    browser.evaluate(QString("(%1.selectedIndex = 3, %1.dispatchEvent(new Event('change')), true)")
                         .arg(editBox));
    EXPECT_TRUE(
        browser.waitFor("frames['mymain'].location.pathname == '/editview~2.htm' && "
                        "frames['mymain'].document.querySelector('textarea').value == 'View1'",
                        loadWaitMs))
        << js("frames['mymain'].location.href").toStdString();
}

TEST_F(PagesInBrowser, EditorShowsNamesWithMarkupCharactersAsTheyAre) {
    settings.newPage = false;
    const QString folder = QString::fromUtf8("\xc3\x9c"
                                             "ber <&> \"x\" 'y'");
    const QString name = QString::fromUtf8("Caf\xc3\xa9 & <Bar> \"q\" it's \xe2\x82\xac");
    refresh(pagetest::catalogueText(1000, false, {{folder, {{name, "http://bar.invalid/", ""}}}}));
    ASSERT_TRUE(browser.open(url("editor.htm")));
    ASSERT_TRUE(
        browser.waitFor("frames.length == 3 && frames['mymain'].document.readyState == "
                        "'complete' && frames['mymain'].document.querySelector('textarea') != null",
                        loadWaitMs))
        << requestsSeen();
    EXPECT_EQ(js("frames['mymain'].document.querySelector('textarea').value"), name);
    EXPECT_EQ(js("frames['mymain'].document.querySelector('select option:checked').text"), folder);
    EXPECT_EQ(js("frames['footer'].document.querySelector('input[name=B1]').value"),
              "Save Changes");

    ASSERT_TRUE(browser.open(url("viewer.htm")));
    ASSERT_TRUE(viewerLoaded(1000));
    EXPECT_EQ(js(gridNames), name);
    EXPECT_EQ(js("frames['mymain'].document.querySelector('font[size=\"1\"]').textContent"),
              folder);
}
