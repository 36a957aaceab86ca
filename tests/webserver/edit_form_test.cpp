#include "webserver/edit_form.h"
#include "webserver/edit_origin_check.h"

#include <gtest/gtest.h>

using namespace webserver;

TEST(EditFormFields, SplitKeepsEmptyFieldsAndTrailingSeparator) {
    QList<QByteArray> list;
    EXPECT_EQ(SplitFields("a=1&b=2", '&', list), 2);
    EXPECT_EQ(list, (QList<QByteArray>{"a=1", "b=2"}));
    list.clear();
    EXPECT_EQ(SplitFields("a=1&", '&', list), 2);
    EXPECT_EQ(list, (QList<QByteArray>{"a=1", ""}));
    list.clear();
    EXPECT_EQ(SplitFields("&&x", '&', list), 3);
    EXPECT_EQ(list, (QList<QByteArray>{"", "", "x"}));
    list = {"kept"};
    EXPECT_EQ(SplitFields("", '&', list), 0);
    EXPECT_EQ(list.size(), 1);
}

TEST(EditFormFields, DecodeOnceAndLeavesBrokenPercentAlone) {
    EXPECT_EQ(DecodeFormValue("50%25+off"), "50% off");
    EXPECT_EQ(DecodeFormValue("%2541"), "%41"); // a decoded "%" is not decoded again
    EXPECT_EQ(DecodeFormValue("a%3db%3D"), "a=b=");
    EXPECT_EQ(DecodeFormValue("100%"), "100%");
    EXPECT_EQ(DecodeFormValue("%4"), "%4");
    EXPECT_EQ(DecodeFormValue("%zz%C3%A9"), "%zz\xC3\xA9");
    EXPECT_EQ(DecodeFormValue("%2B+"), "+ ");
}

TEST(EditFormFields, RelativeFolderAndLocation) {
    const QString fav = "/home/u/Favorites";
    EXPECT_EQ(RelativeFolder(fav, fav), "\\");
    EXPECT_EQ(RelativeFolder(fav + "/", fav), "\\");
    EXPECT_EQ(RelativeFolder(fav + "/Links/", fav), "\\Links\\");
    EXPECT_EQ(RelativeFolder(fav + "/News/Tech", fav), "\\News\\Tech\\");
    EXPECT_EQ(FolderLocation(fav + "/", fav), "");
    EXPECT_EQ(FolderLocation(fav + "/News/Tech/", fav), "News\\Tech");
}

TEST(EditFormFields, SortOrderNumbers) {
    EXPECT_EQ(ParseSortOrder("12"), 12);
    EXPECT_EQ(ParseSortOrder("  +7"), 7);
    EXPECT_EQ(ParseSortOrder("-1"), -1);
    EXPECT_EQ(ParseSortOrder("$1F"), 31);
    EXPECT_EQ(ParseSortOrder("0x10"), 16);
    EXPECT_EQ(ParseSortOrder("300"), 300);
    EXPECT_FALSE(ParseSortOrder(""));
    EXPECT_FALSE(ParseSortOrder("abc"));
    EXPECT_FALSE(ParseSortOrder("12 "));
    EXPECT_FALSE(ParseSortOrder("1F"));
    EXPECT_FALSE(ParseSortOrder("0x"));
    EXPECT_FALSE(ParseSortOrder("99999999999999999999"));
    // Only ASCII digits count, whatever the low byte of a wider character.
    EXPECT_FALSE(ParseSortOrder(QStringLiteral("$1\u0141")));
    EXPECT_FALSE(ParseSortOrder(QStringLiteral("\uFF11\uFF12")));
}

TEST(EditFormNames, UnsafeNamesNeverPass) {
    EXPECT_TRUE(IsSafeName("Forecast"));
    EXPECT_TRUE(IsSafeName("Caf\u00e9 & Bar"));
    EXPECT_TRUE(IsSafeName("a..b"));
    for (const QString& bad :
         {QString(), QString("."), QString(".."), QString("a/b"), QString("..\\x"),
          QString("a") + QChar(0) + "b", QString("a\nb"), QString("tab\there")})
        EXPECT_FALSE(IsSafeName(bad)) << bad.toStdString();
}

TEST(EditFormNames, TitlesBecomeSafeFileNames) {
    EXPECT_EQ(SafeNameFromTitle("  News / Today\r\n ", "http://a.example/"), "News - Today");
    EXPECT_EQ(SafeNameFromTitle("..\\..\\etc", "http://a.example/"), "-..-etc");
    EXPECT_EQ(SafeNameFromTitle("", "http://127.0.0.1:8080/x"), "127.0.0.1");
    EXPECT_EQ(SafeNameFromTitle("..", "http://host.example/"), "host.example");
    EXPECT_EQ(SafeNameFromTitle(" \t ", "not an address"), "Favourite");
    const QString longTitle(400, QChar(0x00e9));
    const QString cut = SafeNameFromTitle(longTitle, "http://x/");
    EXPECT_LE(cut.toUtf8().size(), 240);
    EXPECT_TRUE(cut.startsWith(QChar(0x00e9)));
}

