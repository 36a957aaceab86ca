// The whole program's server under requests that could make its work grow
// without bound: a form full of fields that name no favourite, and a
// request path of 65,000 bytes, 100 MB of requests. Each bad field is one
// refusal line and no exception entry, the logged request line is cut to a
// few KiB, and the log file stays within its bound; a form of too many
// fields, and more idle clients than the program may open descriptors; a
// form that sets 10,000 positions in one folder while pages are asked for.
#include "catalogue/encodings.h"
#include "program_run.h"
#include "support/http_test_client.h"
#include "support/temp_home.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <memory>
#include <thread>
#include <sys/resource.h>
#include <vector>

using e2e::ProgramRun;
using testsupport::TempHome;

namespace {

testsupport::HttpReply postForm(quint16 port, const QByteArray& body) {
    const QByteArray origin = "localhost:" + QByteArray::number(port);
    return testsupport::fetch(port, "POST /cgi-bin/cgifrm1.exe HTTP/1.0\r\nHost: " + origin +
                                        "\r\nOrigin: http://" + origin + "\r\nContent-Length: " +
                                        QByteArray::number(body.size()) + "\r\n\r\n" + body);
}

bool serverAnswers(quint16 port) {
    return !testsupport::fetch(port, "HEAD / HTTP/1.0\r\n\r\n").statusLine.isEmpty();
}

} // namespace

TEST(ProgramServerLimits, BadFieldsAreRefusedWithoutExceptionsAndLongLinesAreCut) {
    TempHome home;
    home.favorites();
    const quint16 port = e2e::freePort();
    ProgramRun program(home);
    program.writeSettings("[Data]\r\nPort=" + QByteArray::number(port) +
                          "\r\nLogToFile=1\r\n[General]\r\nAutoStart=0\r\n");
    program.start();
    ASSERT_TRUE(ProgramRun::waitUntil([&] { return serverAnswers(port); }, 60000))
        << qPrintable(program.stderrText());

    // Identities that are not hexadecimal: each one is refused on the page.
    constexpr int BadFields = 300;
    QByteArray body;
    for (int i = 0; i < BadFields; ++i)
        body += (i ? "&Edit" : "Edit") + QByteArray("zz") + QByteArray::number(i) + "=New";
    const testsupport::HttpReply answer = postForm(port, body);
    EXPECT_TRUE(answer.statusLine.contains(" 200")) << answer.raw.left(300).constData();
    EXPECT_TRUE(answer.body.contains("there were " + QByteArray::number(BadFields) + " results"));
    EXPECT_EQ(answer.body.count("Refused zz"), BadFields);

    // A form of more fields than any editor page posts is refused whole.
    QByteArray many = "Edit" + QByteArray("zz=New");
    for (int i = 0; i < 10000; ++i)
        many += "&OBzz=" + QByteArray::number(i);
    const testsupport::HttpReply tooMany = postForm(port, many);
    EXPECT_EQ(tooMany.statusLine, "HTTP/1.0 413 Payload Too Large");

    const QByteArray longPath = '/' + QByteArray(64999, 'p');
    EXPECT_TRUE(testsupport::fetch(port, "GET " + longPath + " HTTP/1.0\r\n\r\n")
                    .statusLine.contains(" 404"));

    EXPECT_EQ(program.terminate(), 0) << qPrintable(program.stderrText());
    const QByteArray firstLog = home.read(".config/pagorama/pagorama.log");

    // No exception was raised for the bad fields.
    const QByteArray exceptions = home.read(".config/pagorama/PagoraERRORLOG.txt");
    EXPECT_EQ(exceptions.count(" Exception "), 0) << exceptions.left(2000).constData();

    // The request line reached the log file cut, with the path's length.
    const QList<QByteArray> logLines = firstLog.split('\n');
    qsizetype longest = 0;
    bool found = false;
    for (const QByteArray& line : logLines) {
        longest = std::max(longest, line.size());
        if (line.contains(": GET /ppp"))
            found = line.endsWith(QByteArray(100, 'p') + "... (65000 bytes)\r");
    }
    EXPECT_TRUE(found);
    EXPECT_LT(longest, 9000);
}

