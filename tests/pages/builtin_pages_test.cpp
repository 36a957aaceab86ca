// What the built-in stylesheets make of catalogues: framesets, headers, the
// grid of four, the edit form, the footer buttons, the watcher and the
// history page.
#include "page_fixtures.h"

#include "pages/builtin_texts.h"
#include "pages/xslt_engine.h"

#include "catalogue/catalogue_writer.h"
#include "catalogue/encodings.h"

#include <gtest/gtest.h>

using pages::BuiltinText;
using pagetest::Html;

namespace {

QByteArray page(BuiltinText sheet, const QByteArray& catalogueText, bool multiPage,
                const QString& folder = {}) {
    return pages::doTransform(catalogueText, pages::builtinText(sheet), folder,
                              {multiPage, "8080"});
}

const QByteArray standby = pages::builtinText(BuiltinText::StandbyCatalogue);
const QString nbsp = QString(QChar(160));

QByteArray homeCatalogue(bool homePage) {
    QList<pagetest::Favourite> links = pagetest::favourites("Site", 4);
    links.insert(1, {"_Old Home Page", "http://old.invalid/", "images\\9.BMP"});
    return pagetest::catalogueText(377735000, homePage, {{"", links}});
}

} // namespace

TEST(BuiltinPages, StandbyCatalogueIsTheCatalogueWritersEmptyCatalogue) {
    EXPECT_EQ(pages::withCrLfLines(standby), catalogue::startup_XML());
}

TEST(BuiltinPages, ViewerFramesetRowsFollowHomePageAndPageMode) {
    auto rows = [](const QByteArray& catalogueText, bool multiPage) {
        return Html(page(BuiltinText::ViewFrame, catalogueText, multiPage))
            .text("//frameset/@rows");
    };
    EXPECT_EQ(rows(standby, false), "64,*,0");
    EXPECT_EQ(rows(standby, true), "100,*,0");
    EXPECT_EQ(rows(homeCatalogue(true), false), "175,*,0");
    EXPECT_EQ(rows(homeCatalogue(true), true), "175,*,0");
    EXPECT_EQ(rows(homeCatalogue(false), true), "100,*,0");

    const Html viewer(page(BuiltinText::ViewFrame, standby, false));
    EXPECT_EQ(viewer.text("//title"), "Viewer");
    EXPECT_EQ(viewer.texts("//frame/@name"), QStringList({"header", "mymain", "dummy"}));
    EXPECT_EQ(viewer.texts("//frame/@src"),
              QStringList({"view_header.htm", "view.htm", "reloader.htm"}));
    EXPECT_EQ(viewer.text("//frame[@name='dummy']/@scrolling"), "no");
    EXPECT_EQ(viewer.count("//frame[@name='header'][@noresize][@target='main'][@frameborder='1']"),
              1);
    EXPECT_EQ(viewer.text("//noframes//p"),
              "This page uses frames, but your browser doesn't support them.");
    EXPECT_EQ(viewer.count("//meta[@http-equiv='Pragma'][@content='no-cache']"), 1);
    EXPECT_EQ(viewer.count("//meta[@http-equiv='expires'][@content='0']"), 1);
}

