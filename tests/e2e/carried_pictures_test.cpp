// "Get only if a new site" over several runs of the whole program: keeping a
// favourite's picture from the run before changes nothing but the picture.
// Every favourite is still probed and keeps its code and page title (decoded
// from the page's HTML), and a site that has gone down shows its error card
// when codes are shown, even though it had a picture before.
#include "catalogue_reader.h"
#include "data_folder.h"
#include "program_run.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QImage>
#include <gtest/gtest.h>

#include <memory>

using e2e::CatalogueFolder;
using e2e::ProgramRun;
using e2e::shortcutText;
using testsupport::TempHome;
using testsupport::TestSite;

namespace {

QByteArray redPage(const QByteArray& title) {
    return "<html><head><title>" + title +
           "</title></head><body style=\"background:#ff0000;margin:0\"><h1>Red</h1></body></html>";
}

class CarriedPictures : public ::testing::Test {
protected:
    QList<CatalogueFolder> runOnce() {
        ProgramRun program(home);
        program.start();
        EXPECT_TRUE(program.waitForStderr("All Done", 180000)) << qPrintable(program.stderrText());
        EXPECT_EQ(program.terminate(), 0) << qPrintable(program.stderrText());
        return e2e::savedCatalogue(home);
    }
    QImage picture(const e2e::CatalogueLink& link) const { return e2e::pictureOf(home, link); }

    TempHome home;
    std::unique_ptr<TestSite> site = std::make_unique<TestSite>();
    const quint16 port = e2e::freePort();
};

} // namespace

TEST_F(CarriedPictures, EveryRunKeepsCodesAndTitlesAndADownSiteShowsItsCode) {
    site->setRawRoute(
        "/cafe", TestSite::response(200, "text/html", redPage("Caf&eacute; &amp; Cr&#232;me")));
    home.write("Favorites/Cafe.url", shortcutText(site->url("/cafe")));
    home.write("Favorites/Plain.url", shortcutText(site->url("/title")));
    home.write("Favorites/News/Plain.url", shortcutText(site->url("/title"))); // same name
    home.write(".config/pagorama/pagorama.ini",
               "[Data]\r\nPort=" + QByteArray::number(port) +
                   "\r\n[General]\r\nStartup=1\r\nHistory=0\r\nAutoStart=0\r\nNewPage=1\r\n"
                   "New_Only=1\r\nShowCode=1\r\n");

    QImage firstCafe;
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        const QList<CatalogueFolder> folders = runOnce();
        int links = 0, titled = 0;
        for (const CatalogueFolder& folder : folders) {
            for (const e2e::CatalogueLink& link : folder.links) {
                ++links;
                EXPECT_EQ(link.value("CODE"), "200") << qPrintable(link.value("DESCRIPTION"));
                if (link.has("GIVEN_TITLE"))
                    ++titled;
                else
                    EXPECT_EQ(link.value("DESCRIPTION"), "Plain");
                EXPECT_FALSE(picture(link).isNull()) << qPrintable(link.value("DESCRIPTION"));
            }
        }
        EXPECT_EQ(links, 3);
        // The second favourite named Plain shares the picture the first made
        // in this run and asks nothing more of its site: no title.
        EXPECT_EQ(titled, 2);
        const auto cafe = e2e::findLink(folders, "Cafe");
        // The title as the page shows it, escaped once in the catalogue.
        EXPECT_EQ(cafe.value("GIVEN_TITLE"), QStringLiteral("Caf\u00e9 & Cr\u00e8me"));
        EXPECT_EQ(e2e::findLink(folders, "Plain").value("GIVEN_TITLE"), "Test Title");
        if (run == 1)
            firstCafe = picture(cafe);
        else
            EXPECT_EQ(picture(cafe), firstCafe); // carried forward, not captured again
    }

    // The site goes away: its favourites show the error card, not the
    // picture they had.
    site.reset();
    const QList<CatalogueFolder> folders = runOnce();
    const auto cafe = e2e::findLink(folders, "Cafe");
    EXPECT_EQ(cafe.value("CODE"), "-99");
    EXPECT_FALSE(cafe.has("GIVEN_TITLE"));
    const QImage card = picture(cafe);
    ASSERT_EQ(card.size(), QSize(122, 122));
    EXPECT_EQ(QColor(card.pixel(2, 2)), QColor(189, 189, 115));
}
