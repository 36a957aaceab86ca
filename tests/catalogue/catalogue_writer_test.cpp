#include "catalogue/catalogue_writer.h"
#include "catalogue/date_number.h"
#include "catalogue/encodings.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <QDir>
#include <QFile>
#include <QTimeZone>

using namespace catalogue;

namespace {

struct ParsedLink {
    QMap<QByteArray, QByteArray> attributes;
};
struct ParsedFolder {
    QByteArray location;
    QList<ParsedLink> links;
};
struct ParsedCatalogue {
    bool wellFormed = false;
    QMap<QByteArray, QByteArray> rootAttributes;
    QList<ParsedFolder> folders;
};

QMap<QByteArray, QByteArray> attributesOf(xmlNodePtr node) {
    QMap<QByteArray, QByteArray> map;
    for (xmlAttrPtr attr = node->properties; attr; attr = attr->next) {
        xmlChar* value = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(attr));
        map.insert(reinterpret_cast<const char*>(attr->name), reinterpret_cast<const char*>(value));
        xmlFree(value);
    }
    return map;
}

ParsedCatalogue parse(const QByteArray& text) {
    ParsedCatalogue result;
    xmlDocPtr doc = xmlReadMemory(text.constData(), int(text.size()), "listings.xml", nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc)
        return result;
    result.wellFormed = true;
    xmlNodePtr root = xmlDocGetRootElement(doc);
    result.rootAttributes = attributesOf(root);
    for (xmlNodePtr top = root->children; top; top = top->next) {
        if (top->type != XML_ELEMENT_NODE)
            continue;
        for (xmlNodePtr folder = top->children; folder; folder = folder->next) {
            if (folder->type != XML_ELEMENT_NODE)
                continue;
            ParsedFolder parsed;
            parsed.location = attributesOf(folder).value("Location");
            for (xmlNodePtr link = folder->children; link; link = link->next)
                if (link->type == XML_ELEMENT_NODE)
                    parsed.links << ParsedLink{attributesOf(link)};
            result.folders << parsed;
        }
    }
    xmlFreeDoc(doc);
    return result;
}

QByteArray fullLink(const QString& path, int order, const QByteArray& title) {
    return LinkHeadPieces(path, order, DescriptionOf(path.section('/', -1))) + PreCodePiece(200) +
           PropertyPiece("PID_IS_URL", "http://example.test/?a=1&b=\"2\"") +
           PropertyPiece("PID_IS_COMMENT", QByteArray("bell\x07 <tab>\t", 12)) + VisitsPiece(3) +
           CodePiece(301) + GivenTitlePiece(title) + ImagePiece("images\\3120313030.BMP") +
           LinkEnd();
}

} // namespace

TEST(DateNumber, MatchesTheDaysSince1899Convention) {
    const QDateTime noon(QDate(2003, 6, 1), QTime(12, 0));
    EXPECT_DOUBLE_EQ(DateTimeNumber(noon), 37773.5);
    EXPECT_EQ(CatalogueTimeValue(noon), 377735000);
    EXPECT_EQ(FileDateValue(noon), 3777350000);
    EXPECT_EQ(CatalogueTimeValue(QDateTime(QDate(1899, 12, 30), QTime(0, 0, 8, 639))), 0);
    EXPECT_EQ(CatalogueTimeValue(QDateTime(QDate(1899, 12, 30), QTime(0, 0, 8, 640))), 1);
    // The number follows the local wall clock, whatever zone the value came in.
    const QDateTime utc = noon.toUTC();
    EXPECT_EQ(CatalogueTimeValue(utc), 377735000);
    EXPECT_EQ(MinutesOf(1.0 / 1440 * 59.99), 59);
    EXPECT_EQ(MinutesOf(-0.5 / 1440), 0);
}

TEST(CatalogueText, ListingsHeaderAndEmptyCatalogueAreExact) {
    CatalogueText catalogue;
    catalogue.startListings(377735000, false);
    catalogue.finish();
    EXPECT_EQ(catalogue.text(), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<BROWSERINFO \r\n"
                                "Time=\"377735000\"\r\nHomePage=\"No\">\r\n<Favoritesfolder>\r\n"
                                "</Favoritesfolder>\r\n</BROWSERINFO>\r\n");
    catalogue.startListings(5, true);
    EXPECT_EQ(catalogue.lines().value(3), "HomePage=\"YES\">");
    const ParsedCatalogue parsed = parse(startup_XML());
    ASSERT_TRUE(parsed.wellFormed);
    EXPECT_EQ(parsed.rootAttributes.value("Time"), "1");
    ASSERT_EQ(parsed.folders.size(), 1);
    EXPECT_EQ(parsed.folders[0].links.size(), 1);
    EXPECT_EQ(startup_XML().count("\r\n"), 10);
}

