// The overview page as the page writer makes it: written at every run from
// the catalogue beside the other pages, made from the user's own stylesheet
// when there is one, every favourite of every folder in it, and nothing from
// the catalogue ever becoming markup, script or a script address.
#include "page_fixtures.h"

#include "pages/builtin_texts.h"
#include "pages/folder_page_names.h"
#include "pages/page_writer.h"
#include "platform/settings_model.h"
#include "support/temp_home.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using pages::PageWriter;
using pagetest::Favourite;
using pagetest::Html;

namespace {

class OverviewPageTest : public ::testing::Test {
protected:
    OverviewPageTest()
        : writer(
              settings, [] { return QStringLiteral("8080"); }, [] {}) {}

    QByteArray read(const QString& name) const {
        QFile file(home.dataFolder() + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    void refresh(const QByteArray& catalogueText) {
        home.write("Documents/pagorama/listings.xml", catalogueText);
        writer.writeSupportPages();
        writer.writeCataloguePages(catalogueText);
    }
    Html overview() const { return Html(read("overview.htm")); }
    // The card of the favourite with this name.
    static QString card(const QString& name) {
        return "//*[contains(concat(' ', @class, ' '), ' card ')][span[@class='name'] = '" + name +
               "']";
    }

    testsupport::TempHome home;
    platform::SettingsModel settings;
    PageWriter writer;
};

} // namespace

TEST_F(OverviewPageTest, EveryRunWritesEveryFavouriteOfEveryFolderWithItsFolderPath) {
    for (bool perFolder : {false, true}) {
        SCOPED_TRACE(perFolder);
        settings.newPage = perFolder;
        refresh(pagetest::catalogueText(10, false,
                                        {{"", pagetest::favourites("R", 2)},
                                         {"Links\\Sub", pagetest::favourites("S", 3)},
                                         {"Links", pagetest::favourites("L", 1)}}));
        const Html page = overview();
        ASSERT_TRUE(page.ok());
        EXPECT_EQ(page.texts("//span[@class='name']"),
                  QStringList({"R1", "R2", "S1", "S2", "S3", "L1"}));
        EXPECT_EQ(page.texts("//section/@data-path"), QStringList({"", "Links\\Sub", "Links"}));
        // Each folder's breadcrumb: one button per level, each naming the
        // path it filters by.
        EXPECT_EQ(page.texts("//section[@data-path='Links\\Sub']//nav//button"),
                  QStringList({"Favourites", "Links", "Sub"}));
        EXPECT_EQ(page.texts("//section[@data-path='Links\\Sub']//nav//button/@data-path"),
                  QStringList({"", "Links", "Links\\Sub"}));
        EXPECT_EQ(page.text("//span[@id='count']"), "6 favourites");
        // Pictures are loaded from the compressed copy beside the BMP, only
        // as they come into view; the BMP stays the fallback.
        EXPECT_EQ(page.text(card("S2") + "//img/@src"), "images/2.png");
        EXPECT_EQ(page.text(card("S2") + "//img/@data-original"), "images/2.BMP");
        EXPECT_EQ(page.count("//img[not(@loading='lazy')]"), 0);
        EXPECT_EQ(page.text(card("S2") + "/@href"), "http://example.invalid/S2");
    }

    // The next run writes it anew from the new catalogue.
    refresh(pagetest::catalogueText(20, false, {{"", pagetest::favourites("New", 1)}}));
    EXPECT_EQ(overview().texts("//span[@class='name']"), QStringList({"New1"}));
}

TEST_F(OverviewPageTest, BeforeTheFirstRunTheHeadersLinkLeadsToAnEmptyOverview) {
    settings.newPage = false;
    writer.writeSupportPages();
    writer.writeMissingOverview();
    const Html page = overview();
    ASSERT_TRUE(page.ok());
    EXPECT_EQ(page.count("//li"), 0);
    EXPECT_EQ(page.text("//span[@id='count']"), "0 favourites");
    EXPECT_EQ(Html(read("view_header.htm")).count("//a[@href='overview.htm' and @target='_top']"),
              1);

    // A later start does not replace the overview of the last run.
    refresh(pagetest::catalogueText(10, false, {{"", pagetest::favourites("R", 2)}}));
    writer.writeSupportPages();
    writer.writeMissingOverview();
    EXPECT_EQ(overview().count("//li"), 2);
}

TEST_F(OverviewPageTest, TheUsersOwnStylesheetWins) {
    home.write("Documents/pagorama/overview.xsl",
               "<xsl:stylesheet version=\"1.0\" "
               "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
               "<xsl:output method=\"html\"/><xsl:template match=\"/\"><p>mine "
               "<xsl:value-of select=\"count(//Link)\"/></p></xsl:template></xsl:stylesheet>");
    refresh(pagetest::catalogueText(10, false, {{"", pagetest::favourites("R", 3)}}));
    EXPECT_EQ(Html(read("overview.htm")).text("//p"), "mine 3");

    // Deleting the copy brings the built-in one back at the next run.
    QFile::remove(home.dataFolder() + "overview.xsl");
    refresh(pagetest::catalogueText(11, false, {{"", pagetest::favourites("R", 3)}}));
    EXPECT_EQ(overview().count("//li"), 3);
    EXPECT_EQ(read("overview.xsl"),
              pages::withCrLfLines(pages::builtinText(pages::BuiltinText::Overview)));
}

TEST_F(OverviewPageTest, AFolderNamedLikeTheOverviewGetsAPageOfItsOwn) {
    settings.newPage = true;
    const auto names = pages::folderPageNames({"", "overview", "OverView"});
    EXPECT_EQ(names[1].viewPage, "overview~2.htm");
    EXPECT_EQ(names[2].viewPage, "OverView~3.htm");

    refresh(pagetest::catalogueText(
        10, false,
        {{"", pagetest::favourites("R", 1)}, {"overview", pagetest::favourites("O", 1)}}));
    EXPECT_EQ(overview().count("//li"), 2);
    EXPECT_EQ(Html(read("overview~2.htm")).count("//a[. = 'O1']"), 1);
    // The header script reserves the same name when it picks a folder's page.
    EXPECT_TRUE(read("view_header.htm").contains("\"history.htm\", \"overview.htm\"]"));
    EXPECT_TRUE(read("edit_header.htm").contains("\"history.htm\", \"overview.htm\"]"));
}

TEST_F(OverviewPageTest, FailedFavouritesCarryTheirCodeAndItsMeaning) {
    QList<Favourite> links;
    const QList<int> codes = {200, 301, 302, 501, -97, 404, -1, -99, -98, 503, 299, 418, -42};
    for (int code : codes)
        links.append({"C" + QString::number(code), "http://example.invalid/", "", code});
    refresh(pagetest::catalogueText(10, false, {{"", links}}));
    const Html page = overview();

    for (int code : {200, 301, 302, 501, -97}) {
        const QString name = "C" + QString::number(code);
        EXPECT_EQ(page.count(card(name) + "[contains(@class, 'failed')]"), 0) << code;
        EXPECT_EQ(page.count(card(name) + "//span[@class='code']"), 0) << code;
        EXPECT_EQ(page.count(card(name) + "/@title"), 0) << code;
    }
    const QList<std::pair<int, QString>> meanings = {
        {404, "404 Not Found"},
        {-1, "No answer within 60 seconds"},
        {-99, "Site not reachable (name not found or connection refused)"},
        {503, "503 Service Unavailable"},
        {299, "299 Unexpected answer"},
        {418, "418 Client Error"},
        {-42, "Error -42"}};
    for (const auto& [code, meaning] : meanings) {
        const QString name = "C" + QString::number(code);
        EXPECT_EQ(page.count(card(name) + "[contains(@class, 'failed')]"), 1) << code;
        EXPECT_EQ(page.text(card(name) + "//span[@class='code']"), QString::number(code));
        EXPECT_EQ(page.text(card(name) + "//span[@class='code']/@title"), meaning);
        EXPECT_EQ(page.text(card(name) + "/@title"), meaning); // anywhere on the card
    }
    // An https address left unprobed did not fail: it says which setting checks it.
    EXPECT_EQ(page.count(card("C-98") + "[@class='card unchecked']"), 1);
    EXPECT_EQ(page.text(card("C-98") + "//span[@class='code']"), "-98");
    EXPECT_TRUE(page.text(card("C-98") + "/@title").contains("(SecureSites=1)"));
}

TEST_F(OverviewPageTest, MarkupQuotesAndScriptsFromTheCatalogueStayText) {
    const QString name = "<script>alert(1)</script> \"onmouseover=\"alert(2)";
    const QString title = "x\" onmouseover=\"alert(3)\" y='<img src=x onerror=alert(4)>";
    const QString folder = "F<i>\"q\"\\<script>s";
    QList<Favourite> links = {
        {name, "http://example.invalid/a\"onmouseover=\"alert(5)", "images\\1.BMP", 404, title},
        {"js", "javascript:alert(6)", "", 200, ""},
        {"js2", " \tJaVa\nScRiPt:alert(7)", "", 200, ""},
        {"data", "DATA:text/html,<script>alert(8)</script>", "", 200, ""},
        {"vb", "vbscript:msgbox(9)", "", 200, ""},
        {"ok", "https://example.invalid/javascript:x", "", 200, ""},
    };
    refresh(pagetest::catalogueText(10, false, {{folder, links}}));
    const QByteArray text = read("overview.htm");
    const Html page(text);

    // The page's own two scripts (the picture fallback in the head, the
    // filters at the end) are its only scripts, and no element from the
    // catalogue got an event attribute.
    EXPECT_EQ(page.count("//head/script"), 1);
    EXPECT_EQ(page.count("//script"), 2);
    EXPECT_EQ(page.count("//@*[starts-with(name(), 'on')]"), 0);
    EXPECT_EQ(page.count("//img"), 1);
    EXPECT_FALSE(text.contains("<script>alert"));
    EXPECT_FALSE(text.contains("<i>"));

    EXPECT_EQ(page.texts("//span[@class='name']"),
              QStringList({name, "js", "js2", "data", "vb", "ok"}));
    EXPECT_EQ(page.text("//span[@class='title']"), title);
    EXPECT_EQ(page.text("//section/@data-path"), folder);
    EXPECT_EQ(page.texts("//section//nav//button"),
              QStringList({"Favourites", "F<i>\"q\"", "<script>s"}));

    // Script addresses are shown, never linked, and stay reachable by
    // keyboard as plain cards.
    EXPECT_EQ(page.texts("//a[contains(@class, 'card')]/span[@class='name']"),
              QStringList({name, "ok"}));
    for (const char* shown : {"js", "js2", "data", "vb"})
        EXPECT_EQ(page.count(card(shown) + "[self::div][@tabindex='0']"), 1) << shown;
}
