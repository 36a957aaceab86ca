#include "webserver/document_path.h"
#include "webserver/http_answer.h"
#include "webserver/port_resolve.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace webserver;

namespace {

class DocumentFolder : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root_.isValid());
        docDir = root_.path() + "/doc";
        outside = root_.path() + "/secret.txt";
        QDir().mkpath(docDir + "/sub");
        touch(docDir + "/viewer.htm");
        touch(docDir + "/sub/viewer.htm");
        touch(docDir + "/a b.htm");
        touch(docDir + "/100%41.htm");
        touch(outside);
    }
    static void touch(const QString& path) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
    }
    std::optional<QString> map(const QByteArray& path) {
        return mapDocument(docDir, "viewer.htm", path);
    }

    QTemporaryDir root_;
    QString docDir, outside;
};

} // namespace

TEST(PercentDecode, OnceOnlyAndShortEscapes) {
    EXPECT_EQ(percentDecode("a%20b"), "a b");
    EXPECT_EQ(percentDecode("100%2541"), "100%41");
    EXPECT_EQ(percentDecode("a+b"), "a+b");
    EXPECT_EQ(percentDecode("%e9%C3%a9"), "\xe9\xc3\xa9");
    EXPECT_EQ(percentDecode("end%4"), "end%4");
    EXPECT_EQ(percentDecode("end%"), "end%");
    EXPECT_EQ(percentDecode("%zz1"), "%zz1");
    EXPECT_EQ(percentDecode("%00"), QByteArray(1, '\0'));
}

TEST_F(DocumentFolder, MapsPathsToFilesOfTheFolder) {
    EXPECT_EQ(map("/"), docDir + "/viewer.htm");
    EXPECT_EQ(map("/sub/"), docDir + "/sub/viewer.htm");
    EXPECT_EQ(map("/sub"), docDir + "/sub") << "a folder without / is mapped as it is (no file)";
    EXPECT_EQ(map("/a%20b.htm"), docDir + "/a b.htm");
    EXPECT_EQ(map("/a+b.htm"), docDir + "/a+b.htm");
    EXPECT_EQ(map("/100%2541.htm"), docDir + "/100%41.htm");
    EXPECT_EQ(map("x.htm"), docDir + "/x.htm");
    EXPECT_EQ(map("/sub\\viewer.htm"), docDir + "/sub/viewer.htm");
    EXPECT_EQ(map("/sub%5cviewer.htm"), docDir + "/sub/viewer.htm");
    EXPECT_EQ(map("/sub/../a%20b.htm"), docDir + "/a b.htm") << "inside after resolving";
    // The part below the folder, as bytes: a folder keeps its final "/".
    EXPECT_EQ(mapRequestPath("viewer.htm", "/sub/./x/..//"), "/sub/viewer.htm");
    EXPECT_EQ(mapRequestPath("viewer.htm", "/sub/x/..%2f"), "/sub/");
    EXPECT_EQ(mapRequestPath("viewer.htm", "/sub/x%5c..\\"), "/sub/");
    EXPECT_EQ(mapRequestPath("viewer.htm", "/sub/.."), "");
    EXPECT_EQ(mapRequestPath("viewer.htm", "/a.b/.../c."), "/a.b/.../c.");
    EXPECT_EQ(mapRequestPath("viewer.htm", "/sub/."), "/sub");
    EXPECT_EQ(mapRequestPath("viewer.htm", "/sub/x/.."), "/sub");
    EXPECT_EQ(mapRequestPath("viewer.htm", "/%C3%A9t%C3%A9/...%2e"), "/\xc3\xa9t\xc3\xa9/....");
}

TEST_F(DocumentFolder, NeverLeavesTheFolder) {
    for (const QByteArray& path :
         {QByteArray("/../secret.txt"), QByteArray("/%2e%2e/secret.txt"),
          QByteArray("/%2E%2E%2fsecret.txt"), QByteArray("/..\\secret.txt"),
          QByteArray("/sub/..%5c..%5csecret.txt"), QByteArray("\\..\\secret.txt"),
          QByteArray("/sub/../../doc/../secret.txt"), QByteArray("/viewer.htm%00.txt"),
          QByteArray("/..")}) {
        EXPECT_FALSE(map(path).has_value()) << path.constData();
    }
}

