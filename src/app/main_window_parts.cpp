// The window's routines that reach the other parts of the program: the web
// server and its log, the page writer, and the refresh run with its site
// worker and page renderer.
#include "app/browser_integration.h"
#include "app/log_display.h"
#include "app/main_window.h"
#include "app/pagora_application.h"
#include "app/program_refresh_host.h"
#include "app/shown_update.h"
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
#include "platform/registry.h"
#include "webserver/edit_post_handler.h"
#include "webserver/server_log.h"
#include "webserver/web_server_controller.h"

#include <QCheckBox>
#include <QImage>
#include <QPixmap>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace app {

void ProgramRefreshHost::setStatusText(const QString& text) {
    WindowRefreshHost::setStatusText(text);
    if (window_.Run && window_.Run->runInProgress())
        window_.ShowPicturePreview(window_.Run->currentLink());
}

void ProgramRefreshHost::WriteSupportPages(const QByteArray&) {
    // The support pages are made from "listings.xml", which the run has
    // just saved.
    window_.PageWriter1->writeSupportPages();
}

void ProgramRefreshHost::WriteCataloguePages(const QByteArray& catalogueText) {
    window_.PageWriter1->writeCataloguePages(catalogueText);
}

void ProgramRefreshHost::runHistoryAnalysis() {
    window_.AnalysingHistory = true;
    try {
        window_.HistoryAnalyser1->AnalyseHistory();
    } catch (...) {
        window_.AnalysingHistory = false;
        throw; // the refresh run ends its history step on it
    }
    window_.AnalysingHistory = false;
}

void ProgramRefreshHost::clearWorkLists() {
    window_.HistoryAnalyser1->clearWorkLists();
}

void TMain::createParts() {
    HttpServer1 = new webserver::WebServerController(this, LogFileName);
    HttpServer1->setObjectName(QStringLiteral("HttpServer1"));
    connect(HttpServer1, &webserver::WebServerController::listeningChanged, this,
            [this](bool listening) {
                PortEdit->setEnabled(!listening);
                StartButton->setEnabled(!listening);
                StopButton->setEnabled(listening);
            });
    // The count changes twice with every request; the label follows it
    // while it is on screen.
    auto shownCount = std::make_shared<int>(0);
    auto* clientCount = new ShownUpdate(*ClientCountLabel, [this, shownCount] {
        ClientCountLabel->setText(QString::number(*shownCount));
    });
    connect(HttpServer1, &webserver::WebServerController::clientCountChanged, clientCount,
            [clientCount, shownCount](int count) {
                *shownCount = count;
                clientCount->changed();
            });
    new LogDisplay(HttpServer1->log(), *DisplayMemo); // owned by the display
    connect(DisplayHeaderCheckBox, &QCheckBox::toggled, HttpServer1,
            &webserver::WebServerController::setDisplayHeader);
    // Takes effect at once: a listening server listens again on the new address.
    connect(ShareOnNetworkCheckBox, &QCheckBox::toggled, HttpServer1,
            &webserver::WebServerController::setShareOnNetwork);

    // Local links in the pages point at the port the server was last started on.
    PageWriter1 = std::make_unique<pages::PageWriter>(
        Settings, [this] { return HttpServer1->lastStartedPort(); });

    PageRenderer1 = std::make_unique<catalogue::PageRenderer>();
    RunHost = std::make_unique<ProgramRefreshHost>(*this);
    Run = std::make_unique<catalogue::RefreshRun>(*RunHost, Settings);
    SiteWorker1 = std::make_unique<catalogue::SiteWorker>(
        Settings, Run->trace(), platform::dataFolder(), [this] { ShowStatus(); },
        noteOwnFavouriteChange(), PageRenderer1.get());
    Run->setSiteFetcher(SiteWorker1.get(), [this] { return SiteWorker1->fetchRunning(); });

    HistoryAnalyser1 = std::make_unique<history::HistoryAnalyser>(
        *RunHost, Settings, *SiteWorker1,
        history::HistoryAnalyserHooks{
            [this] { return Run->cancelRequested(); },
            [this] { Run->setFavouritesChanged(false); },
            noteOwnFavouriteChange(),
            [this](const QByteArray& text) { PageWriter1->writeHistoryPage(text); }});

    // The favourites editor and the history page post their forms here.
    EditPosts = new webserver::EditPostHandler(*HttpServer1, platform::favoritesFolder(),
                                               noteOwnFavouriteChange(), this);
    // "Add to favourites" reads titles as the refresh run does, secure sites included.
    EditPosts->setTitleFetcher([this](const QString& url) {
        return catalogue::SiteProbe(nullptr, Settings.secureSites).PageTitle(url);
    });
}

