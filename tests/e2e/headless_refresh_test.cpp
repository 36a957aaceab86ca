// The whole program without a display: it starts, refreshes the Favorites of
// a temporary HOME against a local test site, writes the catalogue, the
// pictures and the pages, serves them, and ends on SIGTERM with its settings
// saved. A second start refreshes again and removes the first run's pictures.
#include "catalogue_reader.h"
#include "data_folder.h"
#include "picture_colour.h"
#include "program_run.h"
#include "support/http_test_client.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QImage>
#include <gtest/gtest.h>

#include <atomic>

using e2e::CatalogueFolder;
using e2e::mainColour;
using e2e::ProgramRun;
using testsupport::TempHome;
using testsupport::TestSite;

namespace {

QByteArray shortcut(const QString& url) {
    return "[InternetShortcut]\r\nURL=" + url.toUtf8() + "\r\n";
}

QByteArray settings(quint16 port, const QByteArray& general = {}) {
    return "[Data]\r\nPort=" + QByteArray::number(port) +
           "\r\n[General]\r\nStartup=1\r\nHistory=0\r\nAutoStart=0\r\nSortBy=0\r\nNewPage=1\r\n" +
           general;
}

const QStringList ShortcutProperties = {
    "PID_IS_URL",     "PID_IS_NAME",        "PID_IS_WORKINGDIR", "PID_IS_HOTKEY",
    "PID_IS_SHOWCMD", "PID_IS_ICONINDEX",   "PID_IS_ICONFILE",   "PID_IS_WHATSNEW",
    "PID_IS_AUTHOR",  "PID_IS_DESCRIPTION", "PID_IS_COMMENT"};
const QStringList SiteProperties = {
    "PID_INTSITE_WHATSNEW",     "PID_INTSITE_AUTHOR",     "PID_INTSITE_LASTVISIT",
    "PID_INTSITE_LASTMOD",      "PID_INTSITE_VISITCOUNT", "PID_INTSITE_DESCRIPTION",
    "PID_INTSITE_COMMENT",      "PID_INTSITE_FLAGS",      "PID_INTSITE_CONTENTLEN",
    "PID_INTSITE_CONTENTCODE",  "PID_INTSITE_RECURSE",    "PID_INTSITE_WATCH",
    "PID_INTSITE_SUBSCRIPTION", "PID_INTSITE_URL",        "PID_INTSITE_TITLE",
    "PID_INTSITE_CODEPAGE",     "PID_INTSITE_TRACKING"};

QStringList expectedNames(bool reachable, bool titled) {
    QStringList names{"UNIQUE", "BROWSER", "SORT_ORDER", "DESCRIPTION", "PRECODE"};
    names << ShortcutProperties;
    if (reachable)
        names << SiteProperties;
    names << "VISITS"
          << "CODE";
    if (titled)
        names << "GIVEN_TITLE";
    names << "IMAGE";
    return names;
}

// A page in one strong colour with a line of text (a page of one flat colour
// counts as drawn by scripts).
QByteArray colouredPage(const char* colour) {
    return QByteArray("<html><head><title>Coloured</title></head><body style=\"background:") +
           colour + ";margin:0\"><h1>Coloured page</h1></body></html>";
}

class HeadlessProgram : public ::testing::Test {
protected:
    QList<CatalogueFolder> catalogue() {
        QString error;
        const auto folders =
            e2e::readCatalogue(home.read("Documents/pagorama/listings.xml"), &error);
        EXPECT_TRUE(error.isEmpty()) << qPrintable(error);
        return folders;
    }

    TempHome home;
    TestSite site;
    const quint16 port = e2e::freePort();
};

} // namespace

