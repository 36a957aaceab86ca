// What an import keeps of the browser: each shortcut dated by its bookmark,
// the browser's order as the folder's organiser order (which the pages
// follow when sorted by the organiser), and a record of what was imported,
// so a favourite the user deleted after a command-line import stays deleted
// when the program later imports new bookmarks itself.
#include "catalogue/favourite_order.h"
#include "catalogue_reader.h"
#include "program_command.h"
#include "program_run.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using e2e::ProgramRun;
using testsupport::TempHome;
using testsupport::TestSite;

namespace {

constexpr qint64 SecondsFrom1601To1970 = 11644473600LL;

struct Mark {
    QString name, url;
    qint64 unixSeconds; // 0: no date
};

QByteArray chromiumNode(const Mark& mark) {
    const qint64 chromiumTime =
        mark.unixSeconds == 0 ? 0 : (mark.unixSeconds + SecondsFrom1601To1970) * 1000000;
    return R"({"name": ")" + mark.name.toUtf8() + R"(", "type": "url", "url": ")" +
           mark.url.toUtf8() + R"(", "date_added": ")" + QByteArray::number(chromiumTime) + R"("})";
}

QByteArray chromiumFolder(const QString& name, const QList<Mark>& marks) {
    QByteArrayList nodes;
    for (const Mark& mark : marks)
        nodes << chromiumNode(mark);
    return R"({"name": ")" + name.toUtf8() + R"(", "type": "folder", "children": [)" +
           nodes.join(",") + "]}";
}

QStringList positionsOrder(const QString& location) {
    catalogue::MenuOrder order;
    order.ReadMenuOrder(location);
    QList<catalogue::MenuOrderEntry> entries = order.entries();
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.position < b.position; });
    QStringList names;
    for (const auto& entry : entries)
        names << QStringLiteral("%1:%2").arg(entry.position).arg(entry.name);
    return names;
}

TEST(ImportKeepsOrder, DatesOrderAndRecordSurviveIntoTheProgramsOwnImport) {
    TempHome home;
    TestSite site;
    // Twelve bookmarks in an order that is not the names' order, dated a
    // day apart; one without a date, one dated in the future.
    const QStringList names = {"kilo",  "alpha", "lima",    "echo", "bravo",   "juliet",
                               "delta", "hotel", "charlie", "golf", "foxtrot", "india"};
    QList<Mark> bar;
    const qint64 base = 1500000000;
    for (int i = 0; i < names.size(); ++i)
        bar.append({names[i], site.url("/title?" + names[i]), base + i * 86400});
    bar[3].unixSeconds = 0;
    bar[5].unixSeconds = QDateTime::currentSecsSinceEpoch() + 365 * 86400;
    QList<Mark> big;
    for (int i = 0; i < 300; ++i)
        big.append({QStringLiteral("n%1").arg(299 - i, 3, 10, QChar('0')),
                    QStringLiteral("http://big.test/%1").arg(i), base});
    home.write(".config/chromium/Default/Bookmarks",
               R"({"roots": {"bookmark_bar": )" + chromiumFolder("Bar", bar) + R"(, "other": )" +
                   chromiumFolder("Big", big) + R"(}, "version": 1})");

    const qint64 before = QDateTime::currentSecsSinceEpoch();
    const e2e::CommandResult imported =
        e2e::runPagoramaCommand(home, {"--import-bookmarks", "chromium"});
    ASSERT_EQ(imported.exitCode, 0) << imported.err.constData();
    const qint64 after = QDateTime::currentSecsSinceEpoch();

    // File times are the bookmarks' dates; no date or a future one: the import's time.
    for (const Mark& mark : bar) {
        const QFileInfo file(home.favorites() + "/Bar/" + mark.name + ".URL");
        ASSERT_TRUE(file.exists()) << qPrintable(mark.name);
        const qint64 time = file.lastModified().toSecsSinceEpoch();
        if (mark.unixSeconds > 0 && mark.unixSeconds < before)
            EXPECT_EQ(time, mark.unixSeconds) << qPrintable(mark.name);
        else
            EXPECT_TRUE(time >= before - 1 && time <= after + 1) << qPrintable(mark.name);
    }

    // The organiser order is the browser's: all twelve, and the first 255 of 300.
    QStringList expectedBar;
    for (int i = 0; i < names.size(); ++i)
        expectedBar << QStringLiteral("%1:%2.URL").arg(i).arg(names[i]);
    EXPECT_EQ(positionsOrder("Bar"), expectedBar);
    const QStringList bigOrder = positionsOrder("Big");
    ASSERT_EQ(bigOrder.size(), 255);
    EXPECT_EQ(bigOrder.first(), "0:n299.URL");
    EXPECT_EQ(bigOrder.last(), "254:n045.URL");
    EXPECT_EQ(QDir(home.favorites() + "/Big").entryList(QDir::Files).size(), 300);

    // The user deletes one favourite and the big folder; the program itself
    // then imports new bookmarks at its start, and brings back neither.
    ASSERT_TRUE(QFile::remove(home.favorites() + "/Bar/lima.URL"));
    ASSERT_TRUE(QDir(home.favorites() + "/Big").removeRecursively());
    ProgramRun program(home);
    program.writeSettings(
        e2e::settingsText(e2e::freePort(), "ImportBookmarks=chromium\r\nSortBy=1\r\n"));
    program.start();
    ASSERT_TRUE(program.waitForStderr("All Done", 180000)) << qPrintable(program.stderrText());
    EXPECT_FALSE(program.stderrText().contains("new bookmarks from chromium"))
        << qPrintable(program.stderrText());
    EXPECT_FALSE(QFile::exists(home.favorites() + "/Bar/lima.URL"));
    EXPECT_FALSE(QFile::exists(home.favorites() + "/Big"));

    // Sorted by the organiser, the page's folder shows the browser's order.
    QString error;
    const QList<e2e::CatalogueFolder> folders =
        e2e::readCatalogue(home.read("Documents/pagorama/listings.xml"), &error);
    ASSERT_TRUE(error.isEmpty()) << qPrintable(error);
    QStringList shown, expectedShown = names;
    expectedShown.removeOne("lima");
    for (const e2e::CatalogueFolder& folder : folders)
        if (folder.location == "Bar")
            shown = folder.descriptions();
    EXPECT_EQ(shown, expectedShown);
    EXPECT_EQ(program.terminate(), 0);
}

} // namespace