TEST(BuiltinPages, EditorFramesetAndFooterButtons) {
    const Html single(page(BuiltinText::EditFrame, standby, false));
    EXPECT_EQ(single.text("//frameset/@rows"), "64,*,64");
    EXPECT_EQ(Html(page(BuiltinText::EditFrame, standby, true)).text("//frameset/@rows"),
              "100,*,64");
    EXPECT_EQ(single.text("//title"), "Editor");
    EXPECT_EQ(single.texts("//frame/@src"),
              QStringList({"edit_header.htm", "edit.htm", "edit_footer.htm"}));
    EXPECT_EQ(single.texts("//frame/@name"), QStringList({"header", "mymain", "footer"}));
    EXPECT_EQ(single.count("//frame[@target='contents']"), 2);

    const Html footer(page(BuiltinText::EditFooter, standby, false));
    EXPECT_EQ(footer.text("//title"), "Controls");
    EXPECT_EQ(footer.text("//body/@background"), "\\_back.jpg");
    EXPECT_EQ(footer.text("//form/@method"), "POST");
    EXPECT_EQ(footer.count("//form/@action"), 0);
    EXPECT_EQ(footer.texts("//form/p/input/@value"),
              QStringList({"Back to View Mode", "Save Changes", "Discard Chages"}));
    EXPECT_EQ(footer.texts("//form/p/input/@name"), QStringList({"B3", "B1", "B2"}));
    EXPECT_EQ(footer.texts("//form/p/input/@type"), QStringList({"button", "button", "reset"}));
    EXPECT_TRUE(footer.text("//input[@name='B3']/@onclick").contains("parent.location"));
    EXPECT_TRUE(footer.text("//input[@name='B1']/@onclick").contains("myedit"));
    EXPECT_TRUE(footer.text("//input[@name='B1']/@onclick").contains("submit()"));
    EXPECT_TRUE(footer.text("//input[@name='B2']/@onclick").contains("reload()"));
}

TEST(BuiltinPages, HeadersOfferTheFolderChoiceOnlyPerFolder) {
    const Html single(page(BuiltinText::ViewHead, standby, false));
    EXPECT_EQ(single.count("//select"), 0);
    EXPECT_EQ(single.text("//title"), "Header");
    EXPECT_EQ(single.text("//body/@onload"), "setcombo();");
    EXPECT_EQ(single.text("//a[@href='editor.htm']"), "Manage Favourites");
    EXPECT_EQ(single.text("//a[@href='editor.htm']/@target"), "_top");
    EXPECT_EQ(single.text("//a[@href='history.htm']"), "Manage history");
    EXPECT_TRUE(single.text("//body").contains("Favourites Manager Edit Mode"));
    EXPECT_TRUE(single.text("//body").contains("History Manager View Mode"));
    EXPECT_EQ(single.count("//meta[@http-equiv='Content-Language'][@content='en-gb']"), 1);

    const QByteArray multiText = page(BuiltinText::ViewHead, standby, true);
    const Html multi(multiText);
    EXPECT_EQ(multi.texts("//form[@name='view_head']/select[@name='DropDown']/option"),
              QStringList({"Root"}));
    EXPECT_EQ(multi.text("//select/option/@value"), "Root");
    EXPECT_EQ(multi.text("//select/@onchange"), "Change()");
    EXPECT_EQ(multi.text("//select/@size"), "1");
    EXPECT_TRUE(multi.text("//form[@name='view_head']").contains("Change to new page:"));
    EXPECT_EQ(multi.text("//table/tr/td[1]"), "");
    // The script knows the catalogue time and selects the remembered option.
    EXPECT_TRUE(multiText.contains("var LoadTime = 1;"));
    EXPECT_TRUE(multiText.contains("box.selectedIndex = global_page"));
    EXPECT_FALSE(
        page(BuiltinText::ViewHead, standby, false).contains("box.selectedIndex = global_page"));
    for (const char* function :
         {"function Change()", "function reloader()", "function getStringVar(",
          "function getNumberVar(", "function setcombo()"})
        EXPECT_TRUE(multiText.contains(function)) << function;

    const QByteArray editText = page(BuiltinText::EditHead, standby, true);
    const Html edit(editText);
    EXPECT_EQ(edit.texts("//form[@name='edit_head']/select[@name='DropDown']/option"),
              QStringList({"Root"}));
    EXPECT_EQ(edit.text("//p"), "Favourites Manager Edit Mode");
    EXPECT_EQ(edit.count("//a"), 0);
    EXPECT_TRUE(editText.contains("\"edit.htm\""));
    EXPECT_TRUE(editText.contains("\"edit\" + encodeURIComponent(stem)"));
    EXPECT_EQ(Html(page(BuiltinText::EditHead, standby, false)).count("//select"), 0);
}

