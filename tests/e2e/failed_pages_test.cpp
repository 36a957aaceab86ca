// Page writing that fails, on the whole program: a user's overview.xsl that
// does not parse costs only the overview (start-up, run and history analysis
// go on, old pictures still go), and the pictures of a run whose view page
// could not be written go with the next good run.
#include "program_run.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QDirIterator>
#include <QFile>
#include <gtest/gtest.h>

namespace {

class FailedPages : public ::testing::Test {
protected:
    FailedPages() {
        home.write("Favorites/Alpha.url", e2e::shortcutText(site.url("/title")));
        home.write("Favorites/News/Beta.url", e2e::shortcutText(site.url("/status/404")));
    }

    // One start, ended once its refresh (and history analysis) ended either
    // way; its standard error. Later starts keep the program's own settings.
    QString startAndRefresh(bool history = false) {
        e2e::ProgramRun program(home);
        if (home.read(".config/pagorama/pagorama.ini").isEmpty())
            program.writeSettings("[Data]\r\nPort=" + QByteArray::number(port) +
                                  "\r\n[General]\r\nStartup=1\r\nAutoStart=0\r\nHistory=" +
                                  (history ? "1" : "0") + "\r\n");
        program.start();
        EXPECT_TRUE(e2e::ProgramRun::waitUntil(
            [&] {
                const QString text = (program.waitForStderr("", 10), program.stderrText());
                return text.contains("Refresh failed") || text.count("All Done") > int(history);
            },
            180000));
        EXPECT_EQ(program.terminate(), 0);
        return program.stderrText();
    }

    // The files below images/ (pictures and copies) whose picture
    // listings.xml does not name; *total counts them all.
    QStringList unnamedPictures(int* total) {
        const QByteArray listings = home.read("Documents/pagorama/listings.xml");
        QStringList unnamed;
        *total = 0;
        for (QDirIterator it(home.dataFolder() + "images", QDir::Files,
                             QDirIterator::Subdirectories);
             it.hasNext(); ++*total)
            if (const QString name = it.next().section('/', -1);
                !listings.contains("images\\" + name.section('.', 0, 0).toUtf8() + ".BMP"))
                unnamed << name;
        return unnamed;
    }

    testsupport::TempHome home;
    testsupport::TestSite site;
    const quint16 port = e2e::freePort();
};

} // namespace

TEST_F(FailedPages, AnOverviewStylesheetThatDoesNotParseCostsOnlyTheOverview) {
    home.write("Documents/pagorama/overview.xsl", "<xsl:stylesheet version=\"1.0\" broken");
    for (int start = 1; start <= 2; ++start) {
        SCOPED_TRACE(start);
        const QString output = startAndRefresh(true);
        EXPECT_EQ(output.count("All Done"), 2) << qPrintable(output); // the run, the history
        // Start-up (writing the missing overview) and the run say it once each.
        EXPECT_EQ(output.count("Overview page not written: "), 2);
        EXPECT_TRUE(QFile::exists(home.dataFolder() + "history.xml"));
        EXPECT_TRUE(home.read("Documents/pagorama/viewer.htm").contains("view_header.htm"));
        int total = 0; // the first run's pictures went with the second run
        EXPECT_EQ(unnamedPictures(&total), QStringList());
        EXPECT_EQ(total, 6); // two pictures, each with its two copies
    }
    EXPECT_TRUE(home.read(".config/pagorama/PagoraERRORLOG.txt").contains("overview.xsl"));
}

TEST_F(FailedPages, AGoodRunRemovesThePicturesThatAFailedRunLeft) {
    EXPECT_FALSE(startAndRefresh().contains("Refresh failed"));
    // The view page cannot be written after the catalogue is saved.
    const QByteArray view = home.read("Documents/pagorama/view.xsl");
    home.write("Documents/pagorama/view.xsl", "not a stylesheet");
    EXPECT_TRUE(startAndRefresh().contains("Refresh failed"));
    home.write("Documents/pagorama/view.xsl", view);
    EXPECT_FALSE(startAndRefresh().contains("Refresh failed"));
    int total = 0;
    EXPECT_EQ(unnamedPictures(&total), QStringList());
    EXPECT_EQ(total, 6);
}
