// Page writing that fails, on the whole program: a user's overview.xsl that
// does not parse costs only the overview (the start-up and every run go on,
// the history analysis included, and old pictures still go), and a run
// whose view page cannot be written leaves pictures that the next good run
// removes.
#include "program_run.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using e2e::ProgramRun;
using testsupport::TempHome;
using testsupport::TestSite;

namespace {

class FailedPages : public ::testing::Test {
protected:
    FailedPages() {
        home.write("Favorites/Alpha.url", e2e::shortcutText(site.url("/title")));
        home.write("Favorites/News/Beta.url", e2e::shortcutText(site.url("/status/404")));
    }

    // One start with its refresh (and the history analysis when asked),
    // ended once the refresh has ended either way; its standard error.
    QString startAndRefresh(bool history) {
        ProgramRun program(home);
        // The program keeps its own settings (the picture counter) from then on.
        if (home.read(".config/pagorama/pagorama.ini").isEmpty())
            program.writeSettings("[Data]\r\nPort=" + QByteArray::number(port) +
                                  "\r\n[General]\r\nStartup=1\r\nAutoStart=0\r\nHistory=" +
                                  (history ? "1" : "0") + "\r\n");
        program.start();
        const int doneLines = history ? 2 : 1;
        EXPECT_TRUE(ProgramRun::waitUntil(
            [&] {
                program.waitForStderr("", 10);
                const QString text = program.stderrText();
                return text.contains("Refresh failed") || text.count("All Done") >= doneLines;
            },
            180000))
            << qPrintable(program.stderrText());
        EXPECT_EQ(program.terminate(), 0);
        return program.stderrText();
    }

    // Every file below images/ (pictures and their copies).
    QStringList pictureFiles() {
        QStringList files;
        QDirIterator it(home.dataFolder() + "images", QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
        return files;
    }
    // Those whose picture listings.xml does not name.
    QStringList unnamedPictures() {
        const QByteArray listings = home.read("Documents/pagorama/listings.xml");
        QStringList unnamed;
        for (const QString& path : pictureFiles()) {
            const QString stem = QFileInfo(path).fileName().section('.', 0, 0);
            if (!listings.contains("images\\" + stem.toUtf8() + ".BMP"))
                unnamed << path;
        }
        return unnamed;
    }

    TempHome home;
    TestSite site;
    const quint16 port = e2e::freePort();
};

} // namespace

TEST_F(FailedPages, AnOverviewStylesheetThatDoesNotParseCostsOnlyTheOverview) {
    home.write("Documents/pagorama/overview.xsl", "<xsl:stylesheet version=\"1.0\" broken");
    for (int start = 1; start <= 2; ++start) {
        SCOPED_TRACE(start);
        const QString output = startAndRefresh(true);
        EXPECT_FALSE(output.contains("Refresh failed")) << qPrintable(output);
        EXPECT_EQ(output.count("All Done"), 2) << qPrintable(output); // the run, the history
        // Start-up (which writes a missing overview) and the run each say it once.
        EXPECT_EQ(output.count("Overview page not written: "), 2) << qPrintable(output);
        EXPECT_TRUE(QFile::exists(home.dataFolder() + "history.xml"));
        for (const char* page : {"viewer.htm", "view_header.htm", "view.htm", "edit.htm"})
            EXPECT_TRUE(home.read("Documents/pagorama/" + QString(page)).contains("http"))
                << page;
        EXPECT_FALSE(QFile::exists(home.dataFolder() + "overview.htm"));
        // The first run's pictures go with the second run.
        EXPECT_EQ(unnamedPictures(), QStringList());
        EXPECT_EQ(pictureFiles().size(), 4); // two pictures, two copies
    }
    EXPECT_TRUE(home.read(".config/pagorama/PagoraERRORLOG.txt").contains("overview.xsl"));
}

TEST_F(FailedPages, AGoodRunRemovesThePicturesThatAFailedRunLeft) {
    EXPECT_FALSE(startAndRefresh(false).contains("Refresh failed"));
    // The view page cannot be written after the catalogue is saved.
    const QByteArray view = home.read("Documents/pagorama/view.xsl");
    home.write("Documents/pagorama/view.xsl", "not a stylesheet");
    EXPECT_TRUE(startAndRefresh(false).contains("Refresh failed"));
    home.write("Documents/pagorama/view.xsl", view);
    const QString output = startAndRefresh(false);
    EXPECT_FALSE(output.contains("Refresh failed")) << qPrintable(output);
    EXPECT_EQ(unnamedPictures(), QStringList());
    EXPECT_EQ(pictureFiles().size(), 4);
}
