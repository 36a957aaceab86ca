#include "support/snapshot_site.h"

#include <QHash>

#include <memory>
#include <mutex>

namespace testsupport {

const QByteArray kRedPage = "<html><head><title>\x01 Red News \x1f</title></head>"
                            "<body style=\"background:#e00000;margin:0\">"
                            "<h1 style=\"color:white;font-size:80px\">Red News</h1></body></html>";

bool requestFromBrowser(const TestSite::Request& request) {
    return request.raw.toLower().contains("user-agent:");
}

int browserRequestCount(const TestSite& site) {
    int count = 0;
    for (const TestSite::Request& request : site.requests())
        count += requestFromBrowser(request);
    return count;
}

void setHangingRoute(TestSite& site, const QByteArray& route,
                     std::function<void()> onBrowserRequest) {
    auto once = std::make_shared<std::once_flag>();
    site.setRoute(route, [once, onBrowserRequest](const TestSite::Request& request,
                                                  TestSite::Connection& connection) {
        if (!requestFromBrowser(request)) {
            connection.send(TestSite::response(200, "text/html", TestSite::page("Hanging")));
            return;
        }
        if (onBrowserRequest)
            std::call_once(*once, onBrowserRequest);
        connection.waitUntilClosed();
    });
}

void setScriptLoopRoute(TestSite& site, const QByteArray& route) {
    site.setRawRoute(route, TestSite::response(200, "text/html",
                                               "<html><head><title>Loop</title></head>"
                                               "<body style=\"background:#00f\">Busy"
                                               "<script>for (;;) {}</script></body></html>"));
}

void setTimerLoopRoute(TestSite& site, const QByteArray& route) {
    site.setRawRoute(route, TestSite::response(200, "text/html",
                                               "<html><head><title>Loop</title></head>"
                                               "<body style=\"background:#00f\">Busy<script>"
                                               "setInterval(() => { for (;;) {} }, 0); for (;;) {}"
                                               "</script></body></html>"));
}

void setHugeRoute(TestSite& site, const QByteArray& route) {
    site.setRoute(route, [](const TestSite::Request& request, TestSite::Connection& connection) {
        constexpr int blocks = 400; // 400 x 64 KiB
        QByteArray block;
        while (block.size() < 64 * 1024)
            block += "<p style=\"background:#0a0\">A very long page indeed, line after line</p>\n";
        connection.send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                        QByteArray::number(qint64(blocks) * block.size()) + "\r\n\r\n");
        if (request.method == "HEAD")
            return;
        for (int i = 0; i < blocks && connection.send(block); ++i) {
        }
    });
}

QRgb dominantColour(const QImage& image) {
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y) & 0xffffff];
    QRgb best = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > counts.value(best, -1))
            best = it.key();
    return best;
}

bool isStrongRed(QRgb colour) {
    return qRed(colour) > 200 && qGreen(colour) < 60 && qBlue(colour) < 60;
}

} // namespace testsupport
