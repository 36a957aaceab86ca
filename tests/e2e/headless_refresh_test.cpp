// The whole program without a display: it starts, refreshes the Favorites of
// a temporary HOME, writes the catalogue and the pages, serves them, and
// ends on SIGTERM with its settings saved.
#include "program_run.h"
#include "support/http_test_client.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QFile>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

using e2e::ProgramRun;
using testsupport::TempHome;
using testsupport::TestSite;

namespace {

struct Folder {
    QString location;
    QStringList descriptions;
    QStringList uniques;
    QStringList sortOrders;
};

QList<Folder> readCatalogue(const QByteArray& xml, QString* error) {
    QList<Folder> folders;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement())
            continue;
        if (reader.name() == u"Folder") {
            folders.append({reader.attributes().value("Location").toString(), {}, {}, {}});
        } else if (reader.name() == u"Link" && !folders.isEmpty()) {
            const auto attrs = reader.attributes();
            folders.last().descriptions << attrs.value("DESCRIPTION").toString();
            folders.last().uniques << attrs.value("UNIQUE").toString();
            folders.last().sortOrders << attrs.value("SORT_ORDER").toString();
        }
    }
    if (reader.hasError())
        *error = reader.errorString();
    return folders;
}

QByteArray shortcut(const QString& url) {
    return "[InternetShortcut]\r\nURL=" + url.toUtf8() + "\r\n";
}

} // namespace

TEST(HeadlessProgram, RefreshesCataloguesAndServesThePages) {
    TempHome home;
    TestSite site;
    const quint16 port = e2e::freePort();
    home.write("Favorites/beta.url", shortcut(site.url("/title")));
    home.write("Favorites/Alpha.url", shortcut(site.url("/colour")));
    home.write("Favorites/News/Tech/Gadget.url", shortcut(site.url("/status/404")));
    home.write("Favorites/.hidden/Secret.url", shortcut(site.url("/download.zip")));
    home.write("Favorites/Empty/readme.txt", "not a favourite");

    ProgramRun program(home);
    program.writeSettings("[Data]\r\nPort=" + QByteArray::number(port) +
                          "\r\n[General]\r\nStartup=1\r\nHistory=0\r\nAutoStart=0\r\n"
                          "SortBy=0\r\nNewPage=1\r\n");
    program.start();

    ASSERT_TRUE(program.waitForStderr("Found 4 web favourites.", 60000)) << qPrintable(program.stderrText());
    ASSERT_TRUE(program.waitForStderr("All Done", 180000)) << qPrintable(program.stderrText());

    const QByteArray catalogue = home.read("Documents/pagorama/listings.xml");
    QString error;
    const QList<Folder> folders = readCatalogue(catalogue, &error);
    ASSERT_TRUE(error.isEmpty()) << qPrintable(error);
    // One Folder per folder that holds favourites, in scan order: the root's
    // files first, then the subfolders by name without regard to case.
    ASSERT_EQ(folders.size(), 3);
    EXPECT_EQ(folders[0].location, "");
    EXPECT_EQ(folders[1].location, ".hidden");
    EXPECT_EQ(folders[2].location, "News\\Tech");
    // Alphabetical order without regard to case.
    EXPECT_EQ(folders[0].descriptions, (QStringList{"Alpha", "beta"}));
    EXPECT_EQ(folders[0].sortOrders, (QStringList{"-1", "-1"}));
    EXPECT_EQ(folders[2].descriptions, QStringList{"Gadget"});
    const QByteArray gadgetPath = QFile::encodeName(home.favorites() + "/News/Tech/Gadget.url");
    EXPECT_EQ(folders[2].uniques, QStringList{QString::fromLatin1(gadgetPath.toHex().toUpper())});

    // The pages are written and served by the program's own server.
    EXPECT_FALSE(home.read("Documents/pagorama/view.htm").isEmpty());
    EXPECT_FALSE(home.read("Documents/pagorama/NewsTech.htm").isEmpty());
    const auto root = testsupport::fetch(port, "GET / HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(root.statusLine.contains(" 200")) << root.statusLine.constData();
    EXPECT_EQ(root.body, home.read("Documents/pagorama/viewer.htm"));
    const auto missing = testsupport::fetch(port, "GET /no-such-page.htm HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(missing.statusLine.contains(" 404"));

    // SIGTERM ends it like "Close": settings saved, the counter advanced.
    EXPECT_EQ(program.terminate(), 0) << qPrintable(program.stderrText());
    const QByteArray ini = home.read(".config/pagorama/pagorama.ini");
    EXPECT_TRUE(ini.contains("EvenFileName=2")) << ini.constData();
    EXPECT_TRUE(ini.contains("Port=" + QByteArray::number(port))) << ini.constData();
}
