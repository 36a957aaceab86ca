#include "app/program_core.h"

#include "app/background_picture.h"
#include "app/browser_integration.h"
#include "app/headless_view.h"
#include "app/product_page.h"
#include "app/program_refresh_host.h"
#include "app/resources_init.h"
#include "app/status_text.h"
#include "catalogue/date_number.h"
#include "catalogue/page_renderer.h"
#include "catalogue/refresh_run.h"
#include "catalogue/site_worker.h"
#include "history/history_analyser.h"
#include "pages/page_writer.h"
#include "platform/file_replace.h"
#include "platform/folder_monitor.h"
#include "platform/message_service.h"
#include "platform/paths.h"
#include "webserver/server_log.h"
#include "webserver/web_server_controller.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>

#include <cstdlib>
#include <ctime>

namespace app {

namespace {

const QString ErrorCaption = QStringLiteral("Pagora");

} // namespace

ProgramCore::ProgramCore(Options options, QObject* parent) : QObject(parent), options_(options) {
    setObjectName(QStringLiteral("ProgramCore"));
    auto* headless = new HeadlessView;
    headless->close = [this] { return closeProgram(); };
    headlessView_.reset(headless);
    view_ = headless;

    initResources();
    IniFileName = platform::settingsFilePath();
    LogFileName = platform::serverLogFilePath();
    CloseRequested = false;
    createParts();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(TimerIntervalMs);
    connect(Timer1, &QTimer::timeout, this, &ProgramCore::Timer1Timer);
    Timer1->start();

    FolderMonitor1 = new platform::FolderMonitor(this);
    FolderMonitor1->setObjectName(QStringLiteral("FolderMonitor1"));
    connect(FolderMonitor1, &platform::FolderMonitor::change, this,
            &ProgramCore::FolderMonitor1Change);
    FolderMonitor1->setIgnored(
        [this](const QString& path) { return OwnFavouriteChanges.isOwn(path); });
    FolderMonitor1->setFolder(platform::favoritesFolder());
    FolderMonitor1->setActive(true);

    const QString dataFolder = platform::dataFolder();
    QDir().mkpath(dataFolder);
    removeLeftovers(dataFolder);
    QString error;
    if (!ensureDefaultBackground(dataFolder, &error))
        writeLineToStderr(QStringLiteral("Unable to write the default background: ") + error);

    // The first showing's start-up work runs as soon as the event loop
    // starts, whether or not a window is ever shown.
    QTimer::singleShot(0, this, &ProgramCore::FormShow);
}

ProgramCore::~ProgramCore() = default;

void ProgramCore::setView(ProgramView* view) {
    view_ = view ? view : headlessView_.get();
}

catalogue::RefreshHost& ProgramCore::RunHost() const {
    return *runHost_;
}

webserver::ServerLog& ProgramCore::serverLog() const {
    return HttpServer1->log();
}

// What an earlier copy of the program that ended abruptly may have left:
// temporary files of writes it did not finish, and browser profiles.
void ProgramCore::removeLeftovers(const QString& dataFolder) {
    for (const QString& folder :
         {dataFolder, dataFolder + QStringLiteral("images"),
          dataFolder + QStringLiteral("images/history"), platform::programFolder()})
        platform::removeStaleTemporaryFiles(folder);
    catalogue::PageRenderer::removeStaleProfiles();
}

void ProgramCore::ReadSettings() {
    const QRect screen = QGuiApplication::primaryScreen()
                             ? QGuiApplication::primaryScreen()->geometry()
                             : QRect(0, 0, 1024, 768);
    const QRect frame = view_->windowFrame();
    Settings.read(IniFileName, screen.width(), screen.height(), frame.width(), frame.height());
    // The server takes its settings from the model whether or not controls
    // show them.
    HttpServer1->setDisplayHeader(Settings.displayHeader);
    if (Settings.shareOnNetwork != HttpServer1->shareOnNetwork())
        HttpServer1->setShareOnNetwork(Settings.shareOnNetwork);
    view_->showSettings();
    view_->placeWindow(Settings.left, Settings.top);
}

bool ProgramCore::WriteSettings() {
    const QRect frame = view_->windowFrame();
    Settings.top = frame.top();
    Settings.left = frame.left();
    Settings.width = frame.width();
    Settings.height = frame.height();
    // A close during a run saves the counter of the pictures the pages on
    // disk show, not the one of the unfinished run.
    const int runCounter = Settings.evenFileName;
    Settings.evenFileName = run_->committedEvenFileName();
    QString error;
    const bool written = Settings.write(IniFileName, &error);
    Settings.evenFileName = runCounter;
    if (written)
        return true;
    platform::showMessage(error, ErrorCaption, platform::MessageKind::Error);
    return false;
}

void ProgramCore::FormShow() {
    std::srand(unsigned(std::time(nullptr)));
    if (Initialised)
        return;
    Initialised = true;
    ReadSettings();
    if (Settings.logToFile)
        OpenServerLogAtStart();
    view_->clearServerDisplays();
    WriteStartupBanner();
    if (options_.serveAtStart)
        StartWebServerAtStart();
    WriteSupportPagesAtStart();
    TakeOverStartPage();
    if (Settings.startup)
        QCoreApplication::postEvent(this, new QEvent(StartRefreshMessage));
    view_->statusChanged();
    view_->startedUp();
}

void ProgramCore::customEvent(QEvent* event) {
    if (event->type() == StartRefreshMessage) {
        emit startRefreshMessageHandled();
        Button2Click();
        return;
    }
    QObject::customEvent(event);
}

void ProgramCore::FormCloseQuery() {
    if (!Settings.autoStart || CloseRequested) {
        // The program ends: the site fetch in progress is cut short rather
        // than waited for (its time-outs may add up to minutes), and no run
        // starts any more.
        Ending = true;
        siteWorker_->abandonFetch();
        Button3Click();
    }
}

bool ProgramCore::FormClose() {
    // A settings file that cannot be written has shown its error box; the
    // close still goes on, so the user can always end the program.
    WriteSettings();
    if (Settings.autoStart && !CloseRequested)
        return false;
    CloseServerLogAtEnd();
    UpdateAutostartEntry();
    return true;
}

bool ProgramCore::closeProgram() {
    FormCloseQuery();
    if (!FormClose())
        return false;
    emit quitRequested();
    return true;
}

void ProgramCore::Close1Click() {
    CloseRequested = true;
    view_->closeWindow();
}

void ProgramCore::Button3Click() {
    // Sets CancelRequested, turns a red light yellow and waits for the site
    // fetch in progress while events keep flowing.
    run_->requestCancel();
    view_->statusChanged();
}

void ProgramCore::Instructions1Click() {
    // The browser named by the ".htm" file type opens the product page.
    try {
        OpenInDefaultBrowser(productPageUrl().toString(QUrl::FullyEncoded));
    } catch (const IntegrationError& error) {
        platform::showMessage(QString::fromUtf8(error.what()), ErrorCaption,
                              platform::MessageKind::Error);
    }
}

bool ProgramCore::LoadBackgroundPicture(const QString& path) {
    QString error;
    if (installBackgroundPicture(path, platform::dataFolder(), &error))
        return true;
    platform::showMessage(error, ErrorCaption, platform::MessageKind::Error);
    return false;
}

void ProgramCore::Timer1Timer() {
    if (run_->favouritesChanged())
        Button2Click();
    if (Schedule.tick(Settings.timeRefresh, Settings.interval))
        Button2Click();
    view_->statusChanged();
}

void ProgramCore::FolderMonitor1Change() {
    // The program's own shortcut writes never arrive here (see setIgnored).
    if (Settings.autorefresh)
        run_->setFavouritesChanged(true);
}

QString ProgramCore::StatusText(TrayIconKind kind) const {
    if (kind == TrayIconKind::Still)
        return idleStatusText(Settings.timeRefresh, Schedule.minutesLeft(Settings.interval));
    RunProgress progress;
    if (analysingHistory_) {
        progress.sitesTotal = historyAnalyser_->sitesTotal();
        progress.sitesFetched = historyAnalyser_->sitesFetched();
        progress.runStartTime = historyAnalyser_->runStartTime();
    } else {
        progress.sitesTotal = run_->sitesTotal();
        progress.sitesFetched = run_->sitesFetched();
        progress.runStartTime = run_->runStartTime();
    }
    progress.cancelRequested = run_->cancelRequested();
    return busyStatusText(progress, catalogue::DateTimeNumber(QDateTime::currentDateTime()));
}

void ProgramCore::ShowStatusLine(const QString& text) {
    statusLine_ = text;
    view_->showStatusLine(text);
}

void ProgramCore::SetRefreshControlsEnabled(bool enabled) {
    view_->setRefreshEnabled(enabled);
    if (enabled)
        Timer1->start();
    else
        Timer1->stop();
}

} // namespace app