TEST(BuiltinPages, OldHomePageGoesToTheHeaderOnlyWhenAsked) {
    // HomePage "YES": in the header; in the grid it keeps its place in the
    // groups (three cells, then one and three empty ones) but has no cell.
    const Html yesHeader(page(BuiltinText::ViewHead, homeCatalogue(true), false));
    EXPECT_EQ(yesHeader.text("(//table/tr/td[1]//a)[2]"), "_Old Home Page");
    EXPECT_EQ(yesHeader.text("(//table/tr/td[1]//a)[1]/img/@src"), "images%5C9.BMP");
    const Html yesGrid(page(BuiltinText::View, homeCatalogue(true), false));
    EXPECT_EQ(yesGrid.count("//font[@size='2']//a"), 4);
    EXPECT_EQ(yesGrid.count("//a[@href='http://old.invalid/']"), 0);
    EXPECT_EQ(yesGrid.count("//table/tr"), 6);
    EXPECT_EQ(yesGrid.texts("//table/tr[2]/td//b/a"), QStringList({"Site1", "Site2", "Site3"}));
    EXPECT_EQ(yesGrid.count("//table/tr[1]/td"), 3);
    EXPECT_EQ(yesGrid.texts("//table/tr[5]/td//b/a"), QStringList({"Site4"}));
    EXPECT_EQ(yesGrid.count("//table/tr[4]/td[.='" + nbsp + "']"), 3);

    // HomePage "No": an ordinary favourite, and an empty first header cell.
    const Html noHeader(page(BuiltinText::ViewHead, homeCatalogue(false), false));
    EXPECT_EQ(noHeader.count("//table/tr/td[1]//a"), 0);
    const Html noGrid(page(BuiltinText::View, homeCatalogue(false), false));
    EXPECT_EQ(noGrid.texts("//font[@size='2']//a"),
              QStringList({"Site1", "_Old Home Page", "Site2", "Site3", "Site4"}));
    EXPECT_EQ(noGrid.count("//a[@href='http://old.invalid/']/img"), 1);

    // The editor always offers it.
    const Html edit(page(BuiltinText::Edit, homeCatalogue(true), false));
    EXPECT_EQ(edit.count("//textarea"), 5);
    EXPECT_EQ(edit.count("//textarea[.='_Old Home Page']"), 1);
}

TEST(BuiltinPages, FiveLinksMakeTwoGroupsWithThreeEmptyCells) {
    const QByteArray text =
        pagetest::catalogueText(2, false, {{"News", pagetest::favourites("N", 5)}});
    const Html view(page(BuiltinText::View, text, false));
    ASSERT_EQ(view.count("//table/tr"), 6);
    for (int row = 1; row <= 6; ++row) {
        const QString cells = QString("//table/tr[%1]/td").arg(row);
        EXPECT_EQ(view.count(cells), 4) << row;
        EXPECT_EQ(view.count(cells + "[@width='175']"), 4) << row;
        EXPECT_EQ(view.count(cells + "[.='" + nbsp + "']"), row <= 3 ? 0 : 3) << row;
    }
    EXPECT_EQ(view.texts("//table/tr[2]/td//b/a"), QStringList({"N1", "N2", "N3", "N4"}));
    EXPECT_EQ(view.texts("//table/tr[5]/td//b/a"), QStringList({"N5"}));
    EXPECT_EQ(view.text("//table/tr[6]/td[1]/font[@face='Verdana'][@size='1']"), "News");
    EXPECT_EQ(view.text("//table/tr[4]/td[1]/a/@target"), "_top");
    EXPECT_EQ(view.text("//table/tr[4]/td[1]/a/@href"), "http://example.invalid/N5");
    EXPECT_EQ(view.count("//table/following-sibling::hr"), 1);
    EXPECT_EQ(view.text("//body/@onload"), "setScroll();");
    EXPECT_EQ(view.text("//body/@background"), "\\_back.jpg");

    // The editor's groups have five rows each.
    const Html edit(page(BuiltinText::Edit, text, false));
    ASSERT_EQ(edit.count("//table/tr"), 10);
    EXPECT_EQ(edit.count("//table/tr[6]/td[.='" + nbsp + "']"), 3);
    EXPECT_EQ(edit.count("//table/tr[10]/td[.='" + nbsp + "']"), 3);
}

