#include "app/control_requests.h"

#include "app/program_core.h"
#include "catalogue/refresh_run.h"
#include "webserver/web_server_controller.h"

#include <QTimer>

namespace app {

namespace {

QByteArray accepted(const QString& text) {
    return QByteArray(AcceptedAnswer) + text.toUtf8() + '\n';
}

QString statusText(const ProgramCore& core) {
    QStringList lines;
    const QString statusLine = core.statusLine().trimmed();
    lines << (statusLine.isEmpty() ? QStringLiteral("Status: -")
                                   : QStringLiteral("Status: ") + statusLine);
    const catalogue::RefreshRun& run = core.Run();
    if (run.runInProgress()) {
        QString progress = QStringLiteral("Refreshing: %1 of %2 favourites")
                               .arg(run.sitesFetched())
                               .arg(run.sitesTotal());
        if (run.cancelRequested())
            progress += QStringLiteral(" (cancelling)");
        lines << progress;
    } else {
        lines << QStringLiteral("No refresh is running");
    }
    if (core.HttpServer1->isListening())
        lines << QStringLiteral("Pages: http://localhost:%1/")
                     .arg(core.HttpServer1->lastStartedPort());
    else
        lines << QStringLiteral("Pages: the web server is stopped");
    return lines.join(QLatin1Char('\n'));
}

} // namespace

QByteArray answerControlRequest(ProgramCore& core, const QByteArray& request,
                                const std::function<bool()>& showWindow) {
    const bool running = core.Run().runInProgress();
    if (request == RefreshRequest) {
        if (running)
            return accepted(QStringLiteral("A refresh is already running"));
        // The same as "Manually Refresh" of the tray menu.
        QTimer::singleShot(0, &core, &ProgramCore::Button2Click);
        return accepted(QStringLiteral("Refresh started"));
    }
    if (request == CancelRequest) {
        if (!running)
            return accepted(QStringLiteral("No refresh is running"));
        QTimer::singleShot(0, &core, &ProgramCore::Button3Click);
        return accepted(QStringLiteral("Cancelling the refresh"));
    }
    if (request == QuitRequest) {
        // The close path of "&Shutdown Pagorama": a run is cancelled and the
        // settings are saved before the program ends.
        QTimer::singleShot(0, &core, &ProgramCore::Close1Click);
        return accepted(QStringLiteral("Pagorama is shutting down"));
    }
    if (request == StatusRequest)
        return accepted(statusText(core));
    if (request == ShowRequest)
        return accepted(showWindow() ? QStringLiteral("Showing the configuration window")
                                     : QStringLiteral("Pagorama runs without a display and "
                                                      "has no window to show"));
    return {};
}

} // namespace app
