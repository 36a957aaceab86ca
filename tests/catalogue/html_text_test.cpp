// Page titles are HTML text: their character references are decoded once,
// to UTF-8, and whatever is no complete reference stays as it was.
#include "catalogue/html_text.h"

#include <gtest/gtest.h>

using catalogue::DecodeHtmlText;
using catalogue::trimmedTitle;

TEST(HtmlText, NamedAndNumericReferencesBecomeUtf8) {
    EXPECT_EQ(DecodeHtmlText("Caf&eacute; &amp; Cr&#232;me &#xE8;&#XE8;"),
              "Caf\xC3\xA9 & Cr\xC3\xA8me \xC3\xA8\xC3\xA8");
    EXPECT_EQ(DecodeHtmlText("&lt;b&gt; &quot;q&quot; &apos;s&apos; &nbsp;"),
              "<b> \"q\" 's' \xC2\xA0");
    EXPECT_EQ(DecodeHtmlText("&euro;&mdash;&hellip;&Omega;&yuml;&AElig;"),
              "\xE2\x82\xAC\xE2\x80\x94\xE2\x80\xA6\xCE\xA9\xC3\xBF\xC3\x86");
    EXPECT_EQ(DecodeHtmlText("&#128512;"), "\xF0\x9F\x98\x80"); // beyond the 16-bit plane
    // Decoded once only: "&amp;eacute;" is the text "&eacute;".
    EXPECT_EQ(DecodeHtmlText("&amp;eacute;"), "&eacute;");
    // UTF-8 that is already there passes unchanged.
    EXPECT_EQ(DecodeHtmlText("Caf\xC3\xA9"), "Caf\xC3\xA9");
}

TEST(HtmlText, NumbersPagesMisuseAndNumbersThatAreNoCharacter) {
    // 150 and 146 are what windows-1252 pages write for a dash and an apostrophe.
    EXPECT_EQ(DecodeHtmlText("a&#150;b&#146;s"), "a\xE2\x80\x93"
                                                 "b\xE2\x80\x99s");
    const QByteArray replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(DecodeHtmlText("&#0;"), replacement);
    EXPECT_EQ(DecodeHtmlText("&#xD800;"), replacement);
    EXPECT_EQ(DecodeHtmlText("&#x110000;"), replacement);
    EXPECT_EQ(DecodeHtmlText("&#99999999999;"), replacement);
}

TEST(HtmlText, IncompleteOrUnknownReferencesStayAsTheyAre) {
    for (const QByteArray& text :
         {QByteArray("Tom & Jerry"), QByteArray("&eacute no end"), QByteArray("&unknown;"),
          QByteArray("&Eacute"), QByteArray("&#;"), QByteArray("&#x;"), QByteArray("&#12a;"),
          QByteArray("&;"), QByteArray("a&&b;"), QByteArray("&"), QByteArray("x&#")})
        EXPECT_EQ(DecodeHtmlText(text), text) << text.constData();
    EXPECT_EQ(DecodeHtmlText("&&amp;"), "&&");
    EXPECT_EQ(DecodeHtmlText("&EACUTE;"), "&EACUTE;"); // names are case-sensitive
}

TEST(HtmlText, TitlesLoseBlanksAndControlCharactersAtBothEndsOnly) {
    EXPECT_EQ(trimmedTitle(" \t\r\n Home  page \r\n"), "Home  page");
    EXPECT_EQ(trimmedTitle(QByteArray("\x01\x1f\0Title\0\x7f", 10)), QByteArray("Title\0\x7f", 7));
    // A no-break space is text, not a blank.
    const QByteArray spaced = "\xC2\xA0"
                              "Caf\xC3\xA9\xC2\xA0";
    EXPECT_EQ(trimmedTitle(spaced), spaced);
    EXPECT_EQ(trimmedTitle(" \t\r\n"), "");
    EXPECT_EQ(trimmedTitle(""), "");
}
