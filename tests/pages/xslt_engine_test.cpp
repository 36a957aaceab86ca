#include "pages/xslt_engine.h"

#include "platform/message_service.h"

#include <gtest/gtest.h>

using pages::CatalogueDocument;
using pages::PagesError;
using pages::Stylesheet;
using pages::TransformSettings;

namespace {

const QByteArray catalogue = R"(<?xml version="1.0" encoding="utf-8"?>
<BROWSERINFO Time="5" HomePage="No"><Favoritesfolder><Folder Location = "A"/></Favoritesfolder></BROWSERINFO>
)";

// Shows which parameters arrived; "unset" means the parameter was not passed.
const QByteArray echoSheet = R"(<?xml version="1.0" encoding="ISO-8859-1"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="text" encoding="UTF-8"/>
<xsl:param name="p1" select="'unset'"/>
<xsl:param name="multi_page" select="'unset'"/>
<xsl:template match="/">[<xsl:value-of select="$p1"/>][<xsl:value-of select="$multi_page"/>]</xsl:template>
</xsl:stylesheet>
)";

QByteArray htmlSheet(const QByteArray& body) {
    return R"(<?xml version="1.0" encoding="ISO-8859-1"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="html" version="1.0" encoding="UTF-8" indent="yes"/>
<xsl:template match="/">)" +
           body + R"(</xsl:template>
</xsl:stylesheet>
)";
}

QString transformError(const QByteArray& catalogueText, const QByteArray& sheet) {
    try {
        pages::doTransform(catalogueText, sheet, {}, {false, "80"});
    } catch (const PagesError& error) {
        return error.message();
    }
    return "no error";
}

} // namespace

TEST(XsltEngine, ParametersArriveAsLiteralStringsOnlyWhenGiven) {
    const CatalogueDocument doc(catalogue, "catalogue");
    const Stylesheet sheet(echoSheet, "echo.xsl");
    auto run = [&](const QString& folder, bool multiPage) {
        return QString::fromUtf8(pages::transform(doc, sheet, folder, {multiPage, "80"}));
    };
    EXPECT_EQ(run("", false), "[unset][unset]");
    EXPECT_EQ(run("", true), "[unset][yes]");
    EXPECT_EQ(run(" ", false), "[ ][unset]");
    EXPECT_EQ(run(R"(It's a "quote")", true), R"([It's a "quote"][yes])");
    EXPECT_EQ(run("concat('x','y')", false), "[concat('x','y')][unset]");
    EXPECT_EQ(run(QString::fromUtf8("News\\Caf\xc3\xa9 & <b>"), false),
              QString::fromUtf8("[News\\Caf\xc3\xa9 & <b>][unset]"));
    // One parsed pair serves any number of pages without carrying anything over.
    EXPECT_EQ(run("", false), "[unset][unset]");
}