TEST(ProgramServerLimits, TheLogFileStaysWithinItsBoundUnder100MBOfRequests) {
    TempHome home;
    home.favorites();
    const quint16 port = e2e::freePort();
    ProgramRun program(home);
    program.writeSettings("[Data]\r\nPort=" + QByteArray::number(port) +
                          "\r\nLogToFile=1\r\n[General]\r\nAutoStart=0\r\nStartup=0\r\n");
    program.start();
    ASSERT_TRUE(ProgramRun::waitUntil([&] { return serverAnswers(port); }, 60000))
        << qPrintable(program.stderrText());
    const QByteArray request = "GET /" + QByteArray(8000, 'q') + " HTTP/1.0\r\n\r\n";
    for (int i = 0; i < 12500; ++i)
        ASSERT_FALSE(testsupport::fetch(port, request).statusLine.isEmpty()) << i;
    EXPECT_EQ(program.terminate(), 0) << qPrintable(program.stderrText());

    const QFileInfo log(home.path() + "/.config/pagorama/pagorama.log");
    const QFileInfo older(log.filePath() + ".1");
    constexpr qint64 Bound = 16 * 1024 * 1024;
    ASSERT_TRUE(older.exists());
    EXPECT_LE(log.size(), Bound);
    EXPECT_LE(older.size(), Bound);
    EXPECT_GT(older.size(), Bound - 20000);
    // The newest lines are in the file, whole.
    EXPECT_TRUE(home.read(".config/pagorama/pagorama.log").contains("Log file Closed."));
}

TEST(ProgramServerLimits, MoreIdleClientsThanDescriptorsNeverKeepARequestWaiting) {
    TempHome home;
    home.favorites();
    home.write("Documents/pagorama/page.htm", "PAGE");
    const quint16 port = e2e::freePort();
    ProgramRun program(home);
    program.writeSettings("[Data]\r\nPort=" + QByteArray::number(port) +
                          "\r\n[General]\r\nAutoStart=0\r\nStartup=0\r\n");
    // The program may open 256 descriptors (as after `ulimit -n 256`).
    rlimit mine{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &mine), 0);
    rlimit low = mine;
    low.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    program.start();
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &mine), 0);
    ASSERT_TRUE(ProgramRun::waitUntil([&] { return serverAnswers(port); }, 60000))
        << qPrintable(program.stderrText());

    std::vector<std::unique_ptr<testsupport::HttpTestClient>> idle;
    for (int i = 0; i < 300; ++i)
        idle.push_back(std::make_unique<testsupport::HttpTestClient>(port));
    QElapsedTimer waited;
    waited.start();
    EXPECT_EQ(testsupport::fetch(port, "GET /page.htm HTTP/1.0\r\n\r\n").body, "PAGE");
    std::cout << "A request behind 300 idle clients was answered in " << waited.elapsed()
              << " ms\n";
    EXPECT_EQ(program.terminate(), 0) << qPrintable(program.stderrText());
}

TEST(ProgramServerLimits, TenThousandPositionsInOneFolderLeaveTheServerAnswering) {
    TempHome home;
    constexpr int Favourites = 10000;
    QByteArray body;
    for (int i = 0; i < Favourites; ++i) {
        const QString name = QString::asprintf("Big/site%05d.url", i);
        home.write("Favorites/" + name, "[InternetShortcut]\r\nURL=http://127.0.0.1:1/\r\n");
        body += (i ? "&OB" : "OB") +
                catalogue::HexEncode(QFile::encodeName(home.favorites() + '/' + name)) + '=' +
                QByteArray::number((i * 7 + 3) % 256);
    }
    const quint16 port = e2e::freePort();
    ProgramRun program(home);
    program.writeSettings("[Data]\r\nPort=" + QByteArray::number(port) +
                          "\r\n[General]\r\nAutoStart=0\r\nStartup=0\r\nAutorefresh=0\r\n");
    program.start();
    ASSERT_TRUE(ProgramRun::waitUntil([&] { return serverAnswers(port); }, 60000))
        << qPrintable(program.stderrText());

    testsupport::HttpReply answer;
    std::atomic<bool> posted{false};
    std::thread poster([&] {
        answer = postForm(port, body);
        posted = true;
    });
    qint64 slowest = 0;
    while (!posted) {
        QElapsedTimer get;
        get.start();
        EXPECT_TRUE(serverAnswers(port));
        slowest = std::max(slowest, get.elapsed());
    }
    poster.join();
    std::cout << "slowest page during the form: " << slowest << " ms\n";
    EXPECT_LT(slowest, 1000);
    EXPECT_EQ(answer.body.count("sort order to"), Favourites);
    EXPECT_TRUE(answer.body.contains("Changed Favourite site09999.url sort order to 108"));
    EXPECT_EQ(program.terminate(), 0) << qPrintable(program.stderrText());
}