TEST_F(HeadlessProgram, RefreshesCataloguesAndServesThePages) {
    home.write("Favorites/beta.url", shortcut(site.url("/title")));
    site.setRawRoute("/red", TestSite::response(200, "text/html", colouredPage("#ff0000")));
    home.write("Favorites/Alpha.url", shortcut(site.url("/red")));
    home.write("Favorites/News/Tech/Gadget.url", shortcut(site.url("/status/404")));
    home.write("Favorites/.hidden/Secret.url", shortcut(site.url("/download.zip")));
    home.write("Favorites/Empty/readme.txt", "not a favourite");
    home.write("Favorites/Pictures/Blank.url", shortcut(site.url("/blank")));
    home.write("Favorites/Pictures/Bank.url", shortcut("https://bank.example.invalid/"));
    home.write("Favorites/Pictures/Moved.url", shortcut(site.url("/redirect/302")));

    ProgramRun program(home);
    program.writeSettings(settings(port));
    program.start();
    ASSERT_TRUE(program.waitForStderr("Found 7 web favourites.", 60000))
        << qPrintable(program.stderrText());
    ASSERT_TRUE(program.waitForStderr("All Done", 180000)) << qPrintable(program.stderrText());

    const QList<CatalogueFolder> folders = catalogue();
    // One Folder per folder that holds favourites, in scan order: the root's
    // files first, then the subfolders by name without regard to case.
    ASSERT_EQ(folders.size(), 4);
    EXPECT_EQ(folders[0].location, "");
    EXPECT_EQ(folders[1].location, ".hidden");
    EXPECT_EQ(folders[2].location, "News\\Tech");
    EXPECT_EQ(folders[3].location, "Pictures");
    EXPECT_EQ(folders[0].descriptions(), (QStringList{"Alpha", "beta"})); // alphabetical, any case
    EXPECT_EQ(folders[2].descriptions(), QStringList{"Gadget"});

    const auto beta = e2e::findLink(folders, "beta");
    EXPECT_EQ(beta.names(), expectedNames(true, true));
    EXPECT_EQ(beta.value("SORT_ORDER"), "-1");
    EXPECT_EQ(beta.value("PRECODE"), "200");
    EXPECT_EQ(beta.value("CODE"), "200");
    EXPECT_EQ(beta.value("PID_IS_URL"), site.url("/title"));
    EXPECT_EQ(beta.value("VISITS"), "0");
    EXPECT_EQ(beta.value("GIVEN_TITLE"), "Test Title");

    const auto gadget = e2e::findLink(folders, "Gadget");
    EXPECT_EQ(gadget.names(), expectedNames(false, false));
    EXPECT_EQ(gadget.value("PRECODE"), "404");
    EXPECT_EQ(gadget.value("CODE"), "404");
    const QByteArray gadgetPath = QFile::encodeName(home.favorites() + "/News/Tech/Gadget.url");
    EXPECT_EQ(gadget.value("UNIQUE"), QString::fromLatin1(gadgetPath.toHex().toUpper()));

    const auto secret = e2e::findLink(folders, "Secret");
    EXPECT_EQ(secret.names(), expectedNames(true, false)); // neither page nor picture: no title
    EXPECT_EQ(secret.value("CODE"), "200");

    // The pictures: a thumbnail of the red page, the 404 card on khaki, the
    // file icon on white.
    const QImage alpha = e2e::pictureOf(home, e2e::findLink(folders, "Alpha"));
    ASSERT_FALSE(alpha.isNull());
    EXPECT_EQ(mainColour(alpha), QColor(255, 0, 0));
    const QImage error = e2e::pictureOf(home, gadget);
    ASSERT_EQ(error.size(), QSize(122, 122));
    EXPECT_EQ(QColor(error.pixel(2, 2)), QColor(189, 189, 115));
    const QImage icon = e2e::pictureOf(home, secret);
    ASSERT_EQ(icon.size(), QSize(122, 122));
    EXPECT_EQ(QColor(icon.pixel(2, 2)), QColor(Qt::white));

    // A page of one flat colour counts as drawn by scripts: "Scripted Site"
    // on khaki; an https site is never fetched: "Secure Site" on white; a
    // redirected favourite is taken from its final address.
    const auto blank = e2e::findLink(folders, "Blank");
    EXPECT_EQ(blank.value("GIVEN_TITLE"), "Blank");
    EXPECT_EQ(QColor(e2e::pictureOf(home, blank).pixel(2, 2)), QColor(189, 189, 115));
    const auto bank = e2e::findLink(folders, "Bank");
    EXPECT_EQ(bank.value("PRECODE"), "-98");
    EXPECT_EQ(bank.value("CODE"), "-98");
    EXPECT_EQ(QColor(e2e::pictureOf(home, bank).pixel(2, 2)), QColor(Qt::white));
    const auto moved = e2e::findLink(folders, "Moved");
    EXPECT_EQ(moved.value("PRECODE"), "302");
    EXPECT_EQ(moved.value("PID_IS_URL"), site.url("/redirect/302")); // the address as stored
    EXPECT_EQ(moved.value("CODE"), "200");
    EXPECT_EQ(moved.value("GIVEN_TITLE"), "Test Title");
    EXPECT_FALSE(e2e::pictureOf(home, moved).isNull());
    // The temporary shortcut of the redirected favourite is gone again.
    EXPECT_EQ(QDir(home.favorites() + "/Pictures").entryList(QDir::Files).size(), 3);
    const QImage blankPicture = e2e::pictureOf(home, blank);
    EXPECT_NE(e2e::pictureOf(home, bank), blankPicture);

    // The pages are written and served by the program's own server.
    EXPECT_FALSE(home.read("Documents/pagorama/view.htm").isEmpty());
    EXPECT_FALSE(home.read("Documents/pagorama/NewsTech.htm").isEmpty());
    const auto root = testsupport::fetch(port, "GET / HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(root.statusLine.contains(" 200")) << root.statusLine.constData();
    EXPECT_EQ(root.body, home.read("Documents/pagorama/viewer.htm"));
    QString image = beta.value("IMAGE");
    const auto bitmap =
        testsupport::fetch(port, "GET /" + image.replace('\\', '/').toUtf8() + " HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(bitmap.statusLine.contains(" 200")) << bitmap.statusLine.constData();
    EXPECT_TRUE(bitmap.body.startsWith("BM"));
    const auto missing = testsupport::fetch(port, "GET /no-such-page.htm HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(missing.statusLine.contains(" 404"));

    // SIGTERM ends it like "Close": settings saved, the counter advanced.
    EXPECT_EQ(program.terminate(), 0) << qPrintable(program.stderrText());
    const QByteArray ini = home.read(".config/pagorama/pagorama.ini");
    EXPECT_EQ(home.setting("General", "EvenFileName"), "2");
    EXPECT_EQ(home.setting("Data", "Port"), QString::number(port));
}

TEST_F(HeadlessProgram, NextRunRemovesOldPicturesAndKeepsAnUnreachableSitesPicture) {
    std::atomic<bool> siteUp{true};
    site.setRoute("/flaky",
                  [&siteUp](const TestSite::Request& request, TestSite::Connection& connection) {
                      const QByteArray body = colouredPage("#0000ff");
                      QByteArray answer = siteUp ? TestSite::response(200, "text/html", body)
                                                 : TestSite::response(503, "text/html", "down");
                      if (request.method == "HEAD")
                          answer = answer.left(answer.indexOf("\r\n\r\n") + 4);
                      connection.send(answer);
                  });
    home.write("Favorites/Flaky.url", shortcut(site.url("/flaky")));
    home.write("Favorites/Steady.url", shortcut(site.url("/title")));
    // Fresh pictures every run, and no error card for a site that is down.
    const QByteArray options = "New_Only=0\r\nShowCode=0\r\n";
    {
        ProgramRun first(home);
        first.writeSettings(settings(port, options));
        first.start();
        ASSERT_TRUE(first.waitForStderr("All Done", 180000)) << qPrintable(first.stderrText());
        ASSERT_EQ(first.terminate(), 0);
    }
    const auto firstFlaky = e2e::findLink(catalogue(), "Flaky");
    const QImage firstPicture = e2e::pictureOf(home, firstFlaky);
    ASSERT_FALSE(firstPicture.isNull());
    EXPECT_EQ(mainColour(firstPicture), QColor(0, 0, 255));

    siteUp = false;
    {
        ProgramRun second(home);
        second.start();
        ASSERT_TRUE(second.waitForStderr("All Done", 180000)) << qPrintable(second.stderrText());
        ASSERT_EQ(second.terminate(), 0);
    }
    const auto folders = catalogue();
    const auto flaky = e2e::findLink(folders, "Flaky");
    EXPECT_EQ(flaky.value("CODE"), "503");
    EXPECT_NE(flaky.value("IMAGE"), firstFlaky.value("IMAGE")); // this run's name
    EXPECT_EQ(e2e::pictureOf(home, flaky), firstPicture); // the earlier picture, carried forward

    // Only this run's pictures and their compressed and large copies are
    // left: every name starts with the encoded counter "   3" (the first run
    // was "   2").
    const QStringList files = QDir(home.dataFolder() + "images").entryList(QDir::Files);
    EXPECT_EQ(files.size(), 6) << qPrintable(files.join(' '));
    EXPECT_EQ(QDir(home.dataFolder() + "images").entryList({"*.large.png"}, QDir::Files).size(), 2);
    for (const QString& file : files)
        EXPECT_TRUE(file.startsWith("20202033")) << qPrintable(file);
}
