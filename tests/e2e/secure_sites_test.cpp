// The whole program with favourites on local https sites whose certificates
// the test makes, trusted only through SSL_CERT_FILE: the probe reads it, and
// the browser must trust what the probe trusts. With "Picture secure (https)
// sites" on, trusted pages are probed and pictured like plain ones and every
// refused certificate gives the "Certificate Error" card; with it off, https
// favourites get the "Secure Site" card unfetched.
#include "catalogue/placeholder.h"
#include "catalogue_reader.h"
#include "data_folder.h"
#include "program_run.h"
#include "support/snapshot_site.h"
#include "support/temp_home.h"
#include "support/test_certificates.h"
#include "support/test_site.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

using e2e::CatalogueFolder;
using e2e::ProgramRun;
using namespace testsupport;

namespace {

QByteArray shortcut(const QString& url) {
    return "[InternetShortcut]\r\nURL=" + url.toUtf8() + "\r\n";
}

QByteArray settings(quint16 port, const QByteArray& general) {
    return "[Data]\r\nPort=" + QByteArray::number(port) +
           "\r\n[General]\r\nStartup=1\r\nHistory=1\r\nHistory_threshhold=10\r\nAutoStart=0\r\n"
           "SortBy=0\r\nNewPage=1\r\n" +
           general;
}

const QByteArray RedPage = "<html><head><title>Red Secure Page</title></head>"
                           "<body style=\"background:#e00000;margin:0\"><h1>Secure</h1>"
                           "</body></html>";
// A title that would run as script or break out of an attribute if it were
// written into a page as markup.
const QByteArray MarkupTitle = "<script>alert(1)</script>\"onmouseover=alert(2) x='y'";

ServerNames elsewhere() {
    ServerNames names;
    names.dns = {QStringLiteral("elsewhere.invalid")};
    names.ip = {QStringLiteral("10.9.8.7")};
    return names;
}

// The card the program draws for a code, drawn here the same way (fonts
// need an application object).
QImage cardFor(int code) {
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app =
        QCoreApplication::instance() ? nullptr : new QGuiApplication(argc, argv);
    Q_UNUSED(app);
    return catalogue::PlaceholderPicture(code);
}

QStringList historyDescriptions(const QByteArray& xml) {
    QXmlStreamReader reader(xml);
    QStringList descriptions;
    while (!reader.atEnd())
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == u"Link")
            descriptions << reader.attributes().value("DESCRIPTION").toString();
    EXPECT_FALSE(reader.hasError()) << qPrintable(reader.errorString());
    return descriptions;
}

class SecureSitesProgram : public ::testing::Test {
protected:
    void SetUp() override {
        for (TestSite* site : {&secure, &selfSigned, &wrongHost, &probeTrusted})
            site->setRawRoute("/red", TestSite::response(200, "text/html", RedPage));
        secure.setRawRoute(
            "/markup", TestSite::response(200, "text/html", TestSite::page(MarkupTitle, "markup")));
        plain.setRawRoute("/to-secure",
                          TestSite::response(301, "text/html", "moved",
                                             "Location: " + secure.url("/red").toUtf8() + "\r\n"));
        home.write("Favorites/Red.url", shortcut(secure.url("/red")));
        home.write("Favorites/Untrusted.url", shortcut(selfSigned.url("/red")));
        home.write("Favorites/WrongHost.url", shortcut(wrongHost.url("/red")));
        home.write("Favorites/ProbeTrusted.url", shortcut(probeTrusted.url("/red")));
        home.write("Favorites/Upgraded.url", shortcut(plain.url("/to-secure")));
        home.write("Favorites/Markup.url", shortcut(secure.url("/markup")));
        // The browsing history: a secure page with a markup title, visited often.
        home.write(".config/pagorama/urlcache.txt",
                   "25\t1\tVisited: me@" + secure.url("/markup").toUtf8() + "\n");
    }

    // Starts the program and waits for the refresh and the history analysis.
    void runProgram(ProgramRun& program, const QByteArray& general) {
        program.writeSettings(settings(port, general));
        program.start();
        ASSERT_TRUE(ProgramRun::waitUntil(
            [&] {
                program.waitForStderr("", 10);
                return program.stderrText().count("All Done") >= 2;
            },
            240000))
            << qPrintable(program.stderrText());
    }

    QList<CatalogueFolder> catalogue() { return e2e::savedCatalogue(home); }

    QImage picture(const e2e::CatalogueLink& link) { return e2e::pictureOf(home, link); }

    TempHome home;
    // Two authorities given to the program only through SSL_CERT_FILE.
    TestAuthority trusted{QStringLiteral("Pagorama e2e authority")};
    TestAuthority otherTrusted{QStringLiteral("Pagorama e2e second authority")};
    ProbeTrust probeTrust{home.path(), {trusted.certificatePem(), otherTrusted.certificatePem()}};
    TestSite secure{trusted.issue()};
    TestSite selfSigned{SelfSignedCertificate()};
    TestSite wrongHost{trusted.issue(elsewhere())};
    TestSite probeTrusted{otherTrusted.issue()};
    TestSite plain;
    const quint16 port = e2e::freePort();
};

} // namespace

