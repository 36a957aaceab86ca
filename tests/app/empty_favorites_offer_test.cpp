// The offer of the browsers' bookmarks when the Favorites folder is empty:
// what counts as empty, the question in a desktop session and what Yes and
// No do to the Favorites folder, and the hint that names the command.
#include "app/empty_favorites_offer.h"
#include "platform/message_service.h"
#include "support/temp_home.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <gtest/gtest.h>

namespace {

const QByteArray ChromiumBookmarks = R"json({
   "roots": {
      "bookmark_bar": { "children": [ {
            "name": "Example Site", "type": "url", "url": "https://example.test/page?x=1"
         } ], "name": "Bookmarks bar", "type": "folder" },
      "other": { "children": [], "name": "Other bookmarks", "type": "folder" }
   },
   "version": 1
})json";

// The addresses of every shortcut below folder.
QStringList shortcutAddresses(const QString& folder) {
    QStringList addresses;
    QDirIterator it(folder, {"*.url"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        file.open(QIODevice::ReadOnly);
        for (const QByteArray& line : file.readAll().split('\n'))
            if (line.startsWith("URL="))
                addresses << QString::fromUtf8(line.mid(4).trimmed());
    }
    return addresses;
}

class EmptyFavorites : public ::testing::Test {
protected:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "empty_favorites_offer_test";
        static char* argv[] = {name, nullptr};
        static auto* application = new QCoreApplication(argc, argv);
        (void)application;
    }
    void withChromiumProfile() {
        home.write(".config/chromium/Default/Bookmarks", ChromiumBookmarks);
    }

    testsupport::TempHome home;
    platform::ScopedMessageRecorder messages;
};

TEST_F(EmptyFavorites, EmptyMeansNoShortcutAnywhereInTheTree) {
    const QString favorites = home.path() + "/Favorites";
    EXPECT_TRUE(app::favoritesEmpty(favorites)); // missing
    QDir().mkpath(favorites + "/News/Tech");
    home.write("Favorites/News/readme.txt", "not a favourite");
    EXPECT_TRUE(app::favoritesEmpty(favorites));
    home.write("Favorites/News/Tech/Site.URL", "[InternetShortcut]\r\nURL=http://a.test/\r\n");
    EXPECT_FALSE(app::favoritesEmpty(favorites));
}

TEST_F(EmptyFavorites, YesImportsTheBrowsersBookmarksAndShowsTheSummary) {
    withChromiumProfile();
    messages.answer = true;
    app::offerBookmarkImport(true);
    ASSERT_EQ(messages.questions.size(), 1);
    EXPECT_TRUE(messages.questions.first().contains("Chromium"))
        << qPrintable(messages.questions.first());
    EXPECT_EQ(shortcutAddresses(home.favorites()), QStringList{"https://example.test/page?x=1"});
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_TRUE(messages.texts.first().contains("Imported 1 favourites"))
        << qPrintable(messages.texts.first());

    // Favorites is no longer empty: no second question.
    app::offerBookmarkImport(true);
    EXPECT_EQ(messages.questions.size(), 1);
}

TEST_F(EmptyFavorites, NoLeavesFavoritesAsItWas) {
    withChromiumProfile();
    messages.answer = false;
    app::offerBookmarkImport(true);
    EXPECT_EQ(messages.questions.size(), 1);
    EXPECT_TRUE(messages.texts.isEmpty());
    EXPECT_TRUE(shortcutAddresses(home.path() + "/Favorites").isEmpty());
}

TEST_F(EmptyFavorites, HintNamesTheCommandForTheBrowsersFound) {
    EXPECT_EQ(app::browsersWithBookmarks(), QStringList{});
    // A desktop session without a browser to import from gets the hint only.
    app::offerBookmarkImport(true);
    EXPECT_TRUE(messages.questions.isEmpty());
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_TRUE(messages.texts.first().contains("--import-bookmarks FILE"));
    const QString none = app::importHintText("/h/Favorites", {});
    EXPECT_TRUE(none.contains("pagorama --import-bookmarks FILE")) << qPrintable(none);
    withChromiumProfile();
    EXPECT_EQ(app::browsersWithBookmarks(), QStringList{"chromium"});
    const QString chromium = app::importHintText("/h/Favorites", {"chromium"});
    EXPECT_TRUE(chromium.contains("/h/Favorites has no favourites")) << qPrintable(chromium);
    EXPECT_TRUE(chromium.contains("run: pagorama --import-bookmarks chromium"))
        << qPrintable(chromium);
}

} // namespace
