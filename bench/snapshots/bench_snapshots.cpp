// The page renderer's cost per picture, measured over the pages of a local
// test site in one run beside its yardstick:
//   reference   one kept tab driven directly over the DevTools pipe
//               (navigate, load event, clipped and scaled capture, decode)
//   renderer    PageRenderer::capture, one page at a time, taking turns
//               with the reference page by page
//   parallel    PageRenderer::capture from 3 threads at once
//   sharing     3 callers over pages on 40 loopback addresses (40 sites),
//               the renderer processes shared (the default) beside one per
//               site (setSharedRenderers(false)), taking turns each round:
//               ms per picture and the CPU of the browser's whole process tree
//   one-shot    (with --one-shot) a "chromium --headless --screenshot"
//               process per page, the usual one-shot way
//   copies      a stored picture with its large copy (3x, from the same
//               capture) beside one with its small copy only: capture and
//               files written, page by page in turn; and the bytes of each
//               file per picture
// With --copies only the last comparison runs.
// Each browser is started and warmed up with one page before the clock runs.
// Usage: bench_snapshots [pages] [rounds] [--one-shot]
#include "catalogue/bmp_file.h"
#include "catalogue/page_renderer.h"
#include "catalogue/picture_copy.h"
#include "catalogue/picture_files.h"
#include "platform/file_replace.h"
#include "reference_tab.h"
#include "support/loopback_site.h"
#include "support/test_site.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

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

QString pageUrl(const TestSite& site, int index) {
    return site.url(QStringLiteral("/page/%1").arg(index));
}

struct Figure {
    double msPerPicture = 0;
    int made = 0;
    double browserCpuMs = 0; // per picture, the browser's whole process tree
};

// CPU seconds of a process and of everything below it, with what each has
// reaped (the browser's zygote reaps the renderers that have ended).
double treeCpu(int pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 15)
        return 0;
    // After the name, field 3 (state) comes first: utime is 14 .. cstime 17.
    double seconds = (fields[11].toDouble() + fields[12].toDouble() + fields[13].toDouble() +
                      fields[14].toDouble()) /
                     double(::sysconf(_SC_CLK_TCK));
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (children.open(QIODevice::ReadOnly))
        for (const QByteArray& child : children.readAll().split(' '))
            if (!child.trimmed().isEmpty())
                seconds += treeCpu(child.trimmed().toInt());
    return seconds;
}

// The reference tab and the renderer take the same pages in turn, page by
// page, so a change in the machine's load touches both alike.
std::pair<Figure, Figure> referenceBesideRenderer(const TestSite& site, int pages) {
    ReferenceTab tab;
    catalogue::PageRenderer renderer;
    renderer.setMaxParallelCaptures(1);
    if (!tab.start(catalogue::PageRenderer::findBrowser()) || !renderer.start())
        return {};
    tab.capture(pageUrl(site, pages)); // warm-up page
    renderer.capture(pageUrl(site, pages));
    Figure ref, own;
    qint64 refNs = 0, ownNs = 0;
    QElapsedTimer clock;
    for (int i = 0; i < pages; ++i) {
        clock.start();
        ref.made += !tab.capture(pageUrl(site, i)).isNull();
        refNs += clock.nsecsElapsed();
        clock.start();
        own.made += !renderer.capture(pageUrl(site, i)).isNull();
        ownNs += clock.nsecsElapsed();
    }
    ref.msPerPicture = refNs / 1e6 / pages;
    own.msPerPicture = ownNs / 1e6 / pages;
    return {ref, own};
}

// With several callers the figure is the wall time per picture.
Figure renderer(const std::function<QString(int)>& pageUrl, int pages, int callers,
                bool shared = true) {
    catalogue::PageRenderer renderer;
    renderer.setMaxParallelCaptures(callers);
    renderer.setSharedRenderers(shared);
    if (!renderer.start())
        return {};
    renderer.capture(pageUrl(pages));
    std::atomic<int> next{0}, made{0}, running{callers};
    QElapsedTimer clock;
    clock.start();
    std::vector<std::thread> threads;
    for (int c = 0; c < callers; ++c)
        threads.emplace_back([&] {
            for (int i; (i = next++) < pages;)
                made += !renderer.capture(pageUrl(i)).isNull();
            --running;
        });
    while (running > 0) // the renderer's owning thread keeps serving its events
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    for (std::thread& thread : threads)
        thread.join();
    Figure figure;
    figure.msPerPicture = clock.nsecsElapsed() / 1e6 / pages;
    figure.made = made;
    figure.browserCpuMs = treeCpu(int(renderer.browserProcessId())) * 1000.0 / pages;
    renderer.stop();
    return figure;
}