TEST(BuiltinPages, PerFolderPagesShowOnlyTheirFolder) {
    const QByteArray text = pagetest::catalogueText(
        2, false,
        {{"", pagetest::favourites("R", 1)}, {"Links\\Sub", pagetest::favourites("S", 2)}});
    auto names = [&](bool multiPage, const QString& folder) {
        return Html(page(BuiltinText::View, text, multiPage, folder)).texts("//b/a");
    };
    EXPECT_EQ(names(false, {}), QStringList({"R1", "S1", "S2"}));
    EXPECT_EQ(names(true, {}), QStringList({"R1"}));
    EXPECT_EQ(names(true, "Links\\Sub"), QStringList({"S1", "S2"}));
    EXPECT_EQ(names(true, "Links"), QStringList());

    EXPECT_EQ(QString::fromUtf8(pages::doTransform(text, pages::builtinText(BuiltinText::Folders),
                                                   {}, {true, "80"})),
              "\r\nLinks\\Sub\r\n");
}

TEST(BuiltinPages, EditFormNamesEveryFieldAfterTheFavourite) {
    const QByteArray text = pagetest::catalogueText(
        2, false,
        {{"", pagetest::favourites("R", 1)}, {"Links\\Sub", pagetest::favourites("S", 1)}});
    const Html edit(page(BuiltinText::Edit, text, false));
    EXPECT_EQ(edit.text("//form/@method"), "POST");
    EXPECT_EQ(edit.text("//form/@name"), "myedit");
    EXPECT_EQ(edit.text("//form/@action"), "/cgi-bin/cgifrm1.exe");
    EXPECT_EQ(edit.count("//form//input[@type='submit']"), 0);

    const QString unique =
        QString::fromLatin1(catalogue::HexEncode("/home/u/Favorites/Links/Sub/S1.url"));
    EXPECT_EQ(edit.text("//textarea[@name='Edit" + unique + "']"), "S1");
    EXPECT_EQ(edit.text("//textarea[@name='Edit" + unique + "']/@rows"), "2");
    const QString combo = "//select[@name='Combo" + unique + "']";
    EXPECT_EQ(edit.texts(combo + "/option"), QStringList({"Root", "Links\\Sub"}));
    EXPECT_EQ(edit.texts(combo + "/option/@value"), QStringList({"Root", "Links\\Sub"}));
    EXPECT_EQ(edit.texts(combo + "/option[@selected]"), QStringList({"Links\\Sub"}));
    EXPECT_EQ(edit.text(combo + "/@size"), "1");
    const QString rootUnique =
        QString::fromLatin1(catalogue::HexEncode("/home/u/Favorites//R1.url"));
    EXPECT_EQ(edit.texts("//select[@name='Combo" + rootUnique + "']/option[@selected]"),
              QStringList({"Root"}));
    EXPECT_EQ(edit.text("//input[@name='OB" + unique + "']/@value"), "1");
    EXPECT_EQ(edit.text("//input[@name='OB" + unique + "']/@size"), "5");
    EXPECT_EQ(edit.text("//input[@name='OB" + unique + "']/@type"), "Text");
    EXPECT_TRUE(edit.text("//input[@name='OB" + unique + "']/..").contains("I.E. Sort Order"));
    EXPECT_EQ(edit.text("//input[@name='CB" + unique + "']/@type"), "checkbox");
    EXPECT_EQ(edit.text("//input[@name='CB" + unique + "']/@value"), "deleteme");
    EXPECT_TRUE(edit.text("//input[@name='CB" + unique + "']/..").contains("Delete Me"));
}

