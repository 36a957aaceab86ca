#include "catalogue/encodings.h"

#include <gtest/gtest.h>

#include <libxml/parser.h>

using namespace catalogue;

namespace {

// Parses <a v="VALUE">TEXT</a> and returns the attribute as the parser reads it.
bool parsesBack(const QByteArray& escapedValue, QByteArray* attribute) {
    const QByteArray doc = "<?xml version=\"1.0\" encoding=\"utf-8\"?><a v=\"" + escapedValue +
                           "\">" + escapedValue + "</a>";
    xmlDocPtr xml = xmlReadMemory(doc.constData(), int(doc.size()), "t.xml", nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!xml)
        return false;
    xmlChar* value = xmlGetProp(xmlDocGetRootElement(xml), BAD_CAST "v");
    *attribute = QByteArray(reinterpret_cast<const char*>(value));
    xmlFree(value);
    xmlFreeDoc(xml);
    return true;
}

} // namespace

TEST(EscapeText, WritesBlanksAmpersandsAndNonAsciiAsReferences) {
    EXPECT_EQ(EscapeText("Rock & Roll"), "Rock&#32;&amp;&#32;Roll");
    EXPECT_EQ(EscapeText("Caf\xC3\xA9"), "Caf&#233;");
    EXPECT_EQ(EscapeText("a\tb\nc\rd"), "a&#9;b&#10;c&#13;d");
    EXPECT_EQ(EscapeText("\xE2\x82\xAC \xF0\x9F\x98\x80"), "&#8364;&#32;&#128512;");
    EXPECT_EQ(EscapeText("x\x7Fy"), "x&#127;y");
    EXPECT_EQ(EscapeText(""), "");
}

TEST(EscapeText, EscapesWhatWouldBreakTheMarkupButLeavesQuotes) {
    EXPECT_EQ(EscapeText("a<b>c\"d'"), "a&#60;b>c\"d'");
    EXPECT_EQ(EscapeText("&#32;"), "&amp;#32;");
    EXPECT_EQ(EscapeQuotedValue("say \"hi\" <now>"), "say&#32;&#34;hi&#34;&#32;&#60;now>");
}

TEST(EscapeText, InvalidUtf8BytesAreWrittenByTheirValue) {
    EXPECT_EQ(EscapeText("Caf\xE9"), "Caf&#233;");               // a lone Latin-1 byte
    EXPECT_EQ(EscapeText("\xC3"), "&#195;");                     // cut-off sequence
    EXPECT_EQ(EscapeText("\xC0\xAF"), "&#192;&#175;");           // overlong "/"
    EXPECT_EQ(EscapeText("\xED\xA0\x80"), "&#237;&#160;&#128;"); // surrogate
    EXPECT_EQ(EscapeText("\xC3x"), "&#195;x");
}

TEST(EscapeText, ForbiddenControlCharactersBecomeReplacementCharacter) {
    EXPECT_EQ(EscapeText(QByteArray("a\0b", 3)), "a&#65533;b");
    EXPECT_EQ(EscapeText("\x01\x1B\x1F"), "&#65533;&#65533;&#65533;");
    EXPECT_EQ(EscapeText("\xEF\xBF\xBE"), "&#65533;"); // U+FFFE
}

TEST(EscapeText, EveryByteSequenceGivesWellFormedAsciiThatReadsBack) {
    QByteArray all;
    for (int byte = 0; byte < 256; ++byte)
        all += char(byte);
    const QByteArray value = "Tom's \"best\" <b>&</b> Caf\xC3\xA9 " + all;
    const QByteArray escaped = EscapeQuotedValue(value);
    for (char c : escaped)
        ASSERT_TRUE(c >= 33 && c <= 126) << int(c);
    QByteArray read;
    ASSERT_TRUE(parsesBack(escaped, &read));
    EXPECT_TRUE(read.startsWith("Tom's \"best\" <b>&</b> Caf\xC3\xA9 "));
    // A valid name reads back unchanged.
    ASSERT_TRUE(parsesBack(EscapeQuotedValue("News \"Tech\" & <more>"), &read));
    EXPECT_EQ(read, "News \"Tech\" & <more>");
}

TEST(UnescapeText, DecodesOnlyTheKnownSequences) {
    EXPECT_EQ(UnescapeText("a%20b%3Ac"), "a b:c");
    EXPECT_EQ(UnescapeText("%41%3a"), "%41%3a");
    EXPECT_EQ(UnescapeText("%22%2A%2F%3C%3E%3F%5C%7C"), "\"*/<>?\\|");
    EXPECT_EQ(UnescapeText("x&#20;y&#09;z&#0A;"), "x y\tz\n");
    // The references are read as hexadecimal: "&#32;" is code 50 and stays.
    EXPECT_EQ(UnescapeText("&#32;"), "&#32;");
}

TEST(UnescapeText, AmpersandsAndHighCodes) {
    EXPECT_EQ(UnescapeText("Rock&amp;Roll"), "Rock&Roll");
    EXPECT_EQ(UnescapeText("Caf%E9"), "Caf\xE9");
    EXPECT_EQ(UnescapeText("%C3%A9"), "\xC3\xA9");
    EXPECT_EQ(UnescapeText("%7F%FF%7E"), "\x7F\xFF%7E");
    // The steps run in order: "&amp;" first, so its result takes part in later steps.
    EXPECT_EQ(UnescapeText("&amp;#20;"), " ");
}

TEST(HexCoding, EncodesUppercaseAndDecodesBack) {
    EXPECT_EQ(HexEncode("C:\\F\\a.url"), "433A5C465C612E75726C");
    EXPECT_EQ(HexDecode("433A5C465C612E75726C"), "C:\\F\\a.url");
    EXPECT_EQ(HexEncode("abc"), "616263");
    EXPECT_EQ(HexEncode(""), "");
    EXPECT_EQ(HexDecode(""), "");
    const QByteArray path = "/home/u/Favorites/Caf\xC3\xA9 \"q\".url";
    EXPECT_EQ(HexDecode(HexEncode(path)), path);
    EXPECT_EQ(HexDecode("6a6B"), "jk");
}

TEST(HexCoding, OddDigitIgnoredAndNonHexRaises) {
    EXPECT_EQ(HexDecode("41424"), "AB");
    EXPECT_EQ(HexDecode("4"), "");
    EXPECT_THROW(HexDecode("UNIQUE"), ConversionError);
    EXPECT_THROW(HexDecode("41G2"), ConversionError);
    EXPECT_THROW(HexDecode("4 "), ConversionError);
    try {
        HexDecode("zz");
        FAIL();
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("zz"), std::string::npos);
    }
}
