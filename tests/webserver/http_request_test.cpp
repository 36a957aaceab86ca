#include "webserver/http_request.h"

#include <gtest/gtest.h>

using namespace webserver;

namespace {

HttpRequest requestLine(const QByteArray& line) {
    HttpRequest request;
    parseRequestLine(line, request);
    return request;
}

// Feeds lines through a parser and returns the outcome of the last one.
RequestParser::Outcome feed(RequestParser& parser, const QList<QByteArray>& lines) {
    RequestParser::Outcome outcome = RequestParser::Outcome::Continue;
    for (const QByteArray& line : lines)
        outcome = parser.takeLine(line);
    return outcome;
}

} // namespace

TEST(RequestLine, TokensQueryAndVersion) {
    HttpRequest r = requestLine("get /x.htm?foo=1?2 http/1.1");
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.path, "/x.htm");
    EXPECT_EQ(r.params, "foo=1?2");
    EXPECT_EQ(r.version, "HTTP/1.1");

    r = requestLine("GET /x.htm");
    EXPECT_EQ(r.version, "HTTP/1.0");
    EXPECT_TRUE(r.params.isEmpty());

    // Several spaces between tokens; anything after the third is ignored.
    r = requestLine("HEAD   /a%20b.htm   HTTP/1.0  extra");
    EXPECT_EQ(r.method, "HEAD");
    EXPECT_EQ(r.path, "/a%20b.htm");
    EXPECT_EQ(r.version, "HTTP/1.0");

    // Only the two versions this server speaks; anything else is marked and
    // never kept, so it cannot reach the status line of the answer.
    for (const QByteArray& version : {QByteArray("HTTP/1.0"), QByteArray("http/1.1")}) {
        r = requestLine("GET / " + version);
        EXPECT_TRUE(r.versionValid) << version.constData();
        EXPECT_EQ(r.version, version.toUpper());
    }
    for (const QByteArray& version :
         {QByteArray("HTTP/1.1\rSet-Cookie: a=b"), QByteArray("HTTP/2.0"), QByteArray("HTTP/1"),
          QByteArray("HTTP/1.10"), QByteArray("FOO"), QByteArray("HTTP/1.1\x01")}) {
        r = requestLine("GET / " + version);
        EXPECT_FALSE(r.versionValid) << version.constData();
        EXPECT_EQ(r.version, "HTTP/1.0") << version.constData();
    }

    r = requestLine(" GET /x");
    EXPECT_EQ(r.method, "");
    EXPECT_EQ(r.path, "GET");

    r = requestLine("GET");
    EXPECT_EQ(r.method, "GET");
    EXPECT_TRUE(r.path.isEmpty());
}

TEST(HeaderLines, RecognisedNamesAndRawLines) {
    HttpRequest r;
    applyHeaderLine("CONTENT-LENGTH:   12", r);
    EXPECT_EQ(r.contentLength, 12);
    applyHeaderLine("Content-Length: abc", r);
    EXPECT_EQ(r.contentLength, 12) << "an invalid number leaves the value";
    applyHeaderLine("Connection: keep-alive  ", r);
    EXPECT_EQ(r.connection, "keep-alive  ") << "trailing spaces stay";
    applyHeaderLine("host:localhost:8080", r);
    EXPECT_EQ(r.host, "localhost:8080");
    applyHeaderLine("Accept-Language: en", r);
    EXPECT_EQ(r.acceptLanguage, "en");
    EXPECT_TRUE(r.accept.isEmpty()) << "Accept: must not take Accept-Language";
    applyHeaderLine("no colon here", r);
    applyHeaderLine("X-Other: 1", r);
    EXPECT_EQ(r.headerLines,
              (QList<QByteArray>{"CONTENT-LENGTH:   12", "Content-Length: abc",
                                 "Connection: keep-alive  ", "host:localhost:8080",
                                 "Accept-Language: en", "no colon here", "X-Other: 1"}));
}

TEST(HeaderLines, ContentLengthRange) {
    const struct {
        QByteArray text;
        qint32 expected;
    } cases[] = {{"0", 0},          {"-1", 7},         {"2147483647", 2147483647},
                 {"2147483648", 7}, {"4294967296", 7}, {"-2147483648", 7},
                 {"", 7},           {"12 ", 12},       {"\t12\t", 12},
                 {"+5", 7},         {"1 2", 7},        {"0x10", 7}};
    for (const auto& c : cases) {
        HttpRequest r;
        r.contentLength = 7;
        applyHeaderLine("Content-Length: " + c.text, r);
        EXPECT_EQ(r.contentLength, c.expected) << c.text.constData();
        // The body check reads the same value: what a handler is told to
        // read is what the check let through.
        qint64 checked = -1;
        if (checkPostBody(r, &checked) == BodyVerdict::Accept) {
            EXPECT_EQ(checked, r.contentLength) << c.text.constData();
        }
    }
}

