// The Bookmarks files of Chromium-family profiles, imported into the
// Favorites folder of a temporary HOME.
#include "bookmarks/bookmarks.h"
#include "bookmarks/chromium_bookmarks.h"
#include "platform/paths.h"
#include "support/favorites_tree.h"
#include "support/temp_home.h"

#include <QFile>
#include <gtest/gtest.h>

using testsupport::favoritesTree;
using testsupport::shortcutBytes;
using testsupport::TempHome;

namespace {

// A Bookmarks file in the browser's own layout.
const QByteArray DefaultProfile = R"json({
   "checksum": "5b7d9f1a0c3e2d4b6a8f0e1d2c3b4a59",
   "roots": {
      "bookmark_bar": {
         "children": [ {
            "date_added": "13340000000000000",
            "date_last_used": "0",
            "guid": "7a1c3e5f-0b2d-4c6e-8a0b-1c2d3e4f5a6b",
            "id": "5",
            "meta_info": { "power_bookmark_meta": "" },
            "name": "Search: a/b\\c",
            "type": "url",
            "url": "https://search.example/find?q=caf%C3%A9&lang=fr#results"
         }, {
            "children": [ {
               "date_added": "13340000000000001",
               "guid": "8b2d4f60-1c3e-4d5f-9b1c-2d3e4f5a6b7c",
               "id": "7",
               "name": "\u00dcn\u00efc\u00f6d\u00e9 \u65e5\u672c",
               "type": "url",
               "url": "http://unicode.example/"
            }, {
               "date_added": "13340000000000002",
               "guid": "9c3e5071-2d4f-4e60-8c2d-3e4f5a6b7c8d",
               "id": "8",
               "name": "Bookmarklet",
               "type": "url",
               "url": "javascript:(function(){alert(document.title)})()"
            } ],
            "date_added": "13340000000000000",
            "date_modified": "13340000000000002",
            "guid": "a4f6b182-3e50-4f71-9d3e-4f5a6b7c8d9e",
            "id": "6",
            "name": "Caf\u00e9 \u2615",
            "type": "folder"
         }, {
            "date_added": "13340000000000003",
            "guid": "b5071c93-4f61-4082-8e4f-5a6b7c8d9eaf",
            "id": "9",
            "name": "Twin",
            "type": "url",
            "url": "https://one.example/"
         }, {
            "date_added": "13340000000000004",
            "guid": "c6182da4-5072-4193-9f50-6b7c8d9eafb0",
            "id": "10",
            "name": "Twin",
            "type": "url",
            "url": "https://two.example/"
         } ],
         "date_added": "13340000000000000",
         "date_modified": "13340000000000004",
         "guid": "0bc5d13f-2cba-5d74-951f-3f233fe6c908",
         "id": "1",
         "name": "Bookmarks bar",
         "type": "folder"
      },
      "other": {
         "children": [ {
            "date_added": "13340000000000005",
            "guid": "d7293eb5-6183-42a4-8a61-7c8d9eafb0c1",
            "id": "11",
            "name": "Docs",
            "type": "url",
            "url": "file:///usr/share/doc/"
         } ],
         "date_added": "13340000000000000",
         "date_modified": "0",
         "guid": "82b081ec-3dd3-529c-8475-ab6c344590dd",
         "id": "2",
         "name": "Other bookmarks",
         "type": "folder"
      },
      "synced": {
         "children": [  ],
         "date_added": "13340000000000000",
         "date_modified": "0",
         "guid": "4cf2e351-0e85-532b-bb37-df045d8f8d0f",
         "id": "3",
         "name": "Mobile bookmarks",
         "type": "folder"
      }
   },
   "version": 1
}
)json";

// A second profile sharing one address with the first, and one of its own.
const QByteArray SecondProfile = R"json({
   "checksum": "00",
   "roots": {
      "bookmark_bar": { "children": [
         { "id": "5", "name": "Again", "type": "url", "url": "https://one.example/" },
         { "id": "6", "name": "Own", "type": "url", "url": "https://own.example/" } ],
         "id": "1", "name": "Bookmarks bar", "type": "folder" },
      "other": { "children": [], "id": "2", "name": "Other bookmarks", "type": "folder" },
      "synced": { "children": [], "id": "3", "name": "Mobile bookmarks", "type": "folder" }
   },
   "version": 1
})json";

} // namespace