TEST_F(SecureSitesProgram, OnSecurePagesArePicturedAndRefusedCertificatesShowTheirCard) {
    ProgramRun program(home);
    runProgram(program, "SecureSites=1\r\n");
    const QList<CatalogueFolder> folders = catalogue();

    const auto red = e2e::findLink(folders, "Red");
    EXPECT_EQ(red.value("PRECODE"), "200");
    EXPECT_EQ(red.value("CODE"), "200");
    EXPECT_EQ(red.value("GIVEN_TITLE"), "Red Secure Page");
    EXPECT_TRUE(red.has("PID_INTSITE_URL")) << "a reachable site has its site properties";
    EXPECT_TRUE(isStrongRed(dominantColour(picture(red))));

    const auto upgraded = e2e::findLink(folders, "Upgraded");
    EXPECT_EQ(upgraded.value("PRECODE"), "301");
    EXPECT_EQ(upgraded.value("CODE"), "200");
    EXPECT_EQ(upgraded.value("GIVEN_TITLE"), "Red Secure Page");
    EXPECT_TRUE(isStrongRed(dominantColour(picture(upgraded))));

    // A title with markup is kept as the text it is, and no page carries
    // it as markup.
    EXPECT_EQ(e2e::findLink(folders, "Markup").value("GIVEN_TITLE"),
              QString::fromUtf8(MarkupTitle));
    for (const char* page : {"view.htm", "viewer.htm", "edit.htm"})
        EXPECT_FALSE(
            home.read(QStringLiteral("Documents/pagorama/") + page).contains("<script>alert(1)"))
            << page;

    const QImage certificateCard = cardFor(catalogue::kCertificateErrorCode);
    for (const char* name : {"Untrusted", "WrongHost"}) {
        SCOPED_TRACE(name);
        const auto link = e2e::findLink(folders, name);
        EXPECT_EQ(link.value("PRECODE"), "-96");
        EXPECT_EQ(link.value("CODE"), "-96");
        EXPECT_FALSE(link.has("GIVEN_TITLE"));
        EXPECT_EQ(picture(link).convertToFormat(QImage::Format_RGB32), certificateCard);
    }
    EXPECT_TRUE(selfSigned.requests().isEmpty() && wrongHost.requests().isEmpty())
        << "a request went over a connection whose certificate was refused";

    // The browser trusts every certificate the probe trusts: a site of the
    // second authority is pictured too, not refused with the card.
    const auto probeTrustedLink = e2e::findLink(folders, "ProbeTrusted");
    EXPECT_EQ(probeTrustedLink.value("PRECODE"), "200");
    EXPECT_EQ(probeTrustedLink.value("CODE"), "200");
    EXPECT_TRUE(isStrongRed(dominantColour(picture(probeTrustedLink))));
    EXPECT_GT(browserRequestCount(probeTrusted), 0);

    // The history analysis reads the secure page's title; its markup shows
    // as text in the suggestions page.
    EXPECT_EQ(historyDescriptions(home.read("Documents/pagorama/history.xml")),
              QStringList{QString::fromUtf8(MarkupTitle)});
    const QByteArray historyPage = home.read("Documents/pagorama/history.htm");
    EXPECT_FALSE(historyPage.contains("<script>alert(1)"));
    // Whole, as the text of an element (inside an attribute its quote
    // would be escaped too).
    EXPECT_TRUE(historyPage.contains(">&lt;script&gt;alert(1)&lt;/script&gt;\"onmouseover=alert(2) "
                                     "x='y'<"))
        << historyPage.constData();

    // "Add to favourites" names the favourite after the secure page's title.
    QByteArray address = secure.url("/red").toUtf8();
    address.replace(":", "%3A").replace("/", "%2F");
    const auto added = e2e::postForm(port, "/cgi-bin/cgifrm2.exe", address + "=Add+to+favourites");
    EXPECT_TRUE(added.statusLine.contains(" 200")) << added.statusLine.constData();
    EXPECT_TRUE(QFileInfo::exists(home.favorites() + "/Red Secure Page.URL"))
        << added.body.constData();

    EXPECT_EQ(program.terminate(), 0) << qPrintable(program.stderrText());
    EXPECT_EQ(home.setting("General", "SecureSites"), "1");
}

TEST_F(SecureSitesProgram, OffHttpsFavouritesAreNeverFetchedAndShowSecureSiteUntilTurnedOn) {
    ProgramRun program(home);
    runProgram(program, {});
    const QList<CatalogueFolder> folders = catalogue();

    const QImage secureCard = cardFor(catalogue::kSecureSiteCode);
    for (const char* name : {"Red", "Untrusted", "WrongHost", "ProbeTrusted", "Markup"}) {
        SCOPED_TRACE(name);
        const auto link = e2e::findLink(folders, name);
        EXPECT_EQ(link.value("PRECODE"), "-98");
        EXPECT_EQ(link.value("CODE"), "-98");
        EXPECT_EQ(picture(link).convertToFormat(QImage::Format_RGB32), secureCard);
    }
    for (const TestSite* site : {&secure, &selfSigned, &wrongHost, &probeTrusted})
        EXPECT_EQ(site->connectionCount(), 0);
    // The history names the secure page after its host.
    EXPECT_EQ(historyDescriptions(home.read("Documents/pagorama/history.xml")),
              QStringList{"127.0.0.1"});

    EXPECT_EQ(program.terminate(), 0) << qPrintable(program.stderrText());
    EXPECT_EQ(home.setting("General", "SecureSites"), "0");

    // Turned on, with "Get only if a new site" (on by default), the
    // "Secure Site" cards give way to pictures of the pages.
    ProgramRun turnedOn(home);
    runProgram(turnedOn, "SecureSites=1\r\n");
    const auto red = e2e::findLink(catalogue(), "Red");
    EXPECT_EQ(red.value("CODE"), "200");
    EXPECT_TRUE(isStrongRed(dominantColour(picture(red))));
    EXPECT_EQ(turnedOn.terminate(), 0) << qPrintable(turnedOn.stderrText());
}
