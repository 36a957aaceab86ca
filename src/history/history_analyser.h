#pragma once
// The history analyser: turns the browser's history into a page of
// suggestions, the pages the user visits often but has not made a favourite.
// It keeps the history entries visited more often than the threshold, names
// each by its page title, leaves out titles that are already known (a
// favourite's name or an earlier entry's title), has the site worker take a
// picture of each, saves "history.xml" and writes "history.htm" from it.
// It runs on the main thread after a refresh run and shows its progress on
// the same indicators.
#include "catalogue/catalogue_writer.h"
#include "catalogue/refresh_host.h"
#include "catalogue/site_fetcher.h"
#include "platform/own_changes.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace platform {
class SettingsModel;
class UrlCache;
} // namespace platform

namespace catalogue {
class SiteProbe;
}

namespace history {

// What the analyser reaches outside itself, besides the run's indicators.
struct HistoryAnalyserHooks {
    // Whether the user asked the run to stop; tested before each entry.
    std::function<bool()> cancelRequested;
    // Told the path of each temporary shortcut before it is written.
    platform::NoteOwnChange noteOwnChange;
    // Writes "history.htm" from the history catalogue text; may throw.
    std::function<void(const QByteArray&)> writeHistoryPage;
};

// The temporary shortcut's path in folder (ending in "/"): "p" + number +
// ".URL", or the first later number whose name is free, so a file (or link)
// that is not ours is never overwritten or removed.
QString FreeShortcutPath(const QString& folder, qint64 number);

class HistoryAnalyser {
public:
    // fetcher completes each entry's Link (probe, properties, picture in the
    // history picture folder); settings gives the visit threshold.
    HistoryAnalyser(catalogue::RefreshHost& host, const platform::SettingsModel& settings,
                    catalogue::SiteFetcher& fetcher, HistoryAnalyserHooks hooks);
    HistoryAnalyser(const HistoryAnalyser&) = delete;
    HistoryAnalyser& operator=(const HistoryAnalyser&) = delete;

    // The URL cache to analyse. Without one, the user's cache is read afresh
    // at every analysis.
    void setUrlCache(std::shared_ptr<const platform::UrlCache> cache);

    // The whole analysis. Offline, nothing is written. An error while
    // saving "history.xml" or writing the page ends the analysis and is
    // passed on; the indicators are back to idle either way.
    void AnalyseHistory();

    // Progress of the analysis in progress or of the last one.
    int sitesTotal() const { return sitesTotal_; }
    int sitesFetched() const { return sitesFetched_; }
    // Date-time number (days) at which the addresses were gathered.
    double runStartTime() const { return runStartTime_; }
    bool cancelRequested() const;

    // The history entries' source URL names of the last analysis, duplicates
    // removed; kept until the refresh command empties its lists.
    const QStringList& historyAddresses() const { return historyAddresses_; }
    const catalogue::LineList& catalogueLines() const { return catalogue_.lines(); }
    void clearWorkLists();

private:
    void analyse();
    void gatherKnownTitles();
    void gatherAddresses(const platform::UrlCache& cache);
    void analyseEntry(const platform::UrlCache& cache, catalogue::SiteProbe& probe,
                      const QString& address);
    QString titleOf(catalogue::SiteProbe& probe, const QString& pageAddress) const;
    void restoreIdle();
    bool isKnown(const QString& title) const;

    catalogue::RefreshHost& host_;
    const platform::SettingsModel& settings_;
    catalogue::SiteFetcher& fetcher_;
    HistoryAnalyserHooks hooks_;
    std::shared_ptr<const platform::UrlCache> urlCache_;

    int sitesTotal_ = 0;
    int sitesFetched_ = 0;
    int progressPosition_ = 0;
    double runStartTime_ = 0;
    QStringList historyAddresses_;
    QSet<QString> knownTitles_; // case-folded
    catalogue::CatalogueText catalogue_;
    QByteArray currentLink_;
};

} // namespace history
