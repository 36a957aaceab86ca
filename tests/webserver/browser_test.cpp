// A real browser loads a page and its picture from the server.
#include "server_fixture.h"

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>

#include <cstdio>

using servertest::ServerFixture;

namespace {

// Runs a command and returns its standard output.
QByteArray runCommand(const QByteArray& command) {
    QByteArray output;
    FILE* pipe = ::popen(command.constData(), "r");
    if (!pipe)
        return output;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, qsizetype(n));
    ::pclose(pipe);
    return output;
}

class BrowserTest : public ServerFixture {};

} // namespace

TEST_F(BrowserTest, ChromiumShowsThePageWithItsPicture) {
    ASSERT_TRUE(QFile::exists("/usr/bin/chromium"));
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QByteArray bmp;
    QBuffer buffer(&bmp);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(picture.save(&buffer, "BMP"));
    write("images/pic.bmp", bmp);
    write("viewer.htm", "<html><head><title>Grid</title></head><body>"
                        "<img id=\"pic\" src=\"images/pic.bmp\" "
                        "onload=\"document.getElementById('r').textContent="
                        "'loaded '+this.naturalWidth+'x'+this.naturalHeight\" "
                        "onerror=\"document.getElementById('r').textContent='failed'\">"
                        "<p id=\"r\">waiting</p></body></html>");
    int pictureRequests = 0;
    server->onGetDocument = [&](webserver::THttpServer&, webserver::THttpConnection& c,
                                webserver::THttpGetFlag&) {
        if (c.path() == "/images/pic.bmp")
            ++pictureRequests;
    };
    start();

    QTemporaryDir profile;
    const QByteArray command =
        "/usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-background-networking "
        "--disable-component-update --disable-sync --no-first-run --user-data-dir=" +
        QFile::encodeName(profile.path()) +
        " --dump-dom http://127.0.0.1:" + QByteArray::number(port) + "/ 2>/dev/null";
    QByteArray dom;
    testsupport::runWithEventLoop([&] { dom = runCommand(command); });
    EXPECT_TRUE(dom.contains("<title>Grid</title>")) << dom.constData();
    EXPECT_TRUE(dom.contains("loaded 40x30")) << dom.constData();
    EXPECT_GE(pictureRequests, 1);
}
