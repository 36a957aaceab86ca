// Captures 20 pages of a local test site twice: with the page renderer's
// one kept browser, and with a fresh "chromium --headless --screenshot"
// process per page (the usual one-shot way). Prints pictures per second for
// both and their ratio. Usage: bench_snapshots [pages] [rounds]
#include "catalogue/page_renderer.h"
#include "support/test_site.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <unistd.h>

#include <cstdio>

using testsupport::TestSite;

namespace {

QByteArray pageFor(int index) {
    const int hue = (index * 37) % 360;
    return "<html><head><title>Page " + QByteArray::number(index) +
           "</title></head><body style=\"margin:0;background:hsl(" + QByteArray::number(hue) +
           ",70%,50%)\"><h1 style=\"font:64px sans-serif;color:white\">Page " +
           QByteArray::number(index) + "</h1><p>" +
           QByteArray("Some text of the page. ").repeated(200) + "</p></body></html>";
}

double keptBrowser(const TestSite& site, int pages, int* made) {
    catalogue::PageRenderer renderer;
    if (!renderer.start())
        return 0;
    QElapsedTimer clock;
    clock.start(); // the browser's start-up counts: it is part of a run
    for (int i = 0; i < pages; ++i)
        *made += !renderer.capture(site.url(QStringLiteral("/page/%1").arg(i))).isNull();
    const double seconds = clock.nsecsElapsed() / 1e9;
    renderer.stop();
    return pages / seconds;
}

double processPerPage(const TestSite& site, int pages, int* made) {
    const QString browser = catalogue::PageRenderer::findBrowser();
    QTemporaryDir work;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < pages; ++i) {
        const QString shot = work.filePath(QStringLiteral("shot%1.png").arg(i));
        QStringList args{"--headless",
                         "--disable-gpu",
                         "--disable-background-networking",
                         "--disable-component-update",
                         "--disable-sync",
                         "--no-first-run",
                         "--mute-audio",
                         "--hide-scrollbars",
                         "--window-size=1024,768",
                         "--user-data-dir=" + work.filePath(QStringLiteral("profile%1").arg(i)),
                         "--screenshot=" + shot};
        if (::geteuid() == 0)
            args << "--no-sandbox";
        args << site.url(QStringLiteral("/page/%1").arg(i));
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(browser, args);
        process.waitForFinished(60000);
        // Same result as the renderer: the picture scaled into the card.
        *made += !catalogue::PageRenderer::scaleToThumbnail(QImage(shot)).isNull();
    }
    return pages / (clock.nsecsElapsed() / 1e9);
}

} // namespace

int main(int argc, char** argv) {
    // Drawing the pictures needs no display.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int pages = argc > 1 ? atoi(argv[1]) : 20;
    const int rounds = argc > 2 ? atoi(argv[2]) : 3;
    if (catalogue::PageRenderer::findBrowser().isEmpty()) {
        std::fprintf(stderr, "no Chromium installed\n");
        return 1;
    }
    TestSite site;
    for (int i = 0; i < pages; ++i)
        site.setRawRoute("/page/" + QByteArray::number(i),
                         TestSite::response(200, "text/html", pageFor(i)));

    std::printf("%d pages, %d rounds, alternating\n", pages, rounds);
    double keptSum = 0, perPageSum = 0;
    for (int round = 1; round <= rounds; ++round) {
        int keptMade = 0, perPageMade = 0;
        const double kept = keptBrowser(site, pages, &keptMade);
        const double perPage = processPerPage(site, pages, &perPageMade);
        keptSum += kept;
        perPageSum += perPage;
        std::printf("round %d: kept browser %.2f pictures/s (%d made), "
                    "process per page %.2f pictures/s (%d made)\n",
                    round, kept, keptMade, perPage, perPageMade);
    }
    std::printf(
        "mean: kept browser %.2f pictures/s, process per page %.2f pictures/s, ratio %.2f\n",
        keptSum / rounds, perPageSum / rounds, perPageSum > 0 ? keptSum / perPageSum : 0.0);
    return 0;
}