TEST_F(DocumentFolder, SymbolicLinksMustStayInside) {
    ASSERT_TRUE(QFile::link(outside, docDir + "/out.txt"));
    ASSERT_TRUE(QFile::link(root_.path(), docDir + "/up"));
    ASSERT_TRUE(QFile::link(docDir + "/viewer.htm", docDir + "/in.htm"));
    EXPECT_FALSE(map("/out.txt").has_value());
    EXPECT_FALSE(map("/up/secret.txt").has_value());
    EXPECT_EQ(map("/in.htm"), docDir + "/in.htm");
    EXPECT_TRUE(liesInside(docDir, docDir + "/sub/viewer.htm"));
    EXPECT_FALSE(liesInside(docDir, outside));
    // A sibling folder whose name starts like the document folder is outside.
    QDir().mkpath(docDir + "2");
    touch(docDir + "2/f.htm");
    EXPECT_FALSE(liesInside(docDir, docDir + "2/f.htm"));
}

TEST_F(DocumentFolder, OpeningChecksWhereTheFileReallyIs) {
    ASSERT_TRUE(QFile::link(outside, docDir + "/out.txt"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(docDir + "/pipe").constData(), 0644), 0);
    const QString root = QFileInfo(docDir).canonicalFilePath();
    OpenedDocument opened;
    ASSERT_EQ(openDocument(docDir + "/viewer.htm", root, &opened), OpenResult::Opened);
    EXPECT_EQ(opened.size, 1);
    EXPECT_TRUE(opened.modified().isValid());
    ::close(opened.fd);
    EXPECT_EQ(openDocument(docDir + "/out.txt", root, &opened), OpenResult::Outside);
    EXPECT_EQ(openDocument(docDir + "/pipe", root, &opened), OpenResult::NotAFile)
        << "a named pipe neither blocks nor is served";
    EXPECT_EQ(openDocument(docDir + "/sub", root, &opened), OpenResult::NotAFile);
    EXPECT_EQ(openDocument(docDir + "/none.htm", root, &opened), OpenResult::Missing);
}

TEST(Answers, ContentTypes) {
    EXPECT_EQ(ContentTypeOf("/d/a.htm"), "text/html");
    EXPECT_EQ(ContentTypeOf("/d/a.HTML"), "text/html");
    EXPECT_EQ(ContentTypeOf("/d/a.JPG"), "image/jpeg");
    EXPECT_EQ(ContentTypeOf("/d/a.jpeg"), "image/jpeg");
    EXPECT_EQ(ContentTypeOf("/d/a.gif"), "image/gif");
    EXPECT_EQ(ContentTypeOf("/d/a.bmp"), "image/bmp");
    EXPECT_EQ(ContentTypeOf("/d/a.txt"), "text/plain");
    EXPECT_EQ(ContentTypeOf("/d/a.png"), "application/binary");
    EXPECT_EQ(ContentTypeOf("/d/noext"), "application/binary");
    EXPECT_EQ(ContentTypeOf("/d.htm/noext"), "application/binary");
    EXPECT_EQ(ContentTypeOf("/d/a.tar.gz"), "application/binary");
    // Served files take their type from the name's bytes: the same types.
    for (const char* name : {"/d/a.htm", "/d/a.HTML", "/d/a.JpG", "/d/a.jpeg", "/d/a.gif",
                             "/d/a.Bmp", "/d/a.txt", "/d/a.png", "/d/noext", "/d.htm/noext",
                             "/d/a.tar.gz", "/d/a.", "/d/.htm", "/d/a.htmlx", "/d/a.jpegs"})
        EXPECT_EQ(ContentTypeOfName(name), ContentTypeOf(QString::fromLatin1(name))) << name;
}

