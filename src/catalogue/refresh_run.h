#pragma once
// The refresh run: walks the Favorites tree, turns every Internet shortcut
// into a Link record (the site worker adds what it learns of the site),
// orders each folder's records, writes listings.xml and the pages, runs the
// history analysis when enabled, and removes the previous run's pictures.
// Everything runs on the main thread; events keep flowing while it works, so
// cancel requests, the tray and the web server are served in between.
#include "catalogue/catalogue_writer.h"
#include "catalogue/favourite_order.h"
#include "catalogue/refresh_host.h"
#include "catalogue/run_trace.h"
#include "catalogue/site_fetcher.h"
#include "platform/dir_enum.h"
#include "platform/settings_model.h"

#include <QStringList>

#include <functional>

namespace catalogue {

// The browser's "Disable Script Debugger" setting of the current user. The
// key is never created: without it the setting reads as not disabled and
// writing does nothing.
bool ScriptDebuggerDisabled();
void SetScriptDebuggerDisabled(bool on);

class RefreshRun {
public:
    // Reads every option from settings and counts runs in its evenFileName.
    // The run trace is saved as "files.log" in the program folder.
    RefreshRun(RefreshHost& host, platform::SettingsModel& settings);
    // The same with the trace saved at traceFilePath (empty: kept in memory only).
    RefreshRun(RefreshHost& host, platform::SettingsModel& settings, const QString& traceFilePath);
    RefreshRun(const RefreshRun&) = delete;
    RefreshRun& operator=(const RefreshRun&) = delete;

    // The worker that completes each Link (not owned; nullptr: each Link
    // holds its first pieces only). fetchRunning tells whether the worker of
    // the favourite in progress is still running; the cancel request waits
    // on it.
    void setSiteFetcher(SiteFetcher* fetcher, std::function<bool()> fetchRunning = {});

    // One complete run. Ignored while a run is in progress (a start request
    // that arrives while the run handles events). Never lets an error escape.
    void Button2Click();
    // The cancel request: the favourite in progress is abandoned and the run
    // stops. The status light turns from red to yellow, and the call returns
    // once the worker of that favourite has ended, handling events meanwhile.
    void requestCancel();

    // The run's body up to the page writing. True when the catalogue and
    // the pages were written; false when the system is offline or the run
    // was cancelled (nothing is written then). Throws when saving the
    // catalogue or writing a page fails; the indicators are reset either way.
    bool BuildCatalogue();
    // Scan callbacks of the counting and the building pass.
    bool CountFavourite(const QString& folderPath, const platform::DirEntry& entry);
    bool AddFavourite(const QString& folderPath, const platform::DirEntry& entry);

    bool cancelRequested() const { return cancelRequested_; }
    // The run counter as it should be saved: during a run whose catalogue
    // is not saved yet, the previous run's value (the one the pages show).
    int committedEvenFileName() const;
    bool runInProgress() const { return runInProgress_; }
    bool favouritesChanged() const { return favouritesChanged_; }
    void setFavouritesChanged(bool changed) { favouritesChanged_ = changed; }

    int sitesTotal() const { return sitesTotal_; }
    int sitesFetched() const { return sitesFetched_; }
    // Date-time number (days) at which the counting ended.
    double runStartTime() const { return runStartTime_; }

    // The Link under construction, which the worker appends to.
    QByteArray& currentLink() { return currentLink_; }
    const QString& lastFolderPath() const { return lastFolderPath_; }
    const LineList& catalogueLines() const { return catalogue_.lines(); }
    const QList<KeyedLink>& folderLinks() const { return folderLinks_; }
    const MenuOrder& menuOrder() const { return menuOrder_; }
    RunTrace& trace() { return trace_; }

private:
    void runSteps();
    bool buildSteps();
    void reportFailure(const QString& reason);
    // The pictures of a run, and their compressed copies.
    static QStringList pictureMasks(int counter);
    static int lastSavedCounter(int counter);
    void removeUnusedPictures(int counter);
    void completeFolder();
    QString locationOf(const QString& folderPath) const;
    // After a good run: every picture that neither saved catalogue shows.
    void removePicturesNoCatalogueNames();
    void clearWorkLists();

    RefreshHost& host_;
    platform::SettingsModel& settings_;
    SiteFetcher* fetcher_ = nullptr;
    std::function<bool()> fetchRunning_;
    RunTrace trace_;

    bool cancelRequested_ = false;
    bool favouritesChanged_ = false;
    bool runInProgress_ = false;
    bool catalogueSaved_ = false; // this run has replaced listings.xml
    int previousCounter_ = 0;
    int sitesTotal_ = 0;
    int sitesFetched_ = 0;
    int progressPosition_ = 0;
    double runStartTime_ = 0;

    QString favoritesRoot_; // the Favorites folder of this run, ending in "/"
    QString lastFolderPath_;
    CatalogueText catalogue_;
    QList<KeyedLink> folderLinks_;
    MenuOrder menuOrder_;
    QByteArray currentLink_;
    QList<PlannedFetch> plannedFetches_; // gathered by the counting scan
};

} // namespace catalogue
