#pragma once
// ProgramCore: the running program without its window. It owns and wires the
// long-lived parts (the web server and its controller, the refresh run with
// its site worker and page renderer, the page writer, the folder monitor,
// the timer, the history analyser and the edit forms), holds the settings,
// and carries out the program's steps: start-up, refresh, close. What the
// user sees goes through the ProgramView it is given.
#include "app/program_view.h"
#include "app/refresh_schedule.h"
#include "platform/own_changes.h"
#include "platform/settings_model.h"

#include <QEvent>
#include <QObject>
#include <QTimer>

#include <memory>

namespace catalogue {
class PageRenderer;
class RefreshRun;
class SiteWorker;
} // namespace catalogue
namespace history {
class HistoryAnalyser;
}
namespace pages {
class PageWriter;
}
namespace platform {
class FolderMonitor;
}
namespace webserver {
class EditPostHandler;
class ServerLog;
class WebServerController;
} // namespace webserver

namespace app {

class ProgramRefreshHost;

class ProgramCore : public QObject {
    Q_OBJECT
public:
    // The private start message: a refresh run begins when it is delivered.
    static constexpr QEvent::Type StartRefreshMessage = QEvent::Type(QEvent::User + 25);

    struct Options {
        bool desktop = false; // a display is present: tray and windows may be shown
        // Off: start-up leaves the web server stopped (for tests that need
        // no server and so bind no port).
        bool serveAtStart = true;
    };

    explicit ProgramCore(Options options, QObject* parent = nullptr);
    ~ProgramCore() override;

    // The view in use (not owned); nullptr restores the stderr-writing one.
    void setView(ProgramView* view);
    ProgramView& view() const { return *view_; }
    bool desktop() const { return options_.desktop; }

    // The one settings model; the window's controls show and edit it.
    platform::SettingsModel Settings;
    // Paths computed at creation.
    QString IniFileName, LogFileName;

    // Start-up and close state. The run's own state (CancelRequested,
    // FavouritesChanged, progress) lives in the refresh run.
    bool Initialised = false;
    bool CloseRequested = false;
    bool Ending = false; // a close that ends the program is under way

    // Components.
    QTimer* Timer1 = nullptr;
    platform::FolderMonitor* FolderMonitor1 = nullptr;
    webserver::WebServerController* HttpServer1 = nullptr;
    webserver::EditPostHandler* EditPosts = nullptr; // the edit and history forms
    catalogue::RefreshRun& Run() const { return *run_; }
    catalogue::SiteWorker& SiteWorker1() const { return *siteWorker_; }
    catalogue::RefreshHost& RunHost() const;
    webserver::ServerLog& serverLog() const;

    // The timer's tick counter and the timed refresh rule.
    RefreshSchedule Schedule;
    // The shortcut files the program itself writes into the Favorites tree
    // (and removes again): the folder monitor passes over their notices.
    platform::OwnChanges OwnFavouriteChanges;
    platform::NoteOwnChange noteOwnFavouriteChange() {
        return [this](const QString& path) { OwnFavouriteChanges.note(path); };
    }

    // Settings: file → model (→ controls through the view), and model → file.
    void ReadSettings();
    bool WriteSettings(); // false (after its error box) when the file could not be written

    // The first showing's start-up work, once.
    void FormShow();
    // Close rules. FormClose returns true when the program ends.
    void FormCloseQuery();
    bool FormClose();
    // Both rules in turn; true (after quitRequested) when the program ends.
    bool closeProgram();
    void Close1Click(); // a close that always ends the program

    // Program steps.
    void OpenServerLogAtStart();
    void WriteStartupBanner();
    void StartWebServerAtStart();
    void WriteSupportPagesAtStart();
    void TakeOverStartPage();
    void Button2Click(); // start a refresh run
    void Button3Click(); // cancel the refresh run
    // With the "ImportBookmarks" setting: the browser's bookmarks that no
    // earlier import has seen become favourites before the run.
    void ImportNewBookmarksBeforeRun();
    void StartButtonClick();
    void StopButtonClick();
    void Timer1Timer();
    void FolderMonitor1Change();
    void Instructions1Click();
    bool LoadBackgroundPicture(const QString& path); // the work after the picture dialog
    void CloseServerLogAtEnd();
    void UpdateAutostartEntry();

    // The settings the server takes at once.
    void setDisplayHeader(bool on);
    void setShareOnNetwork(bool on);
    // Opens or closes the log file; returns whether it is open now.
    bool setWriteLogFile(bool on);
    void clearServerLog();

    // Status: the tray's status message and the status line.
    QString StatusText(TrayIconKind kind) const;
    void ShowStatus() { view_->showTrayStatus(); }
    void ShowStatusLine(const QString& text);
    QString statusLine() const { return statusLine_; }
    // Shows the picture named by a Link's IMAGE piece beside the status line.
    void ShowPicturePreview(const QByteArray& link);
    // What a run does to the indicators: the animated icon in place of the
    // still one, and Button2 with Timer1 off for the run's duration.
    void SetRefreshControlsEnabled(bool enabled);
    bool analysingHistory() const { return analysingHistory_; }

signals:
    // The program is ending: the caller leaves the event loop.
    void quitRequested();
    // The private start message was delivered (before Button2Click runs).
    void startRefreshMessageHandled();

protected:
    void customEvent(QEvent* event) override;

private:
    friend class ProgramRefreshHost;
    void createParts(); // the server, page writer, renderer, worker and refresh run
    void removeLeftovers(const QString& dataFolder);

    Options options_;
    std::unique_ptr<ProgramView> headlessView_;
    ProgramView* view_ = nullptr;
    QString statusLine_;
    bool analysingHistory_ = false; // the tray status follows the analysis meanwhile
    std::unique_ptr<pages::PageWriter> pageWriter_;
    std::unique_ptr<catalogue::PageRenderer> renderer_;
    std::unique_ptr<ProgramRefreshHost> runHost_;
    std::unique_ptr<catalogue::RefreshRun> run_;
    std::unique_ptr<catalogue::SiteWorker> siteWorker_;
    std::unique_ptr<history::HistoryAnalyser> historyAnalyser_;
};

} // namespace app