TEST(XsltEngine, BindsTheServerPortIntoExactLocalLinksOnly) {
    const QByteArray sheet = htmlSheet(
        R"(<p><a href="http://localhost/view.htm">x</a> HTTP://LOCALHOST/a http://localhost:99/b Http://localhost/c http://localhost/</p>)");
    const QString page = QString::fromUtf8(pages::doTransform(catalogue, sheet, {}, {false, "80"}));
    EXPECT_TRUE(page.contains(R"(href="http://localhost:80/view.htm")")) << page.toStdString();
    EXPECT_TRUE(page.contains("HTTP://LOCALHOST/a"));
    EXPECT_TRUE(page.contains("http://localhost:99/b"));
    EXPECT_TRUE(page.contains("Http://localhost/c"));
    EXPECT_TRUE(page.contains("http://localhost:80/</p>"));
    EXPECT_FALSE(page.contains("http://localhost/"));

    EXPECT_EQ(pages::bindLocalLinks("http://localhost/http://localhost/", "8080"),
              "http://localhost:8080/http://localhost:8080/");
}

TEST(XsltEngine, HtmlOutputIsUtf8AndDeclaresIt) {
    const QByteArray doc =
        R"(<?xml version="1.0" encoding="utf-8"?><R N="Caf&#233; &#60;&amp;&#34;"/>)";
    const QByteArray sheet = htmlSheet(
        R"(<html><head><meta http-equiv="Content-Type" content="text/html; charset=windows-1252"/></head><body><p><xsl:value-of select="/R/@N"/></p></body></html>)");
    const QByteArray page = pages::doTransform(doc, sheet, {}, {false, "80"});
    EXPECT_TRUE(page.contains("Caf\xc3\xa9 &lt;&amp;\"")) << page.toStdString();
    EXPECT_TRUE(page.contains("charset=UTF-8"));
    EXPECT_FALSE(page.contains("windows-1252"));
}

TEST(XsltEngine, FailuresCarryTheEngineMessage) {
    const QByteArray goodSheet = htmlSheet("<p/>");

    // A stylesheet that is not well-formed.
    QString error = transformError(catalogue, htmlSheet("<p></b>"));
    EXPECT_TRUE(error.contains("mismatch", Qt::CaseInsensitive)) << error.toStdString();

    // Well-formed, but not a stylesheet the engine accepts.
    error = transformError(catalogue, htmlSheet("<p><xsl:value-of/></p>"));
    EXPECT_TRUE(error.contains("select")) << error.toStdString();

    // A catalogue that does not parse.
    error = transformError("<BROWSERINFO Time=\"1\"><Favoritesfolder>", goodSheet);
    EXPECT_TRUE(error.startsWith("catalogue")) << error.toStdString();
    EXPECT_TRUE(error.contains("Premature end of data")) << error.toStdString();

    // An error raised while transforming.
    error = transformError(catalogue,
                           htmlSheet(R"(<xsl:message terminate="yes">stop here</xsl:message>)"));
    EXPECT_TRUE(error.contains("stop here")) << error.toStdString();

    error = transformError(catalogue, htmlSheet(R"(<p><xsl:value-of select="$undeclared"/></p>)"));
    EXPECT_TRUE(error.contains("undeclared")) << error.toStdString();

    // The engine still works after failures.
    EXPECT_NO_THROW(pages::doTransform(catalogue, goodSheet, {}, {false, "80"}));
}

TEST(XsltEngine, AnEngineThatCannotBeSetUpWarnsAndFails) {
    platform::ScopedMessageRecorder recorder;
    pages::simulateEngineSetupFailure(true);
    EXPECT_THROW(pages::doTransform(catalogue, echoSheet, {}, {false, "80"}), PagesError);
    pages::simulateEngineSetupFailure(false);

    ASSERT_EQ(recorder.texts.size(), 1);
    EXPECT_EQ(
        recorder.texts[0],
        "Unable to initialise the XML engine.\n\rPlease run the program XMLReady\n\rThis can be "
        "found off your Start button, at |Programs|Pagorama|Technical Support.");
    EXPECT_EQ(QString::fromUtf8(pages::doTransform(catalogue, echoSheet, {}, {false, "80"})),
              "[unset][unset]");
    EXPECT_EQ(recorder.texts.size(), 1);
}

TEST(XsltEngine, ReadsCataloguesBeyondTheParsersDefaultSizeLimit) {
    QByteArray big =
        R"(<?xml version="1.0" encoding="utf-8"?><BROWSERINFO Time="5" HomePage="No"><Favoritesfolder><Folder Location = "">)";
    const QByteArray link = "<Link DESCRIPTION=\"" + QByteArray(200, 'x') + "\"></Link>\r\n";
    const int links = 60000; // about 13 MB
    for (int i = 0; i < links; ++i)
        big += link;
    big += "</Folder></Favoritesfolder></BROWSERINFO>\r\n";
    ASSERT_GT(big.size(), 10'000'000);
    const QByteArray sheet = R"x(<?xml version="1.0"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="text"/>
<xsl:template match="/"><xsl:value-of select="count(//Link)"/></xsl:template>
</xsl:stylesheet>
)x";
    EXPECT_EQ(pages::doTransform(big, sheet, {}, {false, "80"}), QByteArray::number(links));
}
