#include "catalogue/encodings.h"
#include "catalogue/favourite_order.h"
#include "platform/message_service.h"
#include "platform/paths.h"
#include "support/order_value.h"
#include "support/temp_home.h"
#include "support/test_site.h"
#include "webserver/edit_actions.h"
#include "webserver/edit_post_handler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <gtest/gtest.h>

#include <cerrno>

using namespace webserver;

// Readable failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

QByteArray unique(const QString& path) {
    return catalogue::HexEncode(path.toUtf8());
}

class EditActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        home.write("Favorites/Links/Weather.url", "[InternetShortcut]\r\nURL=http://w/\r\n");
        home.write("Favorites/Top.url", "[InternetShortcut]\r\nURL=http://top/\r\n");
        QDir().mkpath(fav + "/News/Tech");
    }
    bool exists(const QString& relative) const { return QFileInfo::exists(fav + "/" + relative); }
    QStringList apply(const QList<QByteArray>& fields) {
        EditActions actions(fav, [this](const QString& path) { marked << path; });
        actions.ApplyEditFields(fields);
        return actions.ActionResults();
    }
    QByteArray weather() const { return unique(fav + "/Links/Weather.url"); }

    testsupport::TempHome home;
    QString fav = home.favorites();
    platform::ScopedMessageRecorder messages;
    QStringList marked; // paths the actions said they write
};

} // namespace