TEST(ChromiumImport, ProfilesBecomeFoldersOfShortcutsAndASecondRunAddsNothing) {
    TempHome home;
    home.write(".config/chromium/Default/Bookmarks", DefaultProfile);
    home.write(".config/chromium/Profile 1/Bookmarks", SecondProfile);
    home.write(".config/chromium/Local State", "{}");

    const bookmarks::ImportResult result = bookmarks::importBookmarks("chromium", home.favorites());
    ASSERT_TRUE(result.ok) << qPrintable(result.error);
    EXPECT_EQ(result.sources.size(), 2);
    // A relative XDG_CONFIG_HOME is ignored here as for the settings: both
    // stay below ~/.config.
    qputenv("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(bookmarks::ChromiumBookmarkFiles().size(), 2);
    EXPECT_EQ(platform::settingsFilePath(), home.path() + "/.config/pagorama/pagorama.ini");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/.config"));
    EXPECT_EQ(result.summary.text(),
              "Imported 6 favourites into 3 folders; 1 already there; 1 skipped\n"
              "4 of them are https sites: Pagorama checks and pictures those only with "
              "\"Picture secure (https) sites\" ticked (SecureSites=1)\n"
              "Skipped: 1 not web addresses (javascript:, place:, data:, ...)\n"
              "  \"Bookmarklet\" <javascript:(function(){alert(document.title)})()>: "
              "not a web address");

    const QMap<QString, QByteArray> expected = {
        {"Bookmarks bar/", {}},
        {"Bookmarks bar/Search: a-b-c.URL",
         shortcutBytes("https://search.example/find?q=caf%C3%A9&lang=fr#results")},
        {QString::fromUtf8("Bookmarks bar/Caf\u00e9 \u2615/"), {}},
        {QString::fromUtf8(
             "Bookmarks bar/Caf\u00e9 \u2615/\u00dcn\u00efc\u00f6d\u00e9 \u65e5\u672c.URL"),
         shortcutBytes("http://unicode.example/")},
        {"Bookmarks bar/Twin.URL", shortcutBytes("https://one.example/")},
        {"Bookmarks bar/Twin (2).URL", shortcutBytes("https://two.example/")},
        {"Bookmarks bar/Own.URL", shortcutBytes("https://own.example/")},
        {"Other bookmarks/", {}},
        {"Other bookmarks/Docs.URL", shortcutBytes("file:///usr/share/doc/")},
    };
    EXPECT_EQ(favoritesTree(home.favorites()), expected);

    const bookmarks::ImportResult again = bookmarks::importBookmarks("chromium", home.favorites());
    ASSERT_TRUE(again.ok) << qPrintable(again.error);
    EXPECT_EQ(again.summary.imported, 0);
    EXPECT_EQ(again.summary.alreadyThere, 7);
    EXPECT_EQ(favoritesTree(home.favorites()), expected);
}

TEST(ChromiumImport, GoogleChromeProfilesAreReadToo) {
    TempHome home;
    home.write(".config/google-chrome/Default/Bookmarks", SecondProfile);
    const bookmarks::ImportResult result = bookmarks::importBookmarks("Chromium", home.favorites());
    ASSERT_TRUE(result.ok) << qPrintable(result.error);
    EXPECT_EQ(result.summary.imported, 2);
    EXPECT_TRUE(QFile::exists(home.favorites() + "/Bookmarks bar/Own.URL"));
}

TEST(ChromiumImport, MissingOrBrokenProfilesWriteNothing) {
    TempHome home;
    bookmarks::ImportResult result = bookmarks::importBookmarks("chromium", home.favorites());
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.error.contains("No Chromium bookmarks found")) << qPrintable(result.error);

    // One good profile and one cut short: the good one is not imported either.
    home.write(".config/chromium/Default/Bookmarks", DefaultProfile);
    home.write(".config/chromium/Profile 2/Bookmarks", SecondProfile.left(200));
    result = bookmarks::importBookmarks("chromium", home.favorites());
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.error.contains("Profile 2/Bookmarks")) << qPrintable(result.error);
    EXPECT_TRUE(favoritesTree(home.favorites()).isEmpty());

    home.write(".config/chromium/Profile 2/Bookmarks", "{\"version\": 1}");
    result = bookmarks::importBookmarks("chromium", home.favorites());
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.error.contains("roots")) << qPrintable(result.error);
    EXPECT_TRUE(favoritesTree(home.favorites()).isEmpty());
}
