// The overview page for 10,000 favourites in 100 folders: its transform by
// the program's engine beside xsltproc on the same stylesheet and catalogue,
// its load time in headless Chromium from the real program beside a bare
// test server, and the time from a key press in the search box to the
// updated grid.
#include "catalogue/catalogue_writer.h"
#include "catalogue/picture_copy.h"
#include "pages/builtin_texts.h"
#include "pages/headless_browser.h"
#include "pages/xslt_engine.h"
#include "support/free_port.h"
#include "support/http_test_client.h"
#include "support/static_server.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int folderCount = 100;
constexpr int linksPerFolder = 100;
constexpr int rounds = 5;

QString location(int folder) {
    return folder == 0 ? QString() : QString("Topic %1\\Sub %2").arg(folder / 10).arg(folder);
}

QByteArray bigCatalogue() {
    catalogue::CatalogueText text;
    text.startListings(377735000, false);
    int picture = 0;
    for (int f = 0; f < folderCount; ++f) {
        text.openFolder(location(f));
        for (int l = 0; l < linksPerFolder; ++l) {
            const QString name = QString("Site %1-%2 & friends").arg(f).arg(l);
            const QByteArray url =
                QString("http://site%1-%2.example.invalid/index.html").arg(f).arg(l).toUtf8();
            // One in twenty did not answer the last time.
            const int code = l % 20 == 7 ? 404 : l % 20 == 13 ? -1 : 200;
            text.addLine(
                catalogue::LinkHeadPieces("/home/user/Favorites/" + location(f).replace('\\', '/') +
                                              '/' + name + ".url",
                                          l, name) +
                catalogue::PreCodePiece(200) + catalogue::PropertyPiece("PID_IS_URL", url) +
                catalogue::VisitsPiece(l) + catalogue::CodePiece(code) +
                catalogue::GivenTitlePiece("Title of " + name.toUtf8()) +
                catalogue::ImagePiece("images\\" + QByteArray::number(++picture) + ".BMP") +
                catalogue::LinkEnd());
        }
        text.closeFolder();
    }
    text.finish();
    return text.text();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double msSince(const QElapsedTimer& timer) {
    return timer.nsecsElapsed() / 1e6;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
}

void timeTransforms(const QString& data, const QByteArray& catalogueText, QByteArray* page) {
    const QByteArray sheetText = pages::builtinText(pages::BuiltinText::Overview);
    std::vector<double> transformOnly, whole;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        const pages::CatalogueDocument catalogue(catalogueText, "listings.xml");
        const pages::Stylesheet sheet(sheetText, "overview.xsl");
        QElapsedTimer transformTimer;
        transformTimer.start();
        *page = pages::transform(catalogue, sheet, {}, {false, "80"});
        transformOnly.push_back(msSince(transformTimer));
        whole.push_back(msSince(timer));
    }
    std::printf("page: %.1f MB\n", page->size() / 1e6);
    std::printf("ours: transform %.0f ms, with parsing both documents %.0f ms (median of %d)\n",
                median(transformOnly), median(whole), rounds);

    const QString xsltproc = QStandardPaths::findExecutable("xsltproc");
    if (xsltproc.isEmpty()) {
        std::printf("xsltproc: not installed, no comparison\n");
        return;
    }
    std::vector<double> theirs;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        QProcess process;
        process.start(xsltproc,
                      {"-o", data + "xsltproc.htm", data + "overview.xsl", data + "listings.xml"});
        if (!process.waitForFinished(-1) || process.exitCode() != 0) {
            std::fprintf(stderr, "xsltproc failed\n");
            std::exit(1);
        }
        theirs.push_back(msSince(timer));
    }
    std::printf("xsltproc: %.0f ms for the whole process (parsing, transform, writing; median of "
                "%d); ratio xsltproc / ours (with parsing) %.2f\n",
                median(theirs), rounds, median(theirs) / median(whole));
}