TEST(EditFormAnswer, RecordAndPage) {
    const QByteArray record = FormRecord(QDateTime(QDate(2003, 6, 1), QTime(9, 5, 7)), 12,
                                         "127.0.0.1", {"Line one<br>", "Line two<br>"});
    EXPECT_EQ(record, "20030601 090507 there were 12 results from127.0.0.1<br>Action taken : "
                      "Line one<br>\r\nLine two<br>\r\n");
    const QByteArray answer = ResultsAnswer("HTTP/1.1", record);
    const qsizetype split = answer.indexOf("\r\n\r\n");
    ASSERT_GT(split, 0);
    const QByteArray page = answer.mid(split + 4);
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=UTF-8\r\n"));
    EXPECT_TRUE(answer.contains("Content-Length: " + QByteArray::number(page.size()) + "\r\n"));
    EXPECT_TRUE(page.startsWith("<HTML><HEAD><TITLE>Pagorama Reporter</TITLE></HEAD>\r\n"
                                "<BODY background=\"\\_back.jpg\"><H2>"));
    EXPECT_TRUE(page.contains("<P>" + record + "</P><FORM>"));
    EXPECT_TRUE(page.endsWith("</FORM></BODY></HTML>\r\n"));
}

TEST(EditFormPaths, FormKindIgnoresCase) {
    EXPECT_EQ(FormKindOf("/cgi-bin/CGIFRM1.exe"), FormKind::Edit);
    EXPECT_EQ(FormKindOf("/cgi-bin/cgifrm2.EXE"), FormKind::History);
    EXPECT_EQ(FormKindOf("/cgi-bin/other.exe"), FormKind::None);
    EXPECT_EQ(FormKindOf("/cgi-bin/cgifrm1.exe/"), FormKind::None);
}

namespace {
HttpRequest requestWith(const QList<QByteArray>& headers) {
    HttpRequest request;
    for (const QByteArray& line : headers)
        applyHeaderLine(line, request);
    return request;
}
} // namespace

TEST(EditOriginCheck, OnlyLoopbackPeers) {
    const HttpRequest plain = requestWith({"Host: localhost:8080"});
    EXPECT_TRUE(IsEditPostAllowed("127.0.0.1", plain, 8080));
    EXPECT_TRUE(IsEditPostAllowed("127.5.6.7", plain, 8080));
    EXPECT_TRUE(IsEditPostAllowed("::1", plain, 8080));
    EXPECT_TRUE(IsEditPostAllowed("::ffff:127.0.0.1", plain, 8080));
    EXPECT_FALSE(IsEditPostAllowed("192.168.1.20", plain, 8080));
    EXPECT_FALSE(IsEditPostAllowed("::ffff:10.0.0.1", plain, 8080));
    EXPECT_FALSE(IsEditPostAllowed("", plain, 8080));
}

TEST(EditOriginCheck, OriginOrRefererMustBeThisServer) {
    auto allowed = [](const QList<QByteArray>& headers, quint16 port = 8080) {
        return IsEditPostAllowed("127.0.0.1", requestWith(headers), port);
    };
    EXPECT_TRUE(allowed({"Origin: http://localhost:8080"}));
    EXPECT_TRUE(allowed({"Origin: http://127.0.0.1:8080"}));
    EXPECT_TRUE(allowed({"Origin: http://[::1]:8080"}));
    EXPECT_TRUE(allowed({"Origin: http://localhost"}, 80));
    // An Origin that only repeats the request's own Host proves nothing: a
    // page of another site whose name points at this machine sends both.
    EXPECT_FALSE(allowed({"Host: evil.example:8080", "Origin: http://evil.example:8080"}));
    EXPECT_FALSE(allowed({"Host: mybox:8080", "Origin: http://MyBox:8080"}));
    EXPECT_TRUE(allowed({"Referer: http://localhost:8080/editfolder.htm"}));
    EXPECT_FALSE(allowed({"Origin: http://evil.example"}));
    EXPECT_FALSE(allowed({"Origin: http://evil.example:8080"}));
    EXPECT_FALSE(allowed({"Origin: http://localhost:9999"}));
    EXPECT_FALSE(allowed({"Origin: http://localhost"})); // port 80 is not this server
    EXPECT_FALSE(allowed({"Origin: null"}));
    EXPECT_FALSE(allowed({"Origin: http://localhost.evil.example:8080"}));
    EXPECT_FALSE(allowed({"Referer: http://evil.example/page"}));
    // Origin wins over a harmless-looking Referer.
    EXPECT_FALSE(allowed({"Referer: http://localhost:8080/", "Origin: http://evil.example"}));
    EXPECT_FALSE(allowed({"Host: mybox:8080", "Origin: http://otherbox:8080"}));
}

TEST(EditFormNames, LongTitlesAreCutInOnePass) {
    // Megabytes of title (a remote page, a bookmarks file) cost time in
    // proportion to their size, not to its square.
    const QString huge = QString(4 * 1024 * 1024, QChar('x')) + "tail";
    const QString name = SafeNameFromTitle(huge, "http://x/");
    EXPECT_EQ(name, QString(MaxNameBytes, QChar('x')));
    // Cuts never split a character or a surrogate pair.
    const QString emoji = QString::fromUtf8("\U0001F600");
    EXPECT_EQ(CutToUtf8Bytes("ab" + emoji, 5), "ab");
    EXPECT_EQ(CutToUtf8Bytes("ab" + emoji, 6), "ab" + emoji);
    EXPECT_EQ(CutToUtf8Bytes(QString::fromUtf8("\u00e9\u00e9"), 3), QString::fromUtf8("\u00e9"));
    EXPECT_EQ(CleanFileName(" . .. "), "");
    EXPECT_EQ(CleanFileName("a\tb/c"), "a b-c");
}

TEST(EditFormNames, DotsAfterLeadingBlanksDoNotHideTheName) {
    // Blanks between leading dots must not leave a dot at the front.
    EXPECT_EQ(CleanFileName(". .hidden"), "hidden");
    EXPECT_EQ(CleanFileName(".\x01\t. ..x"), "x");
    EXPECT_EQ(SafeNameFromTitle(". . .", "http://host.example/"), "host.example");
}