TEST(RequestParser, StatesFromRequestToDispatchAndAgain) {
    RequestParser parser;
    EXPECT_EQ(parser.state(), csAwaitRequest);
    EXPECT_EQ(parser.takeLine("GET /a HTTP/1.1\r\n"), RequestParser::Outcome::Continue);
    EXPECT_EQ(parser.state(), csAwaitHeader);
    parser.takeLine("Host: x\r\n");
    EXPECT_EQ(parser.takeLine("\r\n"), RequestParser::Outcome::Dispatch);
    EXPECT_EQ(parser.state(), csProcessing);
    EXPECT_EQ(parser.request().headerLines, QList<QByteArray>{"Host: x"});
    EXPECT_EQ(parser.takeLine("GET /b HTTP/1.1\r\n"), RequestParser::Outcome::Ignored);
    EXPECT_EQ(parser.request().path, "/a");

    // After the answer, the next request starts with fresh fields.
    parser.setState(csAwaitRequest);
    EXPECT_EQ(feed(parser, {"GET /c\n", "\n"}), RequestParser::Outcome::Dispatch);
    EXPECT_EQ(parser.request().path, "/c");
    EXPECT_TRUE(parser.request().headerLines.isEmpty());
    EXPECT_TRUE(parser.request().host.isEmpty());
}

TEST(RequestParser, HeaderOverOneMebibyteIsTooLarge) {
    RequestParser parser;
    parser.takeLine("GET / HTTP/1.1\r\n");
    const QByteArray line = "X: " + QByteArray(1000, 'a') + "\r\n";
    RequestParser::Outcome outcome = RequestParser::Outcome::Continue;
    int lines = 0;
    while (outcome == RequestParser::Outcome::Continue && lines < 2000) {
        outcome = parser.takeLine(line);
        ++lines;
    }
    EXPECT_EQ(outcome, RequestParser::Outcome::TooLarge);
    EXPECT_GT(qint64(lines) * line.size(), HeaderBytesLimit - line.size());
    EXPECT_LE(qint64(lines - 1) * line.size(), HeaderBytesLimit);

    // 10,000 short header lines stay below the limit and are all kept.
    RequestParser many;
    many.takeLine("GET / HTTP/1.1\r\n");
    for (int i = 0; i < 10000; ++i)
        ASSERT_EQ(many.takeLine("X-N: " + QByteArray::number(i) + "\r\n"),
                  RequestParser::Outcome::Continue);
    EXPECT_EQ(many.takeLine("\r\n"), RequestParser::Outcome::Dispatch);
    EXPECT_EQ(many.request().headerLines.size(), 10000);
}

TEST(LineSplitter, LinesPartialAndOverLong) {
    LineSplitter splitter;
    splitter.append("GET / HT", 8);
    QByteArrayView line;
    EXPECT_FALSE(splitter.nextLine(&line));
    splitter.append("TP/1.0\r\nHost: a\nrest", 20);
    ASSERT_TRUE(splitter.nextLine(&line));
    EXPECT_EQ(line.toByteArray(), "GET / HTTP/1.0\r\n");
    ASSERT_TRUE(splitter.nextLine(&line));
    EXPECT_EQ(line.toByteArray(), "Host: a\n");
    EXPECT_FALSE(splitter.nextLine(&line));
    EXPECT_EQ(splitter.takeAll(), "rest");

    // A line longer than the limit is dropped whole, its tail included.
    const QByteArray longLine(RequestLineLimit + 10, 'x');
    splitter.append(longLine.constData(), longLine.size());
    EXPECT_LE(splitter.pending().size(), RequestLineLimit);
    splitter.append("yyy\nnext\n", 9);
    ASSERT_TRUE(splitter.nextLine(&line));
    EXPECT_EQ(line.toByteArray(), "next\n");

    // Also when its LF arrives in the same piece, or after a first part.
    const QByteArray longWithEnd = QByteArray(RequestLineLimit + 1, 'w') + "\nafter\n";
    splitter.append(longWithEnd.constData(), longWithEnd.size());
    ASSERT_TRUE(splitter.nextLine(&line));
    EXPECT_EQ(line.toByteArray(), "after\n");
    splitter.append(QByteArray(RequestLineLimit - 5, 'v').constData(), RequestLineLimit - 5);
    splitter.append("123456\nlast\n", 12);
    ASSERT_TRUE(splitter.nextLine(&line));
    EXPECT_EQ(line.toByteArray(), "last\n");

    // A line that goes over the limit only with its second piece, followed
    // by a request in that same piece: the request is found.
    LineSplitter fresh;
    const QByteArray firstPiece(RequestLineLimit, 'u');
    fresh.append(firstPiece.constData(), firstPiece.size());
    EXPECT_FALSE(fresh.nextLine(&line));
    const QByteArray secondPiece = "uuuu\nGET / HTTP/1.0\r\n";
    fresh.append(secondPiece.constData(), secondPiece.size());
    ASSERT_TRUE(fresh.nextLine(&line));
    EXPECT_EQ(line.toByteArray(), "GET / HTTP/1.0\r\n");

    // Exactly the limit is still a line.
    const QByteArray atLimit = QByteArray(RequestLineLimit, 'z') + '\n';
    splitter.append(atLimit.constData(), atLimit.size());
    ASSERT_TRUE(splitter.nextLine(&line));
    EXPECT_EQ(line.size(), RequestLineLimit + 1);
}

