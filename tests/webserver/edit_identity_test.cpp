// The editor's fields act on the very file their identity names: a
// favourite of the same name in another folder, or of the same name in
// another letter case, is never touched; a top-level folder named Root is
// not the Favorites folder; and a page built before other saves applies only
// what was changed on it.
#include "catalogue/encodings.h"
#include "catalogue/favourite_order.h"
#include "platform/message_service.h"
#include "support/order_value.h"
#include "support/temp_home.h"
#include "webserver/edit_actions.h"
#include "webserver/edit_post_handler.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace webserver;

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

const QByteArray Shortcut = "[InternetShortcut]\r\nURL=http://example.test/\r\n";

class EditIdentityTest : public ::testing::Test {
protected:
    QByteArray id(const QString& relative) const {
        return catalogue::HexEncode((fav + "/" + relative).toUtf8());
    }
    bool exists(const QString& relative) const { return QFileInfo::exists(fav + "/" + relative); }
    QStringList files(const QString& folder) const {
        return QDir(fav + "/" + folder).entryList(QDir::Files, QDir::Name);
    }
    QStringList apply(const QList<QByteArray>& fields) {
        EditActions actions(fav, [](const QString&) {});
        actions.ApplyEditFields(fields);
        return actions.ActionResults();
    }
    // The fields an editor page posts for one favourite, unchanged, with or
    // without the values it was built with.
    QList<QByteArray> unchanged(const QString& relative, const QByteArray& combo,
                                bool carried) const {
        const QByteArray u = id(relative);
        const QString file = relative.mid(relative.lastIndexOf('/') + 1);
        const QByteArray name = file.left(file.lastIndexOf('.')).toUtf8();
        QList<QByteArray> fields = {"Edit" + u + "=" + name, "Combo" + u + "=" + combo,
                                    "OB" + u + "=-1"};
        if (carried) {
            const QByteArray location =
                relative.contains('/') ? relative.section('/', 0, -2).toUtf8() : "";
            fields += {"WasEdit" + u + "=" + name, "WasCombo" + u + "=" + location,
                       "WasOB" + u + "=-1", "Top" + u + "=" + (location.isEmpty() ? "yes" : "no")};
        }
        return fields;
    }

    testsupport::TempHome home;
    QString fav = home.favorites();
    platform::ScopedMessageRecorder messages;
};

} // namespace