TEST_F(EditActionsTest, RenameMovesNothingElse) {
    const QStringList lines = apply({"Edit" + weather() + "=Forecast", "Other=1"});
    EXPECT_EQ(lines, QStringList{"Renamed Favourite Weather to Forecast<br>"});
    EXPECT_FALSE(exists("Links/Weather.url"));
    EXPECT_EQ(home.read("Favorites/Links/Forecast.URL"), "[InternetShortcut]\r\nURL=http://w/\r\n");
    // The same name is no change, whatever the extension's letter case.
    EXPECT_TRUE(apply({"Edit" + unique(fav + "/Top.url") + "=Top"}).isEmpty());
    EXPECT_TRUE(exists("Top.url"));
    EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(EditActionsTest, RenameOntoExistingNameIsRefusedWithItsCode) {
    home.write("Favorites/Links/Forecast.URL", "[InternetShortcut]\r\nURL=http://f/\r\n");
    EXPECT_EQ(apply({"Edit" + weather() + "=Forecast"}),
              QStringList{"Refused renaming Weather to Forecast: File exists (error 17)<br>"});
    EXPECT_EQ(messages.texts, QStringList{QString::number(EEXIST)});
    EXPECT_EQ(home.read("Favorites/Links/Weather.url"), "[InternetShortcut]\r\nURL=http://w/\r\n");
    EXPECT_EQ(home.read("Favorites/Links/Forecast.URL"), "[InternetShortcut]\r\nURL=http://f/\r\n");
}

TEST_F(EditActionsTest, NamesThatWouldBePathsAreRefused) {
    for (const QByteArray& value :
         {QByteArray("..%2F..%2Fescaped"), QByteArray("a%2Fb"), QByteArray(".."),
          QByteArray("a%5Cb"), QByteArray("x%0Ay"), QByteArray("")}) {
        const QStringList lines = apply({"Edit" + weather() + "=" + value});
        ASSERT_EQ(lines.size(), 1) << value.constData();
        EXPECT_TRUE(lines[0].startsWith("Refused renaming Weather")) << lines[0].toStdString();
    }
    EXPECT_TRUE(exists("Links/Weather.url"));
    EXPECT_EQ(QDir(fav + "/Links").entryList(QDir::Files), QStringList{"Weather.url"});
    EXPECT_FALSE(QFileInfo::exists(home.path() + "/escaped.URL"));
}

TEST_F(EditActionsTest, MoveToFolderAndToRoot) {
    EXPECT_EQ(apply({"Combo" + weather() + "=News%5CTech"}),
              QStringList{"Moved Favourite Weather to \\News\\Tech\\<br>"});
    EXPECT_TRUE(exists("News/Tech/Weather.url"));
    EXPECT_FALSE(exists("Links/Weather.url"));
    EXPECT_EQ(apply({"Combo" + unique(fav + "/News/Tech/Weather.url") + "=Root"}),
              QStringList{"Moved Favourite Weather to \\<br>"});
    EXPECT_TRUE(exists("Weather.url"));
    // The identity names the old place, where the file no longer is: no
    // other file of that name is taken instead.
    EXPECT_EQ(apply({"Combo" + weather() + "=News"}),
              QStringList{"Refused moving Weather: the favourite is no longer in \\Links\\ "
                          "folder<br>"});
    EXPECT_TRUE(exists("Weather.url"));
    // Already there: nothing happens.
    EXPECT_TRUE(apply({"Combo" + unique(fav + "/Weather.url") + "=Root"}).isEmpty());
    EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(EditActionsTest, MoveNeverReplacesOrLeavesTheFavorites) {
    home.write("Favorites/Weather.url", "[InternetShortcut]\r\nURL=http://other/\r\n");
    home.write("Favorites/News/Weather.url", "x");
    QFile::remove(fav + "/News/Weather.url");
    // Moving the root's Weather.url onto the one in Links is refused, with a
    // line on the answer as well as the box.
    EXPECT_EQ(apply({"Combo" + unique(fav + "/Weather.url") + "=Links"}),
              QStringList{"Refused moving Weather to \\Links\\: File exists (error 17)<br>"});
    EXPECT_EQ(messages.texts, QStringList{QString::number(EEXIST)});
    EXPECT_EQ(home.read("Favorites/Links/Weather.url"), "[InternetShortcut]\r\nURL=http://w/\r\n");
    EXPECT_EQ(home.read("Favorites/Weather.url"), "[InternetShortcut]\r\nURL=http://other/\r\n");

    const QByteArray top = unique(fav + "/Top.url");
    for (const QByteArray& target :
         {QByteArray("..%5C.."), QByteArray("News%5C..%5C.."), QByteArray("a%2F..%2F..")}) {
        const QStringList lines = apply({"Combo" + top + "=" + target});
        ASSERT_EQ(lines.size(), 1);
        EXPECT_TRUE(lines[0].startsWith("Refused moving Top")) << lines[0].toStdString();
    }
    // A folder inside that is a link to a folder outside.
    QDir().mkpath(home.path() + "/outside");
    ASSERT_TRUE(QFile::link(home.path() + "/outside", fav + "/Away"));
    const QStringList lines = apply({"Combo" + top + "=Away"});
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains("outside the Favorites folder"));
    EXPECT_TRUE(exists("Top.url"));
    EXPECT_TRUE(QDir(home.path() + "/outside").isEmpty());
}

TEST_F(EditActionsTest, NewNameAndNewFolderInOneFormBothApply) {
    testsupport::storeOrderValue("News", testsupport::orderValue({{"forecast.url", 1}}));
    const QStringList lines =
        apply({"Edit" + weather() + "=Forecast", "Combo" + weather() + "=News",
               "OB" + weather() + "=0", "CB" + weather() + "=deleteme"});
    EXPECT_EQ(lines, (QStringList{"Renamed Favourite Weather to Forecast<br>",
                                  "Moved Favourite Forecast to \\News\\<br>",
                                  "Changed Favourite Forecast.URL sort order to 0. I.E. will show "
                                  "changes after it has been restarted <br>",
                                  "Deleted Favourite Forecast.URL from \\News\\ folder<br>"}));
    EXPECT_FALSE(exists("Links/Weather.url"));
    EXPECT_FALSE(exists("News/Forecast.URL"));
}

TEST_F(EditActionsTest, DeleteOnlyWhenTickedAndInItsFolder) {
    home.write("Favorites/News/Top.url", "second");
    EXPECT_TRUE(apply({"CB" + weather() + "=other"}).isEmpty());
    EXPECT_TRUE(exists("Links/Weather.url"));
    EXPECT_EQ(apply({"CB" + weather() + "=deleteme"}),
              QStringList{"Deleted Favourite Weather.url from \\Links\\ folder<br>"});
    EXPECT_FALSE(exists("Links/Weather.url"));
    // A delete aimed at the second Top.url deletes that one, not the root's.
    EXPECT_EQ(apply({"CB" + unique(fav + "/News/Top.url") + "=deleteme"}),
              QStringList{"Deleted Favourite Top.url from \\News\\ folder<br>"});
    EXPECT_FALSE(exists("News/Top.url"));
    EXPECT_TRUE(exists("Top.url"));
    EXPECT_EQ(apply({"CB" + unique(fav + "/News/Top.url") + "=deleteme"}),
              QStringList{"Refused deleting Top.url: the favourite is no longer in \\News\\ "
                          "folder<br>"});
}

TEST_F(EditActionsTest, IdentitiesOutsideTheFavoritesOrNotHexAreRefused) {
    home.write("elsewhere/Weather.url", "keep");
    const QList<QByteArray> fields = {
        "EditZZ12=Forecast",
        "CB" + unique(home.path() + "/elsewhere/Weather.url") + "=deleteme",
        "Edit" + unique(fav + "/../elsewhere/Weather.url") + "=Forecast",
        "Combo" + unique(home.path() + "/Weather.url") + "=Root",
    };
    const QStringList lines = apply(fields);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], "Refused ZZ12: not a favourite's identity<br>");
    for (int i = 1; i < 4; ++i)
        EXPECT_TRUE(lines[i].contains("not a favourite in the Favorites folder"));
    EXPECT_EQ(home.read("elsewhere/Weather.url"), "keep");
    EXPECT_TRUE(exists("Links/Weather.url"));
    EXPECT_FALSE(exists("Weather.url"));
}

