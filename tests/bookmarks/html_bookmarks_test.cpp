// Bookmarks HTML files as the two browser families export them, read into a
// tree; broken files are refused as a whole.
#include "bookmarks/html_bookmarks.h"
#include "webserver/http_answer.h"

#include <gtest/gtest.h>

using namespace bookmarks;

namespace {

// Laid out as a Chromium-family browser exports: the bookmarks bar as a
// folder marked as the toolbar, the other bookmarks loose in the top list.
const QByteArray ChromiumStyle =
    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
    "<!-- Generated file: read and overwritten. <DL> inside a comment is no list. -->\n"
    "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
    "<TITLE>Bookmarks</TITLE>\n"
    "<H1>Bookmarks</H1>\n"
    "<DL><p>\n"
    "    <DT><H3 ADD_DATE=\"1700000000\" LAST_MODIFIED=\"1700000100\" "
    "PERSONAL_TOOLBAR_FOLDER=\"true\">Bookmarks bar</H3>\n"
    "    <DL><p>\n"
    "        <DT><A HREF=\"https://a.example/?q=1&amp;r=2#top\" ADD_DATE=\"1700000000\" "
    "ICON=\"data:image/png;base64,iVBORw0KGgo=\">Tom &amp; Jerry &lt;3 &#233;t&#xE9;</A>\n"
    "        <DT><H3 ADD_DATE=\"1700000000\" LAST_MODIFIED=\"0\">Empty</H3>\n"
    "        <DL><p>\n"
    "        </DL><p>\n"
    "    </DL><p>\n"
    "    <DT><A HREF=\"https://loose.example/\" ADD_DATE=\"1700000000\">Loose &quot;one&quot;</A>\n"
    "</DL><p>\n";

// Laid out as Firefox exports: the menu's items loose in the top list, the
// toolbar and other bookmarks as marked folders, descriptions, separators,
// lower-case tags and a closing list without <p>.
const QByteArray FirefoxStyle =
    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
    "<!-- Generated file. -->\n"
    "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'self'; "
    "script-src 'none'; img-src data: *; object-src 'none'\"></meta>\n"
    "<TITLE>Bookmarks</TITLE>\n"
    "<H1>Bookmarks Menu</H1>\n\n"
    "<DL><p>\n"
    "    <DT><A HREF=\"place:parent=menu________&amp;queryType=1&amp;sort=12\" "
    "ADD_DATE=\"1\">Recent Tags</A>\n"
    "    <HR>\n"
    "    <DT><H3 ADD_DATE=\"1\" LAST_MODIFIED=\"2\" PERSONAL_TOOLBAR_FOLDER=\"true\">Bookmarks "
    "Toolbar</H3>\n"
    "    <DD>Add bookmarks to this folder to see them on the toolbar\n"
    "    <DL><p>\n"
    "        <dt><a href='https://b.example/x>y' ADD_DATE=\"3\" TAGS=\"x,y\" "
    "SHORTCUTURL=\"bx\">B &#39;quoted&#39; &amp;amp;</a>\n"
    "        <DD>A description with <b>markup</b>\n"
    "    </DL><p>\n"
    "    <DT><H3 ADD_DATE=\"1\" LAST_MODIFIED=\"2\" UNFILED_BOOKMARKS_FOLDER=\"true\">Other "
    "Bookmarks</H3>\n"
    "    <DL><p>\n"
    "        <DT><A HREF=\"ftp://files.example/pub/\" ADD_DATE=\"5\">Files</A>\n"
    "    </DL><p>\n"
    "</DL>\n";

BookmarkTree read(const QByteArray& html, QString* error, bool* ok) {
    BookmarkTree tree;
    TreeBuilder builder(tree);
    *ok = ReadHtmlBookmarks(html, builder, error);
    return tree;
}

} // namespace

TEST(HtmlBookmarks, ChromiumExportGivesFoldersNamesAndAddresses) {
    QString error;
    bool ok = false;
    const BookmarkTree tree = read(ChromiumStyle, &error, &ok);
    ASSERT_TRUE(ok) << qPrintable(error);
    ASSERT_EQ(tree.root.folders.size(), 1);
    const BookmarkFolder& bar = *tree.root.folders[0];
    EXPECT_EQ(bar.name, "Bookmarks bar");
    ASSERT_EQ(bar.bookmarks.size(), 1);
    EXPECT_EQ(bar.bookmarks[0].name, QString::fromUtf8("Tom & Jerry <3 \u00e9t\u00e9"));
    EXPECT_EQ(bar.bookmarks[0].url, "https://a.example/?q=1&r=2#top");
    ASSERT_EQ(bar.folders.size(), 1);
    EXPECT_EQ(bar.folders[0]->name, "Empty");
    EXPECT_TRUE(bar.folders[0]->bookmarks.isEmpty());
    ASSERT_EQ(tree.root.bookmarks.size(), 1);
    EXPECT_EQ(tree.root.bookmarks[0].name, "Loose \"one\"");
}

