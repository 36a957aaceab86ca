// The page runs over a data folder in a temporary home: which files are
// written, from which stylesheet, under which names, and what survives a
// failure.
#include "page_fixtures.h"

#include "pages/builtin_texts.h"
#include "pages/folder_page_names.h"
#include "pages/page_writer.h"
#include "platform/settings_model.h"
#include "support/temp_home.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using pages::BuiltinText;
using pages::PagesError;
using pages::PageWriter;
using pagetest::Html;

namespace {

class PageWriterTest : public ::testing::Test {
protected:
    PageWriterTest()
        : writer(
              settings, [this] { return port; }, [this] { onPump(); }) {}

    QString data() const { return home.dataFolder(); }
    QByteArray read(const QString& name) const {
        QFile file(data() + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    void write(const QString& name, const QByteArray& text) const {
        home.write("Documents/pagorama/" + name, text);
    }
    bool exists(const QString& name) const { return QFileInfo::exists(data() + name); }
    void onPump() {
        ++pumps;
        dataFolderAtPump = QFileInfo(data()).isDir();
    }
    // A refresh run: the catalogue is saved, then both page runs.
    void refresh(const QByteArray& catalogueText) {
        write("listings.xml", catalogueText);
        writer.writeSupportPages();
        writer.writeCataloguePages(catalogueText);
    }

    testsupport::TempHome home;
    platform::SettingsModel settings;
    QString port = "8080";
    int pumps = 0;
    bool dataFolderAtPump = false;
    PageWriter writer;
};

const QStringList supportPages = {"editor.htm",  "edit_header.htm", "edit_footer.htm",
                                  "viewer.htm",  "view_footer.htm", "view_header.htm",
                                  "reloader.htm"};

QByteArray twoFolders(qint64 time = 10) {
    return pagetest::catalogueText(
        time, false,
        {{"", pagetest::favourites("R", 2)}, {"Links\\Sub", pagetest::favourites("S", 3)}});
}

} // namespace

TEST_F(PageWriterTest, BeforeTheFirstRunTheSupportPagesComeFromTheStandbyCatalogue) {
    settings.newPage = false;
    writer.writeSupportPages();
    EXPECT_EQ(pumps, 1);
    EXPECT_TRUE(dataFolderAtPump);
    for (const QString& page : supportPages)
        EXPECT_TRUE(exists(page)) << page.toStdString();
    for (const char* sheet : {"editor.xsl", "edit_header.xsl", "edit_footer.xsl", "viewer.xsl",
                              "view_footer.xsl", "view_header.xsl", "reloader.xsl"})
        EXPECT_TRUE(exists(sheet)) << sheet;
    EXPECT_EQ(read("view_footer.xsl"),
              pages::withCrLfLines(pages::builtinText(BuiltinText::ViewHead)));
    EXPECT_EQ(Html(read("viewer.htm")).text("//frameset/@rows"), "64,*,0");
    EXPECT_EQ(Html(read("view_header.htm")).count("//select"), 0);

    settings.newPage = true;
    writer.writeSupportPages();
    EXPECT_EQ(Html(read("viewer.htm")).text("//frameset/@rows"), "100,*,0");
    EXPECT_EQ(Html(read("view_header.htm")).texts("//select[@name='DropDown']/option"),
              QStringList({"Root"}));
    EXPECT_EQ(Html(read("edit_header.htm")).texts("//select[@name='DropDown']/option"),
              QStringList({"Root"}));

    // The placeholders, with the server's port bound in, lines ended by CR LF.
    const QByteArray view = read("view.htm");
    EXPECT_TRUE(view.contains("CONTENT=\"10; URL=http://localhost:8080/view.htm\">\r\n"));
    EXPECT_EQ(read("edit.htm"), view);
    EXPECT_TRUE(read("history.htm").contains("URL=http://localhost:8080/history.htm"));
    EXPECT_EQ(view.count("\r\n"), view.count("\n"));
    EXPECT_EQ(Html(read("reloader.htm")).text("//meta[@http-equiv='Refresh']/@content"),
              "10; URL=http://localhost:8080/reloader.htm");
}

TEST_F(PageWriterTest, PlaceholdersAreWrittenOnlyWhileTheirPageIsMissing) {
    write("view.htm", "real view page");
    writer.writeSupportPages();
    EXPECT_EQ(read("view.htm"), "real view page");
    EXPECT_TRUE(read("edit.htm").contains("Pagorama First Run"));

    // Once the refresh run wrote real pages, later support runs leave them.
    refresh(twoFolders());
    writer.writeSupportPages();
    EXPECT_FALSE(read("view.htm").contains("Pagorama First Run"));
    EXPECT_FALSE(read("edit.htm").contains("Pagorama First Run"));
}

TEST_F(PageWriterTest, SupportPagesFollowTheLatestSavedCatalogue) {
    write("listings.xml",
          pagetest::catalogueText(99, true, {{"Work", pagetest::favourites("W", 1)}}));
    writer.writeSupportPages();
    EXPECT_TRUE(writer.standbyCatalogue().contains("Time=\"99\""));
    EXPECT_EQ(Html(read("viewer.htm")).text("//frameset/@rows"), "175,*,0");
    EXPECT_TRUE(read("reloader.htm").contains("var LocalTime = 99;"));
    EXPECT_EQ(Html(read("view_header.htm")).texts("//option"), QStringList({"Work"}));

    // Deleting the catalogue keeps the last one seen.
    QFile::remove(data() + "listings.xml");
    writer.writeSupportPages();
    EXPECT_TRUE(read("reloader.htm").contains("var LocalTime = 99;"));
}

TEST_F(PageWriterTest, OnePagePerFolderNamedAfterItsLocation) {
    settings.newPage = true;
    refresh(twoFolders());
    EXPECT_EQ(Html(read("view.htm")).texts("//b/a"), QStringList({"R1", "R2"}));
    EXPECT_EQ(Html(read("LinksSub.htm")).texts("//b/a"), QStringList({"S1", "S2", "S3"}));
    EXPECT_EQ(Html(read("edit.htm")).count("//textarea"), 2);
    EXPECT_EQ(Html(read("editLinksSub.htm")).texts("//textarea"), QStringList({"S1", "S2", "S3"}));
    EXPECT_TRUE(exists("folders.xsl"));
    EXPECT_EQ(pumps, 1);

    // One page of each kind with every folder when the option is off.
    settings.newPage = false;
    QFile::remove(data() + "LinksSub.htm");
    refresh(twoFolders());
    EXPECT_EQ(Html(read("view.htm")).texts("//b/a"), QStringList({"R1", "R2", "S1", "S2", "S3"}));
    EXPECT_EQ(Html(read("edit.htm")).count("//textarea"), 5);
    EXPECT_FALSE(exists("LinksSub.htm"));
}

// The placeholder would promise an update that never comes: the top pages
// link the highest folders instead, names as text, links as page names only.
TEST_F(PageWriterTest, WithoutAFavouriteAtTheTopTheTopPagesLinkTheHighestFolders) {
    settings.newPage = true;
    writer.writeSupportPages();
    const QList<pagetest::Folder> folders = {{"News", pagetest::favourites("N", 1)},
                                             {"News\\Tech", pagetest::favourites("T", 1)},
                                             {"javascript:alert(1)", pagetest::favourites("J", 1)},
                                             {"<b>R&D \u00e9", pagetest::favourites("R", 1)},
                                             {"Work\\Sub", pagetest::favourites("W", 1)}};
    writer.writeCataloguePages(pagetest::catalogueText(5, false, folders));
    const Html view(read("view.htm")), edit(read("edit.htm"));
    EXPECT_EQ(view.texts("//li/a"),
              QStringList({"News", "javascript:alert(1)", "<b>R&D \u00e9", "Work\\Sub"}));
    EXPECT_EQ(view.texts("//a/@href"), QStringList({"News.htm", "javascript%3Aalert%281%29.htm",
                                                    "%3Cb%3ER%26D%20%C3%A9.htm", "WorkSub.htm"}));
    EXPECT_EQ(edit.text("(//a)[4]/@href"), "editWorkSub.htm");
    EXPECT_EQ(view.count("//b | //script[not(contains(., 'LoadTime'))]"), 0);

    // No favourite at all: the pages say so instead of waiting for one.
    writer.writeCataloguePages(pagetest::catalogueText(6, false, {}));
    EXPECT_TRUE(Html(read("edit.htm")).text("//p[1]").contains("found no web favourites"));
    EXPECT_EQ(Html(read("view.htm")).count("//a"), 0);
}

TEST_F(PageWriterTest, CataloguePagesParseTheCatalogueAndEachStylesheetOnce) {
    settings.newPage = true;
    QList<pagetest::Folder> folders;
    for (int i = 0; i < 5; ++i)
        folders.append({"F" + QString::number(i), pagetest::favourites("L", 3)});
    const pages::EngineCounters before = pages::engineCounters();
    writer.writeCataloguePages(pagetest::catalogueText(3, false, folders));
    const pages::EngineCounters after = pages::engineCounters();
    EXPECT_EQ(after.cataloguesParsed - before.cataloguesParsed, 1);
    // folders, view, edit, overview
    EXPECT_EQ(after.stylesheetsParsed - before.stylesheetsParsed, 4);
    EXPECT_EQ(after.transforms - before.transforms, 1 + 5 + 5 + 1);
}

TEST_F(PageWriterTest, StylesheetFilesAreTheUsersOnceTheyExist) {
    settings.newPage = false;
    // A deleted stylesheet comes back as the built-in text and is used.
    refresh(twoFolders());
    ASSERT_TRUE(QFile::remove(data() + "view.xsl"));
    refresh(twoFolders());
    EXPECT_EQ(read("view.xsl"), pages::withCrLfLines(pages::builtinText(BuiltinText::View)));
    EXPECT_EQ(Html(read("view.htm")).count("//b/a"), 5);

    // An edited one is used as it stands and never overwritten.
    const QByteArray mine = R"x(<?xml version="1.0"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="html"/>
<xsl:template match="/"><p>Mine: <xsl:value-of select="count(//Link)"/> at http://localhost/</p></xsl:template>
</xsl:stylesheet>
)x";
    write("view.xsl", mine);
    write("viewer.xsl", mine);
    refresh(twoFolders());
    EXPECT_EQ(read("view.xsl"), mine);
    EXPECT_EQ(read("viewer.xsl"), mine);
    EXPECT_TRUE(read("view.htm").contains("<p>Mine: 5 at http://localhost:8080/</p>\r\n"));
    EXPECT_TRUE(read("viewer.htm").contains("Mine: 5"));
}

TEST_F(PageWriterTest, AStylesheetThatDoesNotParseEndsTheRunWhereItFails) {
    settings.newPage = true;
    refresh(twoFolders(10));
    ASSERT_TRUE(QFile::remove(data() + "edit.xsl"));
    write("view.xsl", "<xsl:stylesheet version=\"1.0\"");

    const QByteArray next = twoFolders(20);
    write("listings.xml", next);
    writer.writeSupportPages();
    try {
        writer.writeCataloguePages(next);
        FAIL() << "a broken view.xsl must fail the run";
    } catch (const PagesError& error) {
        EXPECT_TRUE(error.message().contains("view.xsl")) << error.message().toStdString();
    }
    // The support pages of this run are new, the catalogue pages keep their
    // old text, and the run ended before the edit stylesheet was needed.
    EXPECT_TRUE(read("reloader.htm").contains("LocalTime = 20;"));
    EXPECT_TRUE(read("view.htm").contains("LoadTime = 10;"));
    EXPECT_FALSE(exists("edit.xsl"));
    EXPECT_EQ(read("view.xsl"), "<xsl:stylesheet version=\"1.0\"");

    // A broken support stylesheet ends the support run after the pages before it.
    write("viewer.xsl", "not xml");
    write("listings.xml", twoFolders(30));
    EXPECT_THROW(writer.writeSupportPages(), PagesError);
    EXPECT_TRUE(read("edit_header.htm").contains("LoadTime = 30;"));
    EXPECT_TRUE(read("view_header.htm").contains("LoadTime = 20;"));
    EXPECT_TRUE(read("reloader.htm").contains("LocalTime = 20;"));
}

TEST_F(PageWriterTest, APageThatCannotBeWrittenEndsTheRun) {
    settings.newPage = true;
    QDir().mkpath(data() + "LinksSub.htm"); // a folder where the page should go
    write("listings.xml", twoFolders());
    writer.writeSupportPages();
    EXPECT_THROW(writer.writeCataloguePages(twoFolders()), PagesError);
    EXPECT_FALSE(read("view.htm").contains("Pagorama First Run")); // written before the failure
    EXPECT_TRUE(read("edit.htm").contains("Pagorama First Run"));  // not reached

    // A data folder that cannot be created.
    testsupport::TempHome other;
    other.write("Documents", "a file, not a folder");
    PageWriter blocked(
        settings, [] { return QString("80"); }, [] {});
    EXPECT_THROW(blocked.writeSupportPages(), PagesError);
}

TEST(FolderPageNames, CollidingNamesGetNumberedAndFixedPagesStayFixed) {
    const QStringList locations = {"",      "News\\Tech", "NewsTech", "view",   "or",  "Viewer",
                                   "editX", "X",          "_header",  "News~2", "Root"};
    const auto pages = pages::folderPageNames(locations);
    QStringList views, edits;
    for (const auto& page : pages) {
        views << page.viewPage;
        edits << page.editPage;
    }
    EXPECT_EQ(views, QStringList({"view.htm", "NewsTech.htm", "NewsTech~2.htm", "view~2.htm",
                                  "or~2.htm", "Viewer~2.htm", "editX.htm", "X~2.htm",
                                  "_header~2.htm", "News~2.htm", "Root.htm"}));
    EXPECT_EQ(edits,
              QStringList({"edit.htm", "editNewsTech.htm", "editNewsTech~2.htm", "editview~2.htm",
                           "editor~2.htm", "editViewer~2.htm", "editeditX.htm", "editX~2.htm",
                           "edit_header~2.htm", "editNews~2.htm", "editRoot.htm"}));

    // Very long folder parts are cut at whole characters.
    const QString longName = QString(150, QChar(0xe9)); // 300 bytes in UTF-8
    const auto cut = pages::folderPageNames({longName, longName});
    EXPECT_EQ(cut[0].viewPage, QString(100, QChar(0xe9)) + ".htm");
    EXPECT_EQ(cut[1].viewPage, QString(100, QChar(0xe9)) + "~2.htm");
}

TEST_F(PageWriterTest, FoldersNamedLikeFixedPagesKeepEveryPageWorking) {
    settings.newPage = true;
    refresh(pagetest::catalogueText(7, false,
                                    {{"", pagetest::favourites("Top", 1)},
                                     {"viewer", pagetest::favourites("Vr", 1)},
                                     {"or", pagetest::favourites("Or", 1)},
                                     {"News\\Tech", pagetest::favourites("NT", 1)},
                                     {"NewsTech", pagetest::favourites("Flat", 1)}}));
    EXPECT_EQ(Html(read("viewer.htm")).text("//frameset/@rows"), "100,*,0");
    EXPECT_EQ(Html(read("editor.htm")).text("//frameset/@rows"), "100,*,64");
    EXPECT_EQ(Html(read("view.htm")).texts("//b/a"), QStringList({"Top1"}));
    EXPECT_EQ(Html(read("viewer~2.htm")).texts("//b/a"), QStringList({"Vr1"}));
    EXPECT_EQ(Html(read("editor~2.htm")).texts("//textarea"), QStringList({"Or1"}));
    EXPECT_EQ(Html(read("NewsTech.htm")).texts("//b/a"), QStringList({"NT1"}));
    EXPECT_EQ(Html(read("NewsTech~2.htm")).texts("//b/a"), QStringList({"Flat1"}));
}

TEST_F(PageWriterTest, NamesWithMarkupCharactersAndAccentsSurviveEveryStep) {
    settings.newPage = true;
    const QString folder = QString::fromUtf8("Caf\xc3\xa9 \"Q\" & <R> 'A'");
    const QString name = QString::fromUtf8("Rock & Roll <live> \"best\" it's \xc3\xbc\xe2\x82\xac");
    const QByteArray text =
        pagetest::catalogueText(8, false,
                                {{"", pagetest::favourites("Top", 1)},
                                 {folder, {{name, "http://x.invalid/?a=1&b=2", ""}}}});
    ASSERT_TRUE(Html(text).ok());
    refresh(text);

    const QString pageName = folder + ".htm";
    ASSERT_TRUE(exists(pageName));
    const Html view(read(pageName));
    EXPECT_EQ(view.texts("//b/a"), QStringList({name}));
    EXPECT_EQ(view.text("//b/a/@href"), "http://x.invalid/?a=1&b=2");
    EXPECT_EQ(view.text("//font[@size='1']"), folder);
    const Html edit(read("edit" + pageName));
    EXPECT_EQ(edit.texts("//textarea"), QStringList({name}));
    EXPECT_EQ(edit.texts("//option[@selected]"), QStringList({folder}));
    const Html header(read("view_header.htm"));
    EXPECT_EQ(header.texts("//option"), QStringList({"Root", folder}));
    EXPECT_EQ(header.texts("//option/@data-location"), QStringList({"", folder}));
}

TEST_F(PageWriterTest, HistoryPageIsMadeFromItsOwnStylesheet) {
    catalogue::CatalogueText text;
    text.startHistory(31);
    text.addHistoryLink("Often", catalogue::PropertyPiece("PID_IS_URL", "http://often.invalid/"));
    text.finish();
    writer.writeHistoryPage(text.text());
    EXPECT_TRUE(exists("history.xsl"));
    EXPECT_EQ(Html(read("history.htm")).text("//input[@type='submit']/@name"),
              "http://often.invalid/");
}

TEST(PageLines, FolderListLinesSplitLikeTheCatalogueWrites) {
    EXPECT_EQ(PageWriter::splitLines(""), QStringList());
    EXPECT_EQ(PageWriter::splitLines("\r\n"), QStringList({""}));
    EXPECT_EQ(PageWriter::splitLines("\r\nA\\B\r\nC"), QStringList({"", "A\\B", "C"}));
    EXPECT_EQ(PageWriter::splitLines("A\nB\rC\r\n"), QStringList({"A", "B", "C"}));
    EXPECT_EQ(pages::withCrLfLines("a\nb\r\nc\rd"), "a\r\nb\r\nc\r\nd\r\n");
    EXPECT_EQ(pages::withCrLfLines(""), "");
}