struct CopiesFigure {
    double msWithout = 0, msWith = 0;
    double bmpBytes = 0, pngBytes = 0, largeBytes = 0;
    int made = 0;
};

// One renderer, one page at a time; each page is stored both ways in turn.
CopiesFigure withAndWithoutLargeCopy(const TestSite& site, int pages) {
    catalogue::PageRenderer renderer;
    renderer.setMaxParallelCaptures(1);
    QTemporaryDir folder;
    if (!renderer.start() || !folder.isValid())
        return {};
    QImage large;
    renderer.capture(pageUrl(site, pages), nullptr, &large); // warm-up page
    CopiesFigure figure;
    qint64 withoutNs = 0, withNs = 0;
    QElapsedTimer clock;
    for (int i = 0; i < pages; ++i) {
        // As stored before the large copy: the BMP and its small PNG copy.
        const QString smallOnly = folder.filePath(QStringLiteral("s%1.BMP").arg(i));
        clock.start();
        const QImage picture = renderer.capture(pageUrl(site, i));
        if (!picture.isNull() && catalogue::SaveBmp(picture, smallOnly))
            platform::replaceFileWhole(catalogue::PngCopyPath(smallOnly),
                                       catalogue::EncodePngCopy(picture));
        withoutNs += clock.nsecsElapsed();

        const catalogue::PictureFiles files(folder.filePath(QStringLiteral("l%1.BMP").arg(i)));
        clock.start();
        const QImage small = renderer.capture(pageUrl(site, i), nullptr, &large);
        const bool saved = !small.isNull() && files.save(small, large);
        withNs += clock.nsecsElapsed();
        if (saved) {
            ++figure.made;
            figure.bmpBytes += QFileInfo(files.bmp()).size();
            figure.pngBytes += QFileInfo(files.pngCopy()).size();
            figure.largeBytes += QFileInfo(files.largeCopy()).size();
        }
    }
    figure.msWithout = withoutNs / 1e6 / pages;
    figure.msWith = withNs / 1e6 / pages;
    if (figure.made > 0) {
        figure.bmpBytes /= figure.made;
        figure.pngBytes /= figure.made;
        figure.largeBytes /= figure.made;
    }
    renderer.stop();
    return figure;
}

Figure processPerPage(const TestSite& site, int pages) {
    const QString browser = catalogue::PageRenderer::findBrowser();
    QTemporaryDir work;
    Figure figure;
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
        args << pageUrl(site, i);
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(browser, args);
        process.waitForFinished(60000);
        // Same result as the renderer: the picture scaled into the card.
        figure.made += !catalogue::PageRenderer::scaleToThumbnail(QImage(shot)).isNull();
    }
    figure.msPerPicture = clock.nsecsElapsed() / 1e6 / pages;
    return figure;
}

} // namespace