void TMain::ShowPicturePreview(const QByteArray& link) {
    static const QByteArray marker = "IMAGE =\"";
    const qsizetype start = link.lastIndexOf(marker);
    if (start < 0)
        return;
    const qsizetype from = start + marker.size();
    const qsizetype end = link.indexOf('"', from);
    if (end < 0)
        return;
    const QString relative = platform::fromBackslashForm(QString::fromUtf8(link.mid(from, end - from)));
    const QImage picture(platform::dataFolder() + relative);
    if (!picture.isNull())
        Image1->setPixmap(QPixmap::fromImage(picture));
}

void TMain::OpenServerLogAtStart() {
    HttpServer1->log().openLogFile();
    WriteLogFileCheckBox->setChecked(HttpServer1->log().isOpen());
}

void TMain::WriteStartupBanner() {
    HttpServer1->writeBanner();
}

void TMain::StartWebServerAtStart() {
    StartButtonClick();
}

void TMain::WriteSupportPagesAtStart() {
    // A page that cannot be written ends this start-up step only; the
    // error is shown like any other and the rest of the start-up goes on.
    try {
        PageWriter1->writeSupportPages();
    } catch (const std::exception& error) {
        platform::showMessage(QString::fromUtf8(error.what()), QStringLiteral("Pagora"),
                              platform::MessageKind::Error);
    }
}

void TMain::TakeOverStartPage() {
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
        reportException(error.what());
    }
}

void TMain::Button2Click() {
    if (Run->runInProgress() || Ending)
        return;
    ImportNewBookmarksBeforeRun();
    SiteWorker1->reloadUrlCache();
    Run->Button2Click();
    // One browser serves a whole run; it is started again by the next one.
    PageRenderer1->stop();
}

void TMain::ImportNewBookmarksBeforeRun() {
    const QString source = Settings.importBookmarks.toLower();
    if (source.isEmpty())
        return;
    if (source != QLatin1String("chromium") && source != QLatin1String("firefox")) {
        ShowStatusLine(QStringLiteral("ImportBookmarks must be chromium or firefox, not ") +
                       Settings.importBookmarks);
        return;
    }
    // The folder monitor passes over the files the import writes, so they
    // start no run of their own; this run takes them in.
    const bookmarks::ImportResult result = bookmarks::importNewBookmarks(
        source, platform::favoritesFolder(),
        platform::programFolder() + QStringLiteral("bookmarks-imported.txt"),
        noteOwnFavouriteChange());
    if (result.summary.imported > 0)
        ShowStatusLine(QStringLiteral("Imported %1 new bookmarks from %2")
                           .arg(result.summary.imported)
                           .arg(source));
    if (!result.ok)
        ShowStatusLine(QStringLiteral("Bookmark import failed: ") + result.error);
}

void TMain::StartButtonClick() {
    HttpServer1->setShareOnNetwork(Settings.shareOnNetwork);
    HttpServer1->start(PortEdit->text(), platform::documentFolder());
    // "Port" is saved from the port last handed to the server, whether or
    // not the server could start on it.
    HttpServer1->saveTo(Settings);
}

void TMain::StopButtonClick() {
    HttpServer1->stop();
}

void TMain::WriteLogFileCheckBoxClick() {
    WriteLogFileCheckBox->setChecked(
        HttpServer1->log().setWriteToFile(WriteLogFileCheckBox->isChecked()));
}

void TMain::ClearButtonClick() {
    HttpServer1->log().clearDisplay();
    DisplayMemo->clear();
}

void TMain::CloseServerLogAtEnd() {
    if (HttpServer1->log().isOpen())
        HttpServer1->log().closeLogFile();
}

void TMain::UpdateAutostartEntry() {
    UpdateAutostart(QStringLiteral("Pagorama"), QCoreApplication::applicationFilePath(),
                    Settings.autoStart);
}

} // namespace app