TEST(HtmlBookmarks, FirefoxExportKeepsEveryFolderAndSkipsDescriptions) {
    QString error;
    bool ok = false;
    const BookmarkTree tree = read(FirefoxStyle, &error, &ok);
    ASSERT_TRUE(ok) << qPrintable(error);
    ASSERT_EQ(tree.root.bookmarks.size(), 1);
    EXPECT_EQ(tree.root.bookmarks[0].url, "place:parent=menu________&queryType=1&sort=12");
    ASSERT_EQ(tree.root.folders.size(), 2);
    const BookmarkFolder& toolbar = *tree.root.folders[0];
    EXPECT_EQ(toolbar.name, "Bookmarks Toolbar");
    ASSERT_EQ(toolbar.bookmarks.size(), 1);
    EXPECT_EQ(toolbar.bookmarks[0].url, "https://b.example/x>y");
    // A reference is decoded once: "&amp;amp;" stays "&amp;".
    EXPECT_EQ(toolbar.bookmarks[0].name, "B 'quoted' &amp;");
    EXPECT_EQ(tree.root.folders[1]->name, "Other Bookmarks");
    ASSERT_EQ(tree.root.folders[1]->bookmarks.size(), 1);
    EXPECT_EQ(tree.root.folders[1]->bookmarks[0].url, "ftp://files.example/pub/");
}

TEST(HtmlBookmarks, BrokenFilesAreRefusedWithTheReason) {
    struct Case {
        QByteArray html;
        const char* reason;
    };
    const qsizetype cut = ChromiumStyle.indexOf("    <DT><A HREF=\"https://loose");
    const QList<Case> cases = {
        {"<html><body><a href=\"http://x/\">x</a></body></html>", "not a bookmarks HTML file"},
        {QByteArray(), "not a bookmarks HTML file"},
        {ChromiumStyle.left(cut), "ends inside a folder"},
        {ChromiumStyle.left(ChromiumStyle.indexOf("Tom &amp;") + 5), "without </A>"},
        {ChromiumStyle + "</DL><p>\n", "without its <DL>"},
        {"<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p><DT><A HREF=\"http://x/", "never ends"},
        {"<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n", "no list"},
        {"<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p><!-- open", "comment"},
    };
    for (const Case& c : cases) {
        QString error;
        bool ok = true;
        read(c.html, &error, &ok);
        EXPECT_FALSE(ok) << c.html.left(80).constData();
        EXPECT_TRUE(error.contains(QLatin1String(c.reason))) << qPrintable(error);
    }
}

TEST(HtmlBookmarks, EscapedNamesAndAddressesReadBackAsWritten) {
    // What the export writes for a name and an address with every special
    // character reads back unchanged.
    const QString name = QString::fromUtf8("<b>\"Tom\" & 'Jerry'</b> &amp; \u00e9 \U0001F600");
    const QString url = "https://x.example/?a=1&b=\"2\"&c=<3>#'f'";
    const QByteArray html = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n<DT><A HREF=\"" +
                            webserver::htmlEscape(url.toUtf8()) + "\">" +
                            webserver::htmlEscape(name.toUtf8()) + "</A>\n</DL><p>\n";
    QString error;
    bool ok = false;
    const BookmarkTree tree = read(html, &error, &ok);
    ASSERT_TRUE(ok) << qPrintable(error);
    ASSERT_EQ(tree.root.bookmarks.size(), 1);
    EXPECT_EQ(tree.root.bookmarks[0].name, name);
    EXPECT_EQ(tree.root.bookmarks[0].url, url);
}

TEST(HtmlBookmarks, DeepListsKeepThirtyTwoLevelsAndCountTheRest) {
    QByteArray html = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n";
    const int levels = 500;
    for (int i = 1; i <= levels; ++i)
        html += "<DT><H3>Level " + QByteArray::number(i) +
                "</H3>\n<DL><p>\n<DT><A HREF=\"http://d" + QByteArray::number(i) +
                ".example/\">D</A>\n";
    for (int i = 0; i <= levels; ++i)
        html += "</DL><p>\n";
    QString error;
    bool ok = false;
    const BookmarkTree tree = read(html, &error, &ok);
    ASSERT_TRUE(ok) << qPrintable(error);
    int depth = 0;
    const BookmarkFolder* folder = &tree.root;
    while (!folder->folders.isEmpty()) {
        folder = folder->folders[0].get();
        ++depth;
        EXPECT_EQ(folder->bookmarks.size(), 1);
    }
    EXPECT_EQ(depth, MaxFolderDepth);
    EXPECT_EQ(folder->name, "Level 32");
    EXPECT_EQ(tree.tooDeep, levels - MaxFolderDepth);
}