int main(int argc, char** argv) {
    // Drawing the pictures needs no display.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const bool oneShot = arguments.contains(QStringLiteral("--one-shot"));
    const bool copiesOnly = arguments.contains(QStringLiteral("--copies"));
    QStringList numbers = arguments.mid(1);
    numbers.removeAll(QStringLiteral("--one-shot"));
    numbers.removeAll(QStringLiteral("--copies"));
    const int pages = numbers.size() > 0 ? numbers[0].toInt() : 40;
    const int rounds = numbers.size() > 1 ? numbers[1].toInt() : 3;
    if (catalogue::PageRenderer::findBrowser().isEmpty()) {
        std::fprintf(stderr, "no Chromium installed\n");
        return 1;
    }
    TestSite site;
    for (int i = 0; i <= pages; ++i)
        site.setRawRoute("/page/" + QByteArray::number(i),
                         TestSite::response(200, "text/html", pageFor(i)));

    std::printf("%d pages, %d rounds, alternating; %d cores\n", pages, rounds,
                QThread::idealThreadCount());
    double withoutSum = 0, withSum = 0;
    CopiesFigure last;
    for (int round = 1; round <= rounds; ++round) {
        last = withAndWithoutLargeCopy(site, pages);
        withoutSum += last.msWithout;
        withSum += last.msWith;
        std::printf("round %d: small copy only %.1f ms/picture, with the large copy %.1f "
                    "ms/picture (%.2fx), %d made; bytes per picture: BMP %.0f, PNG %.0f, "
                    "large PNG %.0f\n",
                    round, last.msWithout, last.msWith,
                    last.msWithout > 0 ? last.msWith / last.msWithout : 0.0, last.made,
                    last.bmpBytes, last.pngBytes, last.largeBytes);
    }
    std::printf("mean: small copy only %.1f ms/picture, with the large copy %.1f ms/picture "
                "(%.2fx)\n",
                withoutSum / rounds, withSum / rounds, withoutSum > 0 ? withSum / withoutSum : 0.0);
    if (copiesOnly)
        return 0;

    double referenceSum = 0, rendererSum = 0, parallelSum = 0, oneShotSum = 0;
    for (int round = 1; round <= rounds; ++round) {
        const auto [ref, one] = referenceBesideRenderer(site, pages);
        const Figure three =
            renderer([&site](int i) { return pageUrl(site, i); }, pages, 3);
        referenceSum += ref.msPerPicture;
        rendererSum += one.msPerPicture;
        parallelSum += three.msPerPicture;
        std::printf("round %d: reference %.1f ms/picture (%d made), renderer %.1f ms/picture "
                    "(%d made, %.2f of reference), 3 callers %.1f ms/picture (%d made)",
                    round, ref.msPerPicture, ref.made, one.msPerPicture, one.made,
                    ref.msPerPicture > 0 ? one.msPerPicture / ref.msPerPicture : 0.0,
                    three.msPerPicture, three.made);
        if (oneShot) {
            const Figure perPage = processPerPage(site, pages);
            oneShotSum += perPage.msPerPicture;
            std::printf(", one-shot process %.1f ms/picture (%d made)", perPage.msPerPicture,
                        perPage.made);
        }
        std::printf("\n");
    }
    std::printf("mean: reference %.1f ms/picture, renderer %.1f ms/picture (%.2f of reference), "
                "3 callers %.1f ms/picture = %.2f pictures/s (%.2f of one caller's rate)",
                referenceSum / rounds, rendererSum / rounds,
                referenceSum > 0 ? rendererSum / referenceSum : 0.0, parallelSum / rounds,
                parallelSum > 0 ? 1000.0 * rounds / parallelSum : 0.0,
                parallelSum > 0 ? rendererSum / parallelSum : 0.0);
    if (oneShot)
        std::printf(", one-shot process %.1f ms/picture", oneShotSum / rounds);
    std::printf("\n");

    // Each page on a site of its own, so one process per site means one per page.
    testsupport::LoopbackSite sites({40, 0, {}});
    const auto siteUrl = [&sites](int i) {
        return sites.url(1 + i % 40, QStringLiteral("/page/%1").arg(i));
    };
    Figure sharedSum, perSiteSum;
    for (int round = 1; round <= rounds; ++round) {
        const Figure shared = renderer(siteUrl, pages, 3, true);
        const Figure perSite = renderer(siteUrl, pages, 3, false);
        for (auto [sum, figure] : {std::pair{&sharedSum, shared}, std::pair{&perSiteSum, perSite}}) {
            sum->msPerPicture += figure.msPerPicture / rounds;
            sum->browserCpuMs += figure.browserCpuMs / rounds;
        }
        std::printf("round %d, 3 callers over 40 sites: renderers shared %.1f ms/picture, browser "
                    "cpu %.1f ms/picture (%d made); one per site %.1f ms/picture, browser cpu "
                    "%.1f ms/picture (%d made)\n",
                    round, shared.msPerPicture, shared.browserCpuMs, shared.made,
                    perSite.msPerPicture, perSite.browserCpuMs, perSite.made);
    }
    std::printf("mean over 40 sites: shared %.1f ms/picture, browser cpu %.1f ms/picture; one per "
                "site %.1f ms/picture, browser cpu %.1f ms/picture; shared / one per site: time "
                "%.2f, browser cpu %.2f\n",
                sharedSum.msPerPicture, sharedSum.browserCpuMs, perSiteSum.msPerPicture,
                perSiteSum.browserCpuMs,
                perSiteSum.msPerPicture > 0 ? sharedSum.msPerPicture / perSiteSum.msPerPicture : 0,
                perSiteSum.browserCpuMs > 0 ? sharedSum.browserCpuMs / perSiteSum.browserCpuMs : 0);
    return 0;
}
