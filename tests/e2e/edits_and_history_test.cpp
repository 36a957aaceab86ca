// The whole program with the browsing history analysis on and the two
// forms posted to its server: the suggestions page lists a page visited
// often, the editor renames a favourite, and the history page adds one.
#include "catalogue/encodings.h"
#include "program_run.h"
#include "support/http_test_client.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

using e2e::ProgramRun;
using testsupport::TempHome;
using testsupport::TestSite;

using e2e::postForm;

TEST(ProgramForms, HistorySuggestionsAndEditsThroughTheServer) {
    TempHome home;
    TestSite site;
    const quint16 port = e2e::freePort();
    home.write("Favorites/Weather.url",
               "[InternetShortcut]\r\nURL=" + site.url("/title").toUtf8() + "\r\n");
    // The browsing history: one page visited often, one rarely.
    home.write(".config/pagorama/urlcache.txt",
               "25\t1\tVisited: me@" + site.url("/x/c.html").toUtf8() + "\n" +
                   "3\t1\tVisited: me@" + site.url("/a/b").toUtf8() + "\n");

    ProgramRun program(home);
    program.writeSettings("[Data]\r\nPort=" + QByteArray::number(port) +
                          "\r\n[General]\r\nHistory=1\r\nHistory_threshhold=10\r\nAutoStart=0\r\n");
    program.start();
    ASSERT_TRUE(program.waitForStderr("Found 2 web histories.", 180000))
        << qPrintable(program.stderrText());
    ASSERT_TRUE(ProgramRun::waitUntil(
        [&] {
            program.waitForStderr("", 10);
            return program.stderrText().count("All Done") >= 2;
        },
        180000))
        << qPrintable(program.stderrText());

    const QByteArray historyXml = home.read("Documents/pagorama/history.xml");
    QXmlStreamReader reader(historyXml);
    QStringList descriptions;
    while (!reader.atEnd())
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == u"Link")
            descriptions << reader.attributes().value("DESCRIPTION").toString();
    EXPECT_FALSE(reader.hasError()) << qPrintable(reader.errorString());
    EXPECT_EQ(descriptions, QStringList{"X C"}); // "A B" was visited 3 times only
    EXPECT_TRUE(home.read("Documents/pagorama/history.htm").contains("X C"));

    // The editor renames a favourite.
    const QByteArray unique =
        catalogue::HexEncode(QFile::encodeName(home.favorites() + "/Weather.url"));
    const auto renamed = postForm(port, "/cgi-bin/cgifrm1.exe", "Edit" + unique + "=Forecast");
    EXPECT_TRUE(renamed.statusLine.contains(" 200")) << renamed.raw.constData();
    EXPECT_TRUE(QFileInfo::exists(home.favorites() + "/Forecast.URL")) << renamed.body.constData();
    EXPECT_FALSE(QFileInfo::exists(home.favorites() + "/Weather.url"));

    // The history page adds the suggested page as a favourite named after its title.
    QByteArray address = site.url("/x/c.html").toUtf8();
    address.replace(":", "%3A").replace("/", "%2F");
    const auto added = postForm(port, "/cgi-bin/cgifrm2.exe", address + "=Add+to+favourites");
    EXPECT_TRUE(added.statusLine.contains(" 200")) << added.statusLine.constData();
    EXPECT_TRUE(home.read("Favorites/X C.URL").contains("URL=" + site.url("/x/c.html").toUtf8()));

    EXPECT_EQ(program.terminate(), 0) << qPrintable(program.stderrText());
}
