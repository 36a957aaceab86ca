// The core's steps that reach the other parts of the program: the web
// server and its log, the page writer, and the refresh run with its site
// worker and page renderer.
#include "app/browser_integration.h"
#include "app/program_core.h"
#include "app/program_refresh_host.h"
#include "bookmarks/import_record.h"
#include "catalogue/page_renderer.h"
#include "catalogue/refresh_run.h"
#include "catalogue/shortcut_file.h"
#include "catalogue/site_probe.h"
#include "catalogue/site_worker.h"
#include "history/history_analyser.h"
#include "pages/page_writer.h"
#include "platform/autostart.h"
#include "platform/message_service.h"
#include "platform/paths.h"
#include "webserver/edit_post_handler.h"
#include "webserver/server_log.h"
#include "webserver/web_server_controller.h"

#include <QImage>

namespace app {

void ProgramCore::createParts() {
    HttpServer1 = new webserver::WebServerController(this, LogFileName);
    HttpServer1->setObjectName(QStringLiteral("HttpServer1"));
    connect(HttpServer1, &webserver::WebServerController::listeningChanged, this,
            [this](bool listening) { view_->showServerListening(listening); });
    connect(HttpServer1, &webserver::WebServerController::clientCountChanged, this,
            [this](int count) { view_->showClientCount(count); });

    // Local links in the pages point at the port the server was last started on.
    pageWriter_ = std::make_unique<pages::PageWriter>(
        Settings, [this] { return HttpServer1->lastStartedPort(); });
    pageWriter_->setAdditionFailureReport([this](const QString& text) { ShowStatusLine(text); });

    renderer_ = std::make_unique<catalogue::PageRenderer>();
    renderer_->setProbeTrust([this] { return Settings.secureSites; });
    runHost_ = std::make_unique<ProgramRefreshHost>(*this);
    run_ = std::make_unique<catalogue::RefreshRun>(*runHost_, Settings);
    siteWorker_ = std::make_unique<catalogue::SiteWorker>(
        Settings, run_->trace(), platform::dataFolder(), [this] { ShowStatus(); },
        noteOwnFavouriteChange(), renderer_.get());
    run_->setSiteFetcher(siteWorker_.get(), [this] { return siteWorker_->fetchRunning(); });

    historyAnalyser_ = std::make_unique<history::HistoryAnalyser>(
        *runHost_, Settings, *siteWorker_,
        history::HistoryAnalyserHooks{
            [this] { return run_->cancelRequested(); }, noteOwnFavouriteChange(),
            [this](const QByteArray& text) { pageWriter_->writeHistoryPage(text); }});

    // The favourites editor and the history page post their forms here.
    EditPosts = new webserver::EditPostHandler(*HttpServer1, platform::favoritesFolder(),
                                               noteOwnFavouriteChange(), this);
    // "Add to favourites" reads titles as the refresh run does, secure sites included.
    EditPosts->setTitleFetcher([this](const QString& url) {
        return catalogue::SiteProbe(nullptr, Settings.secureSites).PageTitle(url);
    });
}

void ProgramCore::ShowPicturePreview(const QByteArray& link) {
    static const QByteArray marker = "IMAGE =\"";
    const qsizetype start = link.lastIndexOf(marker);
    if (start < 0)
        return;
    const qsizetype from = start + marker.size();
    const qsizetype end = link.indexOf('"', from);
    if (end < 0)
        return;
    const QString relative =
        platform::fromBackslashForm(QString::fromUtf8(link.mid(from, end - from)));
    const QImage picture(platform::dataFolder() + relative);
    if (!picture.isNull())
        view_->showPicturePreview(picture);
}

void ProgramCore::OpenServerLogAtStart() {
    HttpServer1->log().openLogFile();
    Settings.logToFile = HttpServer1->log().isOpen();
    view_->showSettings();
}

void ProgramCore::WriteStartupBanner() {
    HttpServer1->writeBanner();
}

void ProgramCore::StartWebServerAtStart() {
    StartButtonClick();
}

void ProgramCore::WriteSupportPagesAtStart() {
    // A page that cannot be written ends this start-up step only; the
    // error is shown like any other and the rest of the start-up goes on.
    try {
        pageWriter_->writeSupportPages();
        pageWriter_->writeMissingOverview();
    } catch (const std::exception& error) {
        platform::showMessage(QString::fromUtf8(error.what()), QStringLiteral("Pagora"),
                              platform::MessageKind::Error);
    }
}

void ProgramCore::TakeOverStartPage() {
    // Only when the registry store holds the browser's Main key, which
    // nothing on Linux creates. A failure is shown and start-up goes on.
    const platform::NoteOwnChange noteOwnChange = noteOwnFavouriteChange();
    const auto writeUrlFile = [&noteOwnChange](const QString& fileName, const QString& url) {
        return catalogue::WriteUrlFile(fileName, url, noteOwnChange);
    };
    try {
        app::TakeOverStartPage(HttpServer1->lastStartedPort(), platform::favoritesFolder(),
                               writeUrlFile);
    } catch (const IntegrationError& error) {
        platform::showMessage(QString::fromUtf8(error.what()), QStringLiteral("Pagora"),
                              platform::MessageKind::Error);
    }
}

void ProgramCore::Button2Click() {
    if (run_->runInProgress() || Ending)
        return;
    ImportNewBookmarksBeforeRun();
    siteWorker_->reloadUrlCache();
    run_->Button2Click();
    // One browser serves a whole run; it is started again by the next one.
    renderer_->stop();
}

void ProgramCore::ImportNewBookmarksBeforeRun() {
    const QString source = Settings.importBookmarks.toLower();
    if (source.isEmpty())
        return;
    if (source != QLatin1String("chromium") && source != QLatin1String("firefox") &&
        source != QLatin1String("all")) {
        ShowStatusLine(QStringLiteral("ImportBookmarks must be chromium, firefox or all, not ") +
                       Settings.importBookmarks);
        return;
    }
    // The folder monitor passes over the files the import writes, so they
    // start no run of their own; this run takes them in.
    const bookmarks::ImportResult result =
        bookmarks::importNewBookmarks(source, platform::favoritesFolder(),
                                      bookmarks::importRecordPath(), noteOwnFavouriteChange());
    if (result.summary.imported > 0)
        ShowStatusLine(QStringLiteral("Imported %1 new bookmarks from %2")
                           .arg(result.summary.imported)
                           .arg(source));
    if (!result.ok)
        ShowStatusLine(QStringLiteral("Bookmark import failed: ") + result.error);
}

void ProgramCore::StartButtonClick() {
    HttpServer1->setShareOnNetwork(Settings.shareOnNetwork);
    HttpServer1->start(Settings.port, platform::documentFolder());
    // "Port" is saved from the port last handed to the server, whether or
    // not the server could start on it.
    HttpServer1->saveTo(Settings);
}

void ProgramCore::StopButtonClick() {
    HttpServer1->stop();
}

void ProgramCore::setDisplayHeader(bool on) {
    Settings.displayHeader = on;
    HttpServer1->setDisplayHeader(on);
}

void ProgramCore::setShareOnNetwork(bool on) {
    Settings.shareOnNetwork = on;
    // Takes effect at once: a listening server listens again on the new address.
    if (on != HttpServer1->shareOnNetwork())
        HttpServer1->setShareOnNetwork(on);
}

bool ProgramCore::setWriteLogFile(bool on) {
    Settings.logToFile = HttpServer1->log().setWriteToFile(on);
    return Settings.logToFile;
}

void ProgramCore::clearServerLog() {
    HttpServer1->log().clearDisplay();
}

void ProgramCore::CloseServerLogAtEnd() {
    if (HttpServer1->log().isOpen())
        HttpServer1->log().closeLogFile();
}

void ProgramCore::UpdateAutostartEntry() {
    UpdateAutostart(QStringLiteral("Pagorama"), platform::runningProgramPath(),
                    Settings.autoStart);
}

} // namespace app