TEST(BuiltinPages, ChangeWatcherAndPlaceholders) {
    const QByteArray watcher =
        page(BuiltinText::Reloader, pagetest::catalogueText(4242, false, {}), false);
    const Html html(watcher);
    EXPECT_EQ(html.text("//meta[@http-equiv='Refresh']/@content"),
              "10; URL=http://localhost:8080/reloader.htm");
    EXPECT_TRUE(watcher.contains("var LocalTime = 4242;"));
    EXPECT_EQ(html.text("//body/@onload"), "update()");
    EXPECT_EQ(html.count("//body/@background"), 0);

    const Html notRun(pages::builtinText(BuiltinText::NotRunPage));
    EXPECT_EQ(notRun.text("//meta[@http-equiv='Refresh']/@content"),
              "10; URL=http://localhost/view.htm");
    EXPECT_EQ(notRun.text("//title"), "Pagorama First Run");
    EXPECT_EQ(notRun.count("//meta[@http-equiv='Pragam']"), 1);
    EXPECT_EQ(notRun.text("//p[1]"),
              "This page will automatically be updated once Pagorama has checked all web\nsites.");
    EXPECT_TRUE(notRun.text("//p[2]").startsWith("Depending on the number of favourites"));
    EXPECT_EQ(notRun.count("//p[2]/br"), 2);
    EXPECT_TRUE(pages::builtinText(BuiltinText::NotRunPage).contains("var LoadTime = 0;"));

    const Html history(pages::builtinText(BuiltinText::NotRunHistory));
    EXPECT_EQ(history.text("//meta[@http-equiv='Refresh']/@content"),
              "10; URL=http://localhost/history.htm");
    EXPECT_EQ(history.count("//p"), 1);
    EXPECT_TRUE(history.text("//p").endsWith("web\nsites"));
}

TEST(BuiltinPages, HistoryPageOffersEachSiteWithItsOwnButton) {
    catalogue::CatalogueText text;
    text.startHistory(777);
    for (int i = 1; i <= 5; ++i)
        text.addHistoryLink(
            "Site " + QByteArray::number(i),
            catalogue::PropertyPiece("PID_IS_URL",
                                     "http://h" + QByteArray::number(i) + ".invalid/") +
                catalogue::ImagePiece("images\\history\\" + QByteArray::number(i) + ".BMP"));
    text.finish();
    const QByteArray bytes = page(BuiltinText::History, text.text(), false);
    const Html html(bytes);
    EXPECT_TRUE(bytes.contains("var LoadTime = 777;"));
    EXPECT_EQ(html.text("//form/@name"), "addhistory");
    EXPECT_EQ(html.text("//form/@action"), "/cgi-bin/cgifrm2.exe");
    EXPECT_EQ(html.text("//form/@method"), "POST");
    EXPECT_EQ(html.count("//input[@type='submit'][@value='Add to favourites']"), 5);
    EXPECT_EQ(html.text("//input[@type='submit'][1]/@name"), "http://h1.invalid/");
    EXPECT_EQ(html.text("(//input[@type='submit'])[5]/@id"), "images\\history\\5.BMP");
    EXPECT_EQ(html.texts("//b//a"),
              QStringList({"Site 1", "Site 2", "Site 3", "Site 4", "Site 5"}));
    EXPECT_EQ(html.count("//table/tr"), 6);
    EXPECT_EQ(html.count("//table/tr[4]/td[.='" + nbsp + "']"), 3);
    EXPECT_EQ(html.count("//meta[@http-equiv='Pragam']"), 1);
    EXPECT_EQ(html.text("//body/@onload"), "setScroll();");
}