TEST(Answers, HttpDateInUtc) {
    EXPECT_EQ(HttpDate(QDateTime(QDate(2003, 1, 6), QTime(10, 20, 30), QTimeZone::utc())),
              "Mon, 06 Jan 2003 10:20:30");
    EXPECT_EQ(HttpDate(QDateTime(QDate(2026, 12, 6), QTime(0, 0, 5), QTimeZone::utc())),
              "Sun, 06 Dec 2026 00:00:05");
    // A time given in another zone is converted to UTC first.
    EXPECT_EQ(HttpDate(QDateTime(QDate(2003, 1, 6), QTime(1, 0, 0), QTimeZone(3600))),
              "Mon, 06 Jan 2003 00:00:00");
}

TEST(Answers, NotFoundEscapesThePathAndCountsItsBody) {
    const QByteArray answer = notFoundAnswer("HTTP/1.1", "/<script>&\"'.htm");
    const qsizetype split = answer.indexOf("\r\n\r\n");
    ASSERT_GT(split, 0);
    const QByteArray head = answer.left(split), body = answer.mid(split + 4);
    EXPECT_TRUE(head.startsWith("HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n"));
    EXPECT_TRUE(head.contains("Content-Length: " + QByteArray::number(body.size()) + "\r\n"));
    EXPECT_TRUE(head.endsWith("frame-ancestors 'self'"));
    EXPECT_EQ(body, "<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD><BODY><H1>404 Not Found</H1>"
                    "The requested URL /&lt;script&gt;&amp;&quot;&#39;.htm was not found on this "
                    "server.<P></BODY></HTML>\r\n");

    const QByteArray refused = statusAnswer("HTTP/1.0", 413, "Payload Too Large");
    EXPECT_TRUE(refused.startsWith("HTTP/1.0 413 Payload Too Large\r\n"));
    const QByteArray refusedBody = refused.mid(refused.indexOf("\r\n\r\n") + 4);
    EXPECT_TRUE(
        refused.contains("Content-Length: " + QByteArray::number(refusedBody.size()) + "\r\n"));
}

TEST(Answers, FileHeader) {
    EXPECT_EQ(fileAnswerHeader("HTTP/1.0", "image/gif", 1460,
                               QDateTime(QDate(2003, 1, 6), QTime(10, 20, 30), QTimeZone::utc())),
              "HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\nContent-Length: 1460\r\n"
              "Last-Modified: Mon, 06 Jan 2003 10:20:30 GMT\r\n" +
                  QByteArray(kNoFramingHeaders) + "\r\n");
    EXPECT_EQ(fileAnswerHeader("HTTP/1.1", "text/html", 0, QDateTime()),
              "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 0\r\n" +
                  QByteArray(kNoFramingHeaders) + "\r\n");
    // A time of change given in seconds is written as the same text, also
    // when files of several times are served in turn (kept texts of other
    // times must not answer for it).
    const qint64 base = QDateTime(QDate(2026, 12, 6), QTime(23, 59, 58), QTimeZone::utc())
                            .toSecsSinceEpoch();
    for (const qint64 offset : {0, 8, 1, 0, 16, 2, 8, -8, 86400 * 366, 0}) {
        const QDateTime time = QDateTime::fromSecsSinceEpoch(base + offset, QTimeZone::utc());
        EXPECT_EQ(fileAnswerHeader("HTTP/1.0", "text/html", 5, base + offset),
                  fileAnswerHeader("HTTP/1.0", "text/html", 5, time))
            << offset;
    }
}

TEST(Ports, NumbersServiceNamesAndErrors) {
    EXPECT_EQ(resolvePort("8080").port, 8080);
    EXPECT_TRUE(resolvePort("0").ok);
    const PortResolution http = resolvePort("http");
    ASSERT_TRUE(http.ok) << http.error.toStdString();
    EXPECT_EQ(http.port, 80);
    for (const QString& text : {QString(), QString(32, '1'), QString("65536"), QString("80x")}) {
        const PortResolution r = resolvePort(text);
        EXPECT_FALSE(r.ok) << text.toStdString();
        EXPECT_EQ(r.error, "ResolvePort: Invalid Port.") << text.toStdString();
    }
    const PortResolution unknown = resolvePort("abc");
    EXPECT_FALSE(unknown.ok);
    EXPECT_TRUE(unknown.error.startsWith("ResolvePort: Cannot convert port 'abc', Error #"))
        << unknown.error.toStdString();
}