TEST(CatalogueText, LinkPiecesHaveTheirFixedSpacing) {
    const QByteArray link = LinkHeadPieces("/F/Rock & Roll.url", 7, "Rock & Roll") +
                            PreCodePiece(-98) + PropertyPiece("PID_IS_NAME", "a b") +
                            VisitsPiece(0) + CodePiece(200) + GivenTitlePiece("T") +
                            ImagePiece("images\\X.BMP") + LinkEnd();
    EXPECT_EQ(link, "<Link \n\r"
                    "UNIQUE=\"2F462F526F636B202620526F6C6C2E75726C\" \n\r"
                    "BROWSER=\"IE\"\n\r"
                    "SORT_ORDER=\"7\"\n\r"
                    "DESCRIPTION=\"Rock&#32;&amp;&#32;Roll\" \n\r"
                    "PRECODE = \"-98\" \n\r"
                    "PID_IS_NAME=\"a&#32;b\"\n\r"
                    "VISITS=\"0\"\n\r"
                    "CODE = \"200\" \n\r"
                    "GIVEN_TITLE = \"T\" \n\r"
                    "IMAGE =\"images\\X.BMP\" \n\r"
                    "></Link>");
    EXPECT_EQ(DescriptionOf("Caf\u00e9.url"), "Caf\u00e9");
    EXPECT_EQ(DescriptionOf("a.b.url"), "a.b");
    EXPECT_EQ(DescriptionOf("noext"), "noext");
    EXPECT_TRUE(
        LinkHeadPieces("/F/Caf\u00e9.url", -1, "Caf\u00e9").contains("DESCRIPTION=\"Caf&#233;\" "));
    EXPECT_TRUE(LinkHeadPieces("/F/x.url", -1, "x").contains("SORT_ORDER=\"-1\"\n\r"));
}

TEST(CatalogueText, TwoFolderCatalogueParsesWithItsAttributes) {
    CatalogueText catalogue;
    catalogue.startListings(377735000, true);
    catalogue.openFolder("");
    catalogue.addLine(fullLink("/h/Favorites/a.url", 0, "A page"));
    catalogue.closeFolder();
    catalogue.openFolder("News\\Tech & \"Stuff\" <x>");
    catalogue.addLine(fullLink("/h/Favorites/News/Tech & \"Stuff\" <x>/Caf\u00e9.url", -1,
                               "Say \"<hi>\" \x01 & bye"));
    catalogue.addLine(LinkHeadPieces("/h/Favorites/News/b.url", 2, "b") + CodePiece(-3) +
                      LinkEnd());
    catalogue.finish();
    const QByteArray text = catalogue.text();
    for (char c : text)
        ASSERT_TRUE((c >= 32 && c <= 126) || c == '\r' || c == '\n') << int(c);

    const ParsedCatalogue parsed = parse(text);
    ASSERT_TRUE(parsed.wellFormed);
    EXPECT_EQ(parsed.rootAttributes.value("Time"), "377735000");
    EXPECT_EQ(parsed.rootAttributes.value("HomePage"), "YES");
    ASSERT_EQ(parsed.folders.size(), 2);
    EXPECT_EQ(parsed.folders[0].location, "");
    EXPECT_EQ(parsed.folders[1].location, "News\\Tech & \"Stuff\" <x>");
    ASSERT_EQ(parsed.folders[1].links.size(), 2);
    const auto& first = parsed.folders[1].links[0].attributes;
    EXPECT_EQ(QFile::decodeName(HexDecode(first.value("UNIQUE"))),
              "/h/Favorites/News/Tech & \"Stuff\" <x>/Caf\u00e9.url");
    EXPECT_EQ(first.value("DESCRIPTION"), "Caf\u00e9");
    EXPECT_EQ(first.value("SORT_ORDER"), "-1");
    EXPECT_EQ(first.value("PID_IS_URL"), "http://example.test/?a=1&b=\"2\"");
    EXPECT_EQ(first.value("PID_IS_COMMENT"), "bell\xEF\xBF\xBD <tab>\t");
    EXPECT_EQ(first.value("GIVEN_TITLE"), "Say \"<hi>\" \xEF\xBF\xBD & bye");
    EXPECT_EQ(first.value("IMAGE"), "images\\3120313030.BMP");
    EXPECT_EQ(first.value("PRECODE"), "200");
    EXPECT_EQ(first.value("CODE"), "301");
    EXPECT_EQ(first.value("VISITS"), "3");
    EXPECT_EQ(parsed.folders[1].links[1].attributes.value("CODE"), "-3");
}

TEST(CatalogueText, HistoryVariant) {
    CatalogueText history;
    history.startHistory(42);
    history.addHistoryLink("Page \"one\"", CodePiece(200) + ImagePiece("images\\history\\A.BMP"));
    history.finish();
    const LineList& lines = history.lines();
    EXPECT_EQ(lines[2], "Time=\"42\">");
    EXPECT_EQ(lines[3], "<History>");
    EXPECT_EQ(lines[4], "<Link ");
    EXPECT_EQ(lines[5], "BROWSER=\"IE\"");
    EXPECT_EQ(lines[6], "DESCRIPTION=\"Page&#32;&#34;one&#34;\" ");
    EXPECT_EQ(lines[8], "></Link>");
    EXPECT_EQ(lines.mid(lines.size() - 2), LineList({"</History>", "</BROWSERINFO>"}));
    EXPECT_TRUE(parse(history.text()).wellFormed);
}

TEST(SaveCatalogue, CreatesTheFolderAndKeepsTheOldFileWhenWritingFails) {
    testsupport::TempHome home;
    const QString path = home.path() + "/Documents/pagorama/listings.xml";
    ASSERT_TRUE(SaveCatalogue(path, "first\r\n"));
    EXPECT_EQ(home.read("Documents/pagorama/listings.xml"), "first\r\n");
    ASSERT_TRUE(SaveCatalogue(path, "second\r\n"));
    EXPECT_EQ(home.read("Documents/pagorama/listings.xml"), "second\r\n");

    QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    QString error;
    EXPECT_FALSE(SaveCatalogue(path, "third\r\n", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(home.read("Documents/pagorama/listings.xml"), "second\r\n");

    home.write("blocker", "a regular file");
    EXPECT_FALSE(SaveCatalogue(home.path() + "/blocker/pagorama/listings.xml", "x", &error));
}