TEST_F(EditActionsTest, SortOrderWrittenToTheOrganiserValue) {
    testsupport::storeOrderValue(
        "Links", testsupport::orderValue({{"weather.url", 3}, {"skipped.url", 9, 16}}));
    home.write("Favorites/Links/Unlisted.url", "u");
    auto position = [] {
        catalogue::MenuOrder order;
        order.ReadMenuOrder("Links");
        return order.MenuOrderOf("Weather.url");
    };
    EXPECT_EQ(apply({"OB" + weather() + "=7"}),
              QStringList{"Changed Favourite Weather.url sort order to 7. I.E. will show changes "
                          "after it has been restarted <br>"});
    EXPECT_EQ(position(), 7);
    EXPECT_TRUE(apply({"OB" + weather() + "=+7"}).isEmpty());
    const QStringList lines =
        apply({"OB" + weather() + "=300", "OB" + weather() + "=abc", "OB" + weather() + "=-1",
               "OB" + weather() + "=", "OB" + unique(fav + "/Links/Unlisted.url") + "=2"});
    EXPECT_EQ(lines, (QStringList{
                         "Favourite Weather.url sort order is too big. 300 is greater than 255<br>",
                         "Favourite Weather.url sort order is Invalid. abc is not a number<br>",
                         "Favourite Weather.url sort order is too small. -1 is less than 0<br>",
                         "Favourite Weather.url sort order is Invalid.  is not a number<br>",
                         "Changed Favourite Unlisted.url sort order to 2. I.E. will show changes "
                         "after it has been restarted <br>"}));
    EXPECT_EQ(position(), 7);
    // A favourite the organiser data did not list gets a record of its own.
    catalogue::MenuOrder order;
    order.ReadMenuOrder("Links");
    EXPECT_EQ(order.MenuOrderOf("Unlisted.url"), 2);
    EXPECT_EQ(order.entries().size(), 2);
}

TEST_F(EditActionsTest, EchoedValuesAreEscaped) {
    const QStringList lines = apply({"Edit" + weather() + "=%3Cb%3E%26%22x%22"});
    EXPECT_EQ(lines, QStringList{"Renamed Favourite Weather to &lt;b&gt;&amp;&quot;x&quot;<br>"});
    EXPECT_TRUE(exists("Links/<b>&\"x\".URL"));
    const QStringList sort = apply({"OB" + unique(fav + "/Links/<b>&\"x\".URL") + "=%3Cscript%3E"});
    ASSERT_EQ(sort.size(), 1);
    EXPECT_FALSE(sort[0].contains("<script>"));
    EXPECT_TRUE(sort[0].contains("&lt;script&gt;"));
}

TEST_F(EditActionsTest, HistoryAddNamesTheShortcutAfterTitleOrHost) {
    testsupport::TestSite site;
    // As a browser posts a field named by the address.
    auto formName = [&](const QString& path) { return QUrl::toPercentEncoding(site.url(path)); };
    EditActions actions(fav, [this](const QString& path) { marked << path; });
    actions.AddFavouriteFromHistory(formName("/title"));
    actions.AddFavouriteFromHistory(formName("/notitle"));
    // Another page of the same title gets a number; a second press on the
    // same suggestion adds nothing.
    actions.AddFavouriteFromHistory(formName("/title?q=a&b=c"));
    actions.AddFavouriteFromHistory(formName("/title"));
    actions.AddFavouriteFromHistory(formName("/title?q=a&b=c"));
    EXPECT_EQ(actions.ActionResults(),
              (QStringList{"Added Favourite Test Title <br>", "Added Favourite 127.0.0.1 <br>",
                           "Added Favourite Test Title (2) <br>",
                           "Favourite Test Title already holds " + site.url("/title") + " <br>",
                           "Favourite Test Title (2) already holds " +
                               site.url("/title?q=a&amp;b=c") + " <br>"}));
    EXPECT_EQ(home.read("Favorites/Test Title.URL"),
              "[InternetShortcut]\r\nURL=" + site.url("/title").toUtf8() + "\r\n");
    EXPECT_EQ(home.read("Favorites/127.0.0.1.URL"),
              "[InternetShortcut]\r\nURL=" + site.url("/notitle").toUtf8() + "\r\n");
    // The address exactly as visited: its query is not re-encoded.
    EXPECT_EQ(home.read("Favorites/Test Title (2).URL"),
              "[InternetShortcut]\r\nURL=" + site.url("/title?q=a&b=c").toUtf8() + "\r\n");
    EXPECT_FALSE(exists("Test Title (3).URL"));
    // Each file is announced by its own path before it is written, so the
    // Favorites monitor passes over exactly these.
    EXPECT_EQ(marked, (QStringList{fav + "/Test Title.URL", fav + "/127.0.0.1.URL",
                                   fav + "/Test Title (2).URL"}));
}

