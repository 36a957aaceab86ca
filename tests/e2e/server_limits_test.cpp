// The whole program's server under requests that could make its work grow
// without bound: a form full of fields that name no favourite, and a
// request path of 65,000 bytes. Each bad field is one refusal line and no
// exception entry, and the logged request line is cut to a few KiB.
#include "program_run.h"
#include "support/http_test_client.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

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

    const QByteArray longPath = '/' + QByteArray(64999, 'p');
    EXPECT_TRUE(testsupport::fetch(port, "GET " + longPath + " HTTP/1.0\r\n\r\n")
                    .statusLine.contains(" 404"));

    EXPECT_EQ(program.terminate(), 0) << qPrintable(program.stderrText());

    // No exception was raised for the bad fields.
    const QByteArray exceptions = home.read(".config/pagorama/PagoraERRORLOG.txt");
    EXPECT_EQ(exceptions.count(" Exception "), 0) << exceptions.left(2000).constData();

    // The request line reached the log file cut, with the path's length.
    const QList<QByteArray> logLines = home.read(".config/pagorama/pagorama.log").split('\n');
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