TEST_F(EditIdentityTest, SameNameInTwoFoldersEachActionReachesTheNamedFile) {
    home.write("Favorites/Links/Weather.url", "links");
    home.write("Favorites/News/Weather.url", "news");
    // An unchanged save of both, from an older page and from a new one.
    for (const bool carried : {false, true}) {
        const QStringList lines = apply(unchanged("Links/Weather.url", "Links", carried) +
                                        unchanged("News/Weather.url", "News", carried));
        EXPECT_TRUE(lines.isEmpty()) << lines.join('|').toStdString();
        EXPECT_TRUE(messages.texts.isEmpty());
        EXPECT_EQ(home.read("Favorites/Links/Weather.url"), "links");
        EXPECT_EQ(home.read("Favorites/News/Weather.url"), "news");
    }
    // The second of the pair (the scan order would meet Links first).
    const QByteArray news = id("News/Weather.url");
    EXPECT_EQ(apply({"OB" + news + "=4"}),
              QStringList{"Changed Favourite Weather.url sort order to 4. I.E. will show changes "
                          "after it has been restarted <br>"});
    catalogue::MenuOrder order;
    order.ReadMenuOrder("News");
    EXPECT_EQ(order.MenuOrderOf("Weather.url"), 4);
    order.ReadMenuOrder("Links");
    EXPECT_TRUE(order.entries().isEmpty());

    EXPECT_EQ(apply({"Edit" + news + "=Forecast"}),
              QStringList{"Renamed Favourite Weather to Forecast<br>"});
    EXPECT_EQ(files("News"), QStringList{"Forecast.URL"});
    EXPECT_EQ(apply({"Combo" + id("News/Forecast.URL") + "=Root"}),
              QStringList{"Moved Favourite Forecast to \\<br>"});
    EXPECT_EQ(home.read("Favorites/Forecast.URL"), "news");
    EXPECT_EQ(apply({"CB" + id("Forecast.URL") + "=deleteme"}),
              QStringList{"Deleted Favourite Forecast.URL from \\ folder<br>"});
    EXPECT_EQ(files("Links"), QStringList{"Weather.url"});
    EXPECT_EQ(home.read("Favorites/Links/Weather.url"), "links");
    EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(EditIdentityTest, LetterCaseTellsFavouritesApart) {
    home.write("Favorites/Links/Weather.url", "weather");
    home.write("Favorites/Links/forecast.url", "forecast");
    // A rename that changes letter case only renames the file.
    EXPECT_EQ(apply({"Edit" + id("Links/Weather.url") + "=weather"}),
              QStringList{"Renamed Favourite Weather to weather<br>"});
    EXPECT_EQ(files("Links"), (QStringList{"forecast.url", "weather.URL"}));
    // A name that differs from another favourite of the folder only by case.
    EXPECT_EQ(apply({"Edit" + id("Links/weather.URL") + "=Forecast"}),
              QStringList{"Refused renaming weather to Forecast: the folder holds forecast.url, "
                          "a name that differs only by letter case<br>"});
    EXPECT_EQ(files("Links"), (QStringList{"forecast.url", "weather.URL"}));

    // Two files that differ by case only (made outside the program): each
    // action reaches the one named.
    home.write("Favorites/Links/FORECAST.url", "upper");
    EXPECT_EQ(apply({"OB" + id("Links/FORECAST.url") + "=9"}).size(), 1);
    catalogue::MenuOrder order;
    order.ReadMenuOrder("Links");
    EXPECT_EQ(order.MenuOrderOf("FORECAST.url"), 9);
    EXPECT_EQ(order.MenuOrderOf("forecast.url"), 1); // present order: FORECAST, forecast, weather
    EXPECT_EQ(apply({"OB" + id("Links/forecast.url") + "=5"}).size(), 1);
    order.ReadMenuOrder("Links");
    EXPECT_EQ(order.MenuOrderOf("FORECAST.url"), 9);
    EXPECT_EQ(order.MenuOrderOf("forecast.url"), 5);

    home.write("Favorites/FORECAST.url", "top");
    EXPECT_EQ(apply({"Combo" + id("Links/forecast.url") + "=Root"}),
              QStringList{"Refused moving forecast to \\: the folder holds FORECAST.url, a name "
                          "that differs only by letter case<br>"});
    EXPECT_EQ(apply({"CB" + id("Links/FORECAST.url") + "=deleteme"}),
              QStringList{"Deleted Favourite FORECAST.url from \\Links\\ folder<br>"});
    EXPECT_EQ(files("Links"), (QStringList{"forecast.url", "weather.URL"}));
    EXPECT_EQ(home.read("Favorites/Links/forecast.url"), "forecast");
    EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(EditIdentityTest, TopLevelFolderNamedRootIsNotTheFavoritesFolder) {
    home.write("Favorites/Root/Inside.url", "inside");
    home.write("Favorites/Top.url", "top");
    // Unchanged saves: an older page posts plain "Root" for both.
    for (const bool carried : {false, true}) {
        EXPECT_TRUE(apply(unchanged("Root/Inside.url", "Root", carried) +
                          unchanged("Top.url", "Root", carried))
                        .isEmpty());
        EXPECT_EQ(files("Root"), QStringList{"Inside.url"});
        EXPECT_EQ(files(""), QStringList{"Top.url"});
    }
    // The page's "Top" field says which of the two "Root" options is chosen.
    const QByteArray inside = id("Root/Inside.url"), top = id("Top.url");
    EXPECT_EQ(
        apply({"Combo" + top + "=Root", "Top" + top + "=no", "WasCombo" + top + "=",
               "Combo" + inside + "=Root", "Top" + inside + "=yes", "WasCombo" + inside + "=Root"}),
        (QStringList{"Moved Favourite Top to \\Root\\<br>", "Moved Favourite Inside to \\<br>"}));
    EXPECT_EQ(home.read("Favorites/Root/Top.url"), "top");
    EXPECT_EQ(home.read("Favorites/Inside.url"), "inside");
    // An older page still moves a favourite elsewhere to the top folder.
    EXPECT_EQ(apply({"Combo" + id("Root/Top.url") + "=Root"}), QStringList{});
    home.write("Favorites/News/Item.url", "item");
    EXPECT_EQ(apply({"Combo" + id("News/Item.url") + "=Root"}),
              QStringList{"Moved Favourite Item to \\<br>"});
}

TEST_F(EditIdentityTest, StalePageAppliesOnlyItsOwnChanges) {
    home.write("Favorites/Links/Weather.url", "weather");
    home.write("Favorites/Links/Mail.url", "mail");
    home.write("Favorites/Links/Home.url", "home");
    QDir().mkpath(fav + "/News");
    // The page was built with all three in Links and no positions; since
    // then another save moved Weather to News and gave Mail a position.
    const QList<QByteArray> page = unchanged("Links/Weather.url", "Links", true) +
                                   unchanged("Links/Mail.url", "Links", true) +
                                   unchanged("Links/Home.url", "Links", true);
    const QByteArray weather = id("Links/Weather.url"), mail = id("Links/Mail.url"),
                     homePage = id("Links/Home.url");
    ASSERT_EQ(apply({"Combo" + weather + "=News", "OB" + mail + "=3"}).size(), 2);
    // Saving the old page unchanged undoes nothing.
    EXPECT_TRUE(apply(page).isEmpty());
    EXPECT_EQ(files("News"), QStringList{"Weather.url"});
    catalogue::MenuOrder order;
    order.ReadMenuOrder("Links");
    EXPECT_EQ(order.MenuOrderOf("Mail.url"), 3);

    // Changes made on the old page to what has changed since are skipped
    // with a line each; the other changes apply.
    QList<QByteArray> edited = page;
    edited.replace(edited.indexOf("Combo" + weather + "=Links"), "Combo" + weather + "=Root");
    edited.replace(edited.indexOf("Top" + weather + "=no"), "Top" + weather + "=yes");
    edited.replace(edited.indexOf("OB" + mail + "=-1"), "OB" + mail + "=7");
    edited.replace(edited.indexOf("Edit" + homePage + "=Home"), "Edit" + homePage + "=House");
    const QStringList lines = apply(edited);
    ASSERT_EQ(lines.size(), 3) << lines.join('|').toStdString();
    EXPECT_TRUE(lines[0].startsWith("Skipped moving Weather: the favourite has changed since "
                                    "this page was made"));
    EXPECT_TRUE(lines[1].startsWith("Skipped the sort order of Mail.url: the favourite has "
                                    "changed"));
    EXPECT_EQ(lines[2], "Renamed Favourite Home to House<br>");
    EXPECT_EQ(files("News"), QStringList{"Weather.url"});
    EXPECT_EQ(files(""), QStringList{});
    order.ReadMenuOrder("Links");
    EXPECT_EQ(order.MenuOrderOf("Mail.url"), 3);

    // The same old page posted by an older stylesheet, without carried
    // values, is applied as it always was.
    EXPECT_EQ(apply({"OB" + mail + "=1"}).size(), 1);
    order.ReadMenuOrder("Links");
    EXPECT_EQ(order.MenuOrderOf("Mail.url"), 1);
}

TEST_F(EditIdentityTest, CarriedFieldsAreNeitherResultsNorRecordedValues) {
    home.write("Favorites/Links/Weather.url", "weather");
    const QList<QByteArray> fields = unchanged("Links/Weather.url", "Links", true);
    QByteArray body;
    for (const QByteArray& field : fields)
        body += (body.isEmpty() ? "" : "&") + field;
    EditActions actions(fav, [](const QString&) {});
    QByteArray record;
    QString error;
    ASSERT_TRUE(ProcessEditForm(FormKind::Edit, body, "127.0.0.1", actions, &record, &error));
    EXPECT_TRUE(record.contains(" there were 3 results from127.0.0.1<br>Action taken : "))
        << record.constData();
    EXPECT_EQ(home.read(".config/pagorama/values.log"),
              fields[0] + "\r\n" + fields[1] + "\r\n" + fields[2] + "\r\n");
}