TEST_F(EditActionsTest, HistoryAddNamesTheShortcutAfterTheTitleAsThePageShowsIt) {
    testsupport::TestSite site;
    site.setRawRoute("/cafe", testsupport::TestSite::response(
                                  200, "text/html", "<title>Caf&eacute; &amp; Cr&#232;me</title>"));
    EditActions actions(fav, [](const QString&) {});
    actions.AddFavouriteFromHistory(QUrl::toPercentEncoding(site.url("/cafe")));
    EXPECT_TRUE(exists(QStringLiteral("Caf\u00e9 & Cr\u00e8me.URL")))
        << QDir(fav).entryList(QDir::Files).join(' ').toStdString();
}

TEST_F(EditActionsTest, HistoryTitlesAndAddressesNeverBecomePaths) {
    QByteArray title;
    EditActions actions(
        fav, [](const QString&) {}, [&](const QString&) { return title; });
    title = "  ../../Evil/Name\r\n";
    actions.AddFavouriteFromHistory("http://a.example/x%3Fq=1%26r=2");
    EXPECT_EQ(home.read("Favorites/-..-Evil-Name.URL"),
              "[InternetShortcut]\r\nURL=http://a.example/x?q=1&r=2\r\n");
    // A line break in the address would add keys to the shortcut file.
    actions.AddFavouriteFromHistory("http://a.example/%0D%0AIconFile=x");
    EXPECT_EQ(actions.ActionResults().size(), 2);
    EXPECT_TRUE(actions.ActionResults()[1].startsWith("Refused adding"));
    EXPECT_EQ(QDir(fav).entryList(QDir::Files), (QStringList{"-..-Evil-Name.URL", "Top.url"}));
}

TEST_F(EditActionsTest, FormRecordsWritten) {
    EditActions edit(fav, [](const QString&) {});
    QByteArray record;
    QString error;
    ASSERT_TRUE(ProcessEditForm(FormKind::Edit, "Edit" + weather() + "=Fore+cast&Other=a%20b&",
                                "127.0.0.1", edit, &record, &error))
        << error.toStdString();
    EXPECT_TRUE(record.contains(" there were 3 results from127.0.0.1<br>Action taken : "
                                "Renamed Favourite Weather to Fore cast<br>\r\n"));
    EXPECT_EQ(home.read(".config/pagorama/values.log"),
              "Edit" + weather() + "=Fore+cast\r\nOther=a%20b\r\n\r\n");

    EditActions history(
        fav, [](const QString&) {}, [](const QString&) { return QByteArray(); });
    QByteArray second;
    ASSERT_TRUE(ProcessEditForm(FormKind::History, "=Add+to+favourites", "127.0.0.1", history,
                                &second, &error));
    EXPECT_TRUE(second.contains("there were 0 results from127.0.0.1"));
    EXPECT_EQ(home.read(".config/pagorama/values.log"), "");
    EXPECT_EQ(home.read(".config/pagorama/CgiFrm1.txt"), record + second);
}

TEST_F(EditActionsTest, UnwritableRecordsAreReportedAndActionsStayDone) {
    home.write("blocker", "a regular file");
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", (home.path() + "/blocker/config").toUtf8());
    EditActions edit(fav, [](const QString&) {});
    QByteArray record;
    QString error;
    const bool written = ProcessEditForm(FormKind::Edit, "Edit" + weather() + "=Forecast",
                                         "127.0.0.1", edit, &record, &error);
    qputenv("XDG_CONFIG_HOME", oldConfig);
    EXPECT_FALSE(written);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(exists("Links/Forecast.URL"));
}