// The page's own timing of its load (the median is returned) and, with
// `timeKeys`, of key presses in its search box: each from the key's keydown
// to the grid's style and layout being done. `pictures` counts the pictures
// requested so far.
double timeInBrowser(const QString& address, const char* from, const std::function<int()>& pictures,
                     bool timeKeys) {
    std::vector<double> loads, ready, received, interactive;
    const int picturesBefore = pictures();
    for (int i = 0; i < 3; ++i) {
        pagetest::HeadlessBrowser browser; // a 1024 x 768 window
        if (!browser.open(address) ||
            !browser.waitFor("location.pathname == '/overview.htm' && "
                             "document.readyState == 'complete' && "
                             "performance.getEntriesByType('navigation')[0].loadEventEnd > 0",
                             120000)) {
            std::fprintf(stderr, "the browser did not load the page\n");
            std::exit(1);
        }
        const QJsonValue load =
            browser.evaluate("performance.getEntriesByType('navigation')[0].loadEventEnd");
        const QJsonValue content = browser.evaluate(
            "performance.getEntriesByType('navigation')[0].domContentLoadedEventEnd");
        received.push_back(
            browser.evaluate("performance.getEntriesByType('navigation')[0].responseEnd")
                .toDouble());
        interactive.push_back(
            browser.evaluate("performance.getEntriesByType('navigation')[0].domInteractive")
                .toDouble());
        loads.push_back(load.toDouble());
        ready.push_back(content.toDouble());
        if (i < 2)
            continue;

        std::printf("chromium, %s: page received %.0f ms, parsed %.0f ms, ready "
                    "(DOMContentLoaded, script done) %.0f ms, loaded %.0f ms (median of 3 fresh "
                    "browsers, 1024 x 768, %d pictures requested each)\n",
                    from, median(received), median(interactive), median(ready), median(loads),
                    (pictures() - picturesBefore) / 3);
        if (!timeKeys)
            return median(loads);
        const QString count = "document.querySelectorAll('ul.grid > li:not([hidden])').length";

        browser.evaluate(
            "(() => { const box = document.getElementById('search');"
            " window.keyTimes = [];"
            " box.addEventListener('keydown', () => { window.keyStart = performance.now(); });"
            " window.frameTimes = [];"
            " box.addEventListener('input', () => { void document.documentElement.offsetHeight;"
            "   window.keyTimes.push(performance.now() - window.keyStart);"
            "   const start = window.keyStart;"
            "   requestAnimationFrame(() => setTimeout(() =>"
            "     window.frameTimes.push(performance.now() - start))); });"
            " box.focus(); return true; })()");
        const QStringList keys = {"s",         "i",         "t",         "e",         " ",
                                  "4",         "2",         "-",         "7",         "Backspace",
                                  "Backspace", "Backspace", "Backspace", "Backspace", "Backspace",
                                  "Backspace", "Backspace", "Backspace"};
        std::printf("key presses (ms from keydown to the updated grid's layout, and to the "
                    "next frame drawn; shown favourites):\n");
        for (const QString& key : keys) {
            const int pressed = browser.evaluate("window.frameTimes.length").toInt() + 1;
            browser.pressKey(key);
            browser.waitFor(QString("window.frameTimes.length == %1").arg(pressed), 10000);
            const double ms =
                browser.evaluate("window.keyTimes[window.keyTimes.length - 1]").toDouble();
            const double frame =
                browser.evaluate("window.frameTimes[window.frameTimes.length - 1]").toDouble();
            std::printf(
                "  %-9s %6.1f ms %6.1f ms %5d shown for \"%s\"\n",
                qPrintable(key == " " ? "space" : key), ms, frame, browser.evaluate(count).toInt(),
                qPrintable(browser.evaluate("document.getElementById('search').value").toString()));
        }
        for (const char* series : {"keyTimes", "frameTimes"}) {
            const QJsonArray times = browser.evaluate(QString("window.") + series).toArray();
            std::vector<double> all;
            for (const QJsonValue& t : times)
                all.push_back(t.toDouble());
            std::printf("key press to updated grid (%s): median %.1f ms, worst %.1f ms over %zu "
                        "keys\n",
                        series == QLatin1String("keyTimes") ? "layout" : "next frame", median(all),
                        *std::max_element(all.begin(), all.end()), all.size());
        }
    }
    return median(loads);
}

// The real program, as a user starts it without a display, serving the data
// folder it finds (no refresh at start, so the prepared pages stay).
class ServingProgram {
public:
    explicit ServingProgram(const QString& home) : port_(testsupport::freePort()) {
        QDir().mkpath(home + "/.config/pagorama");
        writeFile(home + "/.config/pagorama/pagorama.ini",
                  "[Data]\r\nPort=" + QByteArray::number(port_) +
                      "\r\nLogToFile=1\r\n[General]\r\nStartup=0\r\nHistory=0\r\nAutoStart=0\r\n");
        QDir().mkpath(home + "/Favorites");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("XDG_CONFIG_HOME", home + "/.config");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        process_.start(QStringLiteral(PAGORAMA_BINARY_DIR "/pagorama"), {});
        for (int i = 0; i < 100 && !answers(); ++i)
            QThread::msleep(100);
        if (!answers()) {
            std::fprintf(stderr, "the program does not serve on port %d\n", port_);
            std::exit(1);
        }
        log_ = home + "/.config/pagorama/pagorama.log";
    }
    ~ServingProgram() {
        process_.terminate();
        process_.waitForFinished(20000);
    }
    QString address(const QString& page) const {
        return QString("http://localhost:%1/%2").arg(port_).arg(page);
    }
    // Pictures asked for, as the program's log records them.
    int pictureRequests() const {
        QFile log(log_);
        return log.open(QIODevice::ReadOnly) ? int(log.readAll().count(".png")) : 0;
    }

private:
    bool answers() const {
        return testsupport::fetch(port_, "GET /overview.htm HTTP/1.0\r\n\r\n")
            .statusLine.contains(" 200");
    }
    quint16 port_;
    QProcess process_;
    QString log_;
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir home;
    const QString data = home.path() + "/Documents/pagorama/";
    QDir().mkpath(data + "images");

    const QByteArray text = bigCatalogue();
    writeFile(data + "listings.xml", text);
    writeFile(data + "overview.xsl", pages::builtinText(pages::BuiltinText::Overview));
    std::printf("catalogue: %d favourites in %d folders, %.1f MB\n", folderCount * linksPerFolder,
                folderCount, text.size() / 1e6);

    QByteArray page;
    timeTransforms(data, text, &page);
    writeFile(data + "overview.htm", page);

    // A compressed copy for every favourite, as a run leaves them.
    QImage picture(122, 91, QImage::Format_RGB32);
    picture.fill(qRgb(30, 120, 200));
    const QByteArray png = catalogue::EncodePngCopy(picture);
    for (int i = 1; i <= folderCount * linksPerFolder; ++i)
        writeFile(data + QString("images/%1.png").arg(i), png);
    double bare = 0;
    {
        testsupport::StaticServer server(data, "overview.htm");
        bare = timeInBrowser(
            QString("http://127.0.0.1:%1/overview.htm").arg(server.port()),
            "from a bare test server", [&] { return int(server.requests().filter(".png").size()); },
            false);
    }
    const ServingProgram program(home.path());
    const double served = timeInBrowser(
        program.address("overview.htm"), "from the program",
        [&] { return program.pictureRequests(); }, true);
    std::printf("loaded from the program / from a bare test server: %.2f\n", served / bare);
    return 0;
}