TEST(PostBody, Verdicts) {
    const struct {
        const char* header; // nullptr: no Content-Length at all
        BodyVerdict verdict;
        qint64 length;
    } cases[] = {
        {nullptr, BodyVerdict::LengthRequired, 0},
        {"0", BodyVerdict::Empty, 0},
        {"12", BodyVerdict::Accept, 12},
        {"5 ", BodyVerdict::Accept, 5},
        {"-1", BodyVerdict::BadRequest, 0},
        {"abc", BodyVerdict::BadRequest, 0},
        {"", BodyVerdict::BadRequest, 0},
        {"1 2", BodyVerdict::BadRequest, 0},
        {"67108864", BodyVerdict::Accept, 67108864},
        {"67108865", BodyVerdict::TooLarge, 0},
        {"4294967296", BodyVerdict::TooLarge, 0},
        {"99999999999999999999999", BodyVerdict::TooLarge, 0},
    };
    for (const auto& c : cases) {
        HttpRequest r;
        if (c.header)
            applyHeaderLine(QByteArray("Content-Length: ") + c.header, r);
        qint64 length = -5;
        EXPECT_EQ(checkPostBody(r, &length), c.verdict) << (c.header ? c.header : "(none)");
        EXPECT_EQ(length, c.length) << (c.header ? c.header : "(none)");
    }

    // Two lengths that disagree, or a second one that is no number, leave
    // the body's end unknown.
    for (const QByteArray& second : {QByteArray("13"), QByteArray("x")}) {
        HttpRequest r;
        applyHeaderLine("Content-Length: 12", r);
        applyHeaderLine("Content-Length: " + second, r);
        qint64 length = -5;
        EXPECT_EQ(checkPostBody(r, &length), BodyVerdict::BadRequest) << second.constData();
    }
    HttpRequest same;
    applyHeaderLine("Content-Length: 12", same);
    applyHeaderLine("Content-Length: 012", same);
    qint64 length = 0;
    EXPECT_EQ(checkPostBody(same, &length), BodyVerdict::Accept);
    EXPECT_EQ(length, 12);
}

TEST(LineSplitter, BytesAfterTakenLinesStayIntactForRawReading) {
    // A header and the start of its body in one piece: the lines are taken
    // one by one, and what follows them is the body, byte for byte.
    LineSplitter splitter;
    const QByteArray piece = "POST /f HTTP/1.0\r\nContent-Length: 9\r\n\r\nbody\nmore";
    splitter.append(piece.constData(), piece.size());
    QByteArrayView line;
    for (const char* expected : {"POST /f HTTP/1.0\r\n", "Content-Length: 9\r\n", "\r\n"}) {
        ASSERT_TRUE(splitter.nextLine(&line));
        EXPECT_EQ(line.toByteArray(), expected);
    }
    EXPECT_FALSE(splitter.isEmpty());
    EXPECT_EQ(splitter.pending(), "body\nmore");
    // Raw bytes read in place, then appended, then a line again.
    splitter.pending().remove(0, 5);
    splitter.append("!\nnext\n", 7);
    ASSERT_TRUE(splitter.nextLine(&line));
    EXPECT_EQ(line.toByteArray(), "more!\n");
    EXPECT_EQ(splitter.takeAll(), "next\n");
    EXPECT_TRUE(splitter.isEmpty());

    // Many lines in one piece come out in order, none lost, and an
    // over-long line after taken ones is still measured on its own.
    QByteArray many;
    for (int i = 0; i < 5000; ++i)
        many += "Header-" + QByteArray::number(i) + ": v\r\n";
    splitter.append(many.constData(), many.size());
    for (int i = 0; i < 5000; ++i) {
        ASSERT_TRUE(splitter.nextLine(&line)) << i;
        ASSERT_EQ(line.toByteArray(), "Header-" + QByteArray::number(i) + ": v\r\n");
    }
    EXPECT_FALSE(splitter.nextLine(&line));
    const QByteArray nearLimit = "a\n" + QByteArray(RequestLineLimit, 'q') + "\nb\n";
    splitter.append(nearLimit.constData(), nearLimit.size());
    ASSERT_TRUE(splitter.nextLine(&line));
    EXPECT_EQ(line.toByteArray(), "a\n");
    ASSERT_TRUE(splitter.nextLine(&line));
    EXPECT_EQ(line.size(), RequestLineLimit + 1);
    ASSERT_TRUE(splitter.nextLine(&line));
    EXPECT_EQ(line.toByteArray(), "b\n");
}