TEST(BuiltinPages, EditFormCarriesItsValuesAndTellsTheTopFolderFromRoot) {
    const QByteArray text = pagetest::catalogueText(
        2, false, {{"", pagetest::favourites("T", 1)}, {"Root", pagetest::favourites("R", 1)}});
    const Html edit(page(BuiltinText::Edit, text, false));
    const QString top = QString::fromLatin1(catalogue::HexEncode("/home/u/Favorites//T1.url"));
    const QString inRoot =
        QString::fromLatin1(catalogue::HexEncode("/home/u/Favorites/Root/R1.url"));
    // Both folders are offered as "Root"; only the Favorites folder's option
    // is marked as the top folder.
    const QString combo = "//select[@name='Combo" + inRoot + "']";
    EXPECT_EQ(edit.texts(combo + "/option/@value"), QStringList({"Root", "Root"}));
    EXPECT_EQ(edit.texts(combo + "/option/@data-top"), QStringList({"yes"}));
    EXPECT_EQ(edit.text(combo + "/option[@selected]/@data-top"), "");
    EXPECT_TRUE(edit.text(combo + "/@onchange").contains("TopChoice(this)"));
    EXPECT_EQ(edit.text("//input[@name='Top" + top + "']/@value"), "yes");
    EXPECT_EQ(edit.text("//input[@name='Top" + inRoot + "']/@value"), "no");
    EXPECT_EQ(edit.text("//input[@name='Top" + inRoot + "']/@type"), "hidden");

    // The values the page is built with travel with the form.
    EXPECT_EQ(edit.text("//input[@name='WasEdit" + inRoot + "']/@value"), "R1");
    EXPECT_EQ(edit.text("//input[@name='WasCombo" + inRoot + "']/@value"), "Root");
    EXPECT_EQ(edit.count("//input[@name='WasCombo" + top + "'][@value='']"), 1);
    EXPECT_EQ(edit.text("//input[@name='WasOB" + inRoot + "']/@value"), "1");
    EXPECT_EQ(edit.count("//input[@type='hidden']"), 8);
}

TEST(BuiltinPages, ScriptAddressesAreShownAsTextNeverAsLinks) {
    const QList<pagetest::Favourite> links = {
        {"Plain", "http://example.invalid/", "images\\1.BMP"},
        {"Script", "javascript:alert(1)", "images\\2.BMP"},
        {"Upper", "  JavaScript:alert(2)", "images\\3.BMP"},
        {"Split", "java\tscr\nipt:alert(3)", "images\\4.BMP"},
        {"Data", "DATA:text/html,<script>alert(4)</script>", "images\\5.BMP"},
        {"_Old Home Page", "vbscript:msgbox(5)", "images\\6.BMP"},
    };
    const QByteArray text = pagetest::catalogueText(3, true, {{"", links}});
    for (const BuiltinText sheet : {BuiltinText::View, BuiltinText::Edit, BuiltinText::ViewHead}) {
        const Html html(page(sheet, text, false));
        for (const QString& href : html.texts("//a/@href"))
            EXPECT_TRUE(href.startsWith("http:") || href.endsWith(".htm"))
                << int(sheet) << " " << href.toStdString();
    }
    const Html view(page(BuiltinText::View, text, false));
    EXPECT_EQ(view.count("//a"), 2); // picture and name of the plain one
    // The others still show their names and pictures, as text.
    EXPECT_EQ(view.texts("//font[@size='2']//span"),
              QStringList({"Script", "Upper", "Split", "Data"}));
    EXPECT_EQ(view.count("//span/img"), 4);
    const Html header(page(BuiltinText::ViewHead, text, false));
    EXPECT_EQ(header.count("//span[.='_Old Home Page']"), 1);

    catalogue::CatalogueText history;
    history.startHistory(5);
    for (const QByteArray& address :
         {QByteArray("javascript:alert(6)"), QByteArray("http://h.invalid/")})
        history.addHistoryLink("Site", catalogue::PropertyPiece("PID_IS_URL", address) +
                                           catalogue::ImagePiece("images\\history\\1.BMP"));
    history.finish();
    const Html suggestions(page(BuiltinText::History, history.text(), false));
    EXPECT_EQ(suggestions.texts("//a/@href"),
              QStringList({"http://h.invalid/", "http://h.invalid/"}));
}
