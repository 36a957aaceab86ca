// Runs the site worker over 500 favourites that point at the local test site,
// the way a refresh run does (one worker thread per favourite, the main
// thread waiting with events flowing), then sends exactly the requests the
// worker sent through a plain loop of blocking sockets, and prints both in
// milliseconds per favourite and their ratio.
#include "catalogue/run_trace.h"
#include "catalogue/site_probe.h"
#include "catalogue/site_worker.h"
#include "platform/settings_model.h"
#include "platform/urlcache.h"
#include "support/temp_home.h"
#include "support/test_site.h"

#include <QElapsedTimer>
#include <QGuiApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

namespace {

constexpr int favourites = 500;

// One request on a blocking socket, read to the close.
void plainRequest(quint16 port, const QByteArray& method, const QByteArray& path) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const QByteArray text = method + " " + path +
                                " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n"
                                "Connection: close\r\n\r\n";
        ::send(fd, text.constData(), text.size(), MSG_NOSIGNAL);
        char buffer[16384];
        while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
    }
    ::close(fd);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    testsupport::TempHome home;
    testsupport::TestSite site;

    // A mix like a real Favorites folder: pages, a redirect, a missing page.
    const QStringList targets = {"/title", "/redirect/302", "/status/404", "/type/html"};
    for (int i = 0; i < favourites; ++i)
        home.write(QStringLiteral("Favorites/Site %1.url").arg(i, 3, 10, QLatin1Char('0')),
                   "[InternetShortcut]\r\nURL=" + site.url(targets[i % targets.size()]).toUtf8() +
                       "\r\n");

    platform::SettingsModel settings;
    settings.evenFileName = 1;
    settings.newOnly = false;
    settings.showCode = true;
    catalogue::RunTrace trace;
    catalogue::SiteWorker worker(settings, trace, home.dataFolder(), {}, {});
    worker.setUrlCache(std::make_shared<platform::UrlCache>());

    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < favourites; ++i) {
        QByteArray link;
        worker.FetchSiteInfo(home.favorites() + "/",
                             QStringLiteral("Site %1.url").arg(i, 3, 10, QLatin1Char('0')), false,
                             link);
    }
    const double workerMs = clock.nsecsElapsed() / 1e6;

    const QList<testsupport::TestSite::Request> sent = site.requests();
    clock.restart();
    for (const testsupport::TestSite::Request& request : sent)
        plainRequest(site.port(), request.method, request.path);
    const double plainMs = clock.nsecsElapsed() / 1e6;

    // The probe's own client alone, on the main thread, asking what the
    // worker asks (no thread, no picture files).
    site.clearLog();
    clock.restart();
    for (int i = 0; i < favourites; ++i) {
        catalogue::SiteProbe probe;
        QString url = site.url(targets[i % targets.size()]);
        probe.FetchStatus(url, false);
        probe.ResolveRedirects(url);
        if (catalogue::IsReachableCode(probe.FetchStatus(url, false)) && probe.IsPageOrPicture(url))
            probe.PageTitle(url);
    }
    const double probeMs = clock.nsecsElapsed() / 1e6;
    const qsizetype probeRequests = site.requests().size();

    std::printf("favourites: %d, requests: %lld (%.1f per favourite)\n", favourites,
                static_cast<long long>(sent.size()), double(sent.size()) / favourites);
    std::printf("site worker:    %8.3f ms per favourite (probe, pictures, thread start and wait)\n",
                workerMs / favourites);
    std::printf("plain sockets:  %8.3f ms per favourite (the same requests only)\n",
                plainMs / favourites);
    std::printf("probe only:     %8.3f ms per favourite (main thread, %lld requests)\n",
                probeMs / favourites, static_cast<long long>(probeRequests));
    std::printf("ratio worker / plain: %.2f\n", workerMs / plainMs);
    std::printf("ratio probe / plain:  %.2f\n", probeMs / plainMs);
    return 0;
}
