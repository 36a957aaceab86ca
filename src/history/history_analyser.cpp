#include "history/history_analyser.h"

#include "catalogue/date_number.h"
#include "catalogue/directory_scan.h"
#include "catalogue/html_text.h"
#include "catalogue/picture_files.h"
#include "catalogue/shortcut_file.h"
#include "catalogue/site_probe.h"
#include "platform/dir_enum.h"
#include "platform/file_ops.h"
#include "platform/offline.h"
#include "platform/paths.h"
#include "platform/settings_model.h"
#include "platform/urlcache.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <stdexcept>

namespace history {

namespace {

const QString ShortcutMask = QStringLiteral("*.url");

QString caseFolded(const QString& text) {
    return text.toCaseFolded();
}

// The page address of a history entry's source name "Visited: user@address".
QString pageAddressOf(const QString& sourceUrlName) {
    const qsizetype at = sourceUrlName.indexOf('@');
    return at < 0 ? sourceUrlName : sourceUrlName.mid(at + 1);
}

// Removes the file when it goes out of scope, however the scope is left.
class RemoveOnExit {
public:
    explicit RemoveOnExit(QString path) : path_(std::move(path)) {}
    ~RemoveOnExit() { QFile::remove(path_); }
    RemoveOnExit(const RemoveOnExit&) = delete;
    RemoveOnExit& operator=(const RemoveOnExit&) = delete;

private:
    QString path_;
};


// The file names of the history pictures that a history catalogue shows.
QSet<QString> picturesNamedBy(const QByteArray& catalogueText) {
    static const QByteArray marker = "IMAGE =\"images\\history\\";
    QSet<QString> names;
    for (qsizetype at = catalogueText.indexOf(marker); at >= 0;
         at = catalogueText.indexOf(marker, at + 1)) {
        const qsizetype from = at + marker.size();
        const qsizetype end = catalogueText.indexOf('"', from);
        if (end > from)
            names.insert(QString::fromUtf8(catalogueText.mid(from, end - from)));
    }
    return names;
}

} // namespace

QString FreeShortcutPath(const QString& folder, qint64 number) {
    QString path;
    do {
        path = folder + QStringLiteral("p%1.URL").arg(number++);
    } while (QFileInfo::exists(path) || QFileInfo(path).isSymLink());
    return path;
}

HistoryAnalyser::HistoryAnalyser(catalogue::RefreshHost& host,
                                 const platform::SettingsModel& settings,
                                 catalogue::SiteFetcher& fetcher, HistoryAnalyserHooks hooks)
    : host_(host), settings_(settings), fetcher_(fetcher), hooks_(std::move(hooks)) {}

void HistoryAnalyser::setUrlCache(std::shared_ptr<const platform::UrlCache> cache) {
    urlCache_ = std::move(cache);
}

bool HistoryAnalyser::cancelRequested() const {
    return hooks_.cancelRequested && hooks_.cancelRequested();
}

void HistoryAnalyser::clearWorkLists() {
    historyAddresses_.clear();
    catalogue_.clear();
    currentLink_.clear();
}

void HistoryAnalyser::AnalyseHistory() {
    host_.rememberCursor();
    host_.setTrayAnimated(true);
    host_.setRefreshControlsEnabled(false);
    // A change to the Favorites made during the run before this analysis
    // is not served by it: it still asks for one more run.
    try {
        analyse();
    } catch (...) {
        knownTitles_.clear();
        restoreIdle();
        throw;
    }
    knownTitles_.clear();
    restoreIdle();
}

void HistoryAnalyser::restoreIdle() {
    host_.setRefreshControlsEnabled(true);
    host_.restoreCursor();
    host_.setStatusLight(catalogue::RunLight::Idle);
    host_.setTrayAnimated(false);
}

void HistoryAnalyser::analyse() {
    if (platform::isOffline())
        return;
    sitesFetched_ = 0;
    runStartTime_ = catalogue::DateTimeNumber(QDateTime::currentDateTime());
    host_.setStatusText(QStringLiteral("Initializing..."));
    host_.setStatusLight(catalogue::RunLight::Running);
    catalogue_.startHistory(catalogue::CatalogueTimeValue(QDateTime::currentDateTime()));

    knownTitles_.clear();
    // The last analysis' pictures stay until the new page is written: the
    // page on disk shows them until then.
    const QString pictureFolder = platform::dataFolder() + QStringLiteral("images/history");
    QDir().mkpath(pictureFolder);
    QStringList oldPictures;
    for (const QString& mask : catalogue::PictureFiles::masksFor({}))
        for (const platform::DirEntry& entry : platform::listDirectory(pictureFolder, mask))
            if (!entry.isDirectory)
                oldPictures << entry.name;

    gatherKnownTitles();

    std::shared_ptr<const platform::UrlCache> cache = urlCache_;
    if (!cache)
        cache = std::make_shared<const platform::UrlCache>(platform::UrlCache::loadUser());
    gatherAddresses(*cache);

    catalogue::SiteProbe probe(nullptr, settings_.secureSites);
    // A cancel abandons the title being read at once.
    probe.client().cancelWhen([this] { return cancelRequested(); });
    for (const QString& address : std::as_const(historyAddresses_)) {
        if (cancelRequested())
            break;
        analyseEntry(*cache, probe, address);
    }
    // A cancelled analysis has only some of the entries: the page of the
    // last one stays, with its pictures.
    if (cancelRequested()) {
        host_.setStatusText(QStringLiteral("Refresh cancelled"));
        return;
    }

    catalogue_.finish();
    const QByteArray text = catalogue_.text();
    QString error;
    if (!catalogue::SaveCatalogue(platform::dataFolder() + QStringLiteral("history.xml"), text,
                                  &error))
        throw std::runtime_error(error.toStdString());
    if (hooks_.writeHistoryPage)
        hooks_.writeHistoryPage(text);
    // Now the last analysis' pictures go to the Trash, where the user can
    // get them back; those this analysis has made again under the same name
    // belong to the new page, and so do their compressed copies.
    QSet<QString> shown;
    for (const QString& name : picturesNamedBy(text))
        for (const QString& file : catalogue::PictureFiles(name).all())
            shown.insert(file);
    for (const QString& name : std::as_const(oldPictures))
        if (!shown.contains(name))
            platform::deleteMatchingFiles(pictureFolder, name, true);
    host_.setStatusText(QStringLiteral("All Done"));
}

void HistoryAnalyser::gatherKnownTitles() {
    catalogue::ScanDirectoryTree(
        platform::favoritesFolder(), ShortcutMask,
        [this](const QString&, const platform::DirEntry& entry) {
            knownTitles_.insert(caseFolded(catalogue::DescriptionOf(entry.name)));
            return true;
        },
        [this] { host_.pumpEvents(); });
}

void HistoryAnalyser::gatherAddresses(const platform::UrlCache& cache) {
    historyAddresses_.clear();
    for (const platform::UrlCacheEntry& entry : cache.entries())
        if (entry.history)
            historyAddresses_ << entry.sourceUrlName;

    // The count shown is the number of history entries, duplicates included.
    sitesTotal_ = int(historyAddresses_.size());
    host_.setStatusText(QStringLiteral("Found %1 web histories.").arg(sitesTotal_));
    progressPosition_ = 0;
    host_.setProgressRange(sitesTotal_);
    host_.setProgressPosition(0);

    QStringList distinct;
    QSet<QString> seen;
    for (const QString& address : std::as_const(historyAddresses_))
        if (!seen.contains(caseFolded(address))) {
            seen.insert(caseFolded(address));
            distinct << address;
        }
    historyAddresses_ = distinct;
}

void HistoryAnalyser::analyseEntry(const platform::UrlCache& cache, catalogue::SiteProbe& probe,
                                   const QString& address) {
    ++sitesFetched_;
    host_.setProgressPosition(++progressPosition_);

    const platform::UrlCacheEntry* entry = cache.find(address);
    if (!entry || entry->hitCount <= settings_.historyThreshold)
        return;
    const QString pageAddress = pageAddressOf(address);
    if (!pageAddress.startsWith(QLatin1String("http"), Qt::CaseSensitive))
        return;
    const QString title = titleOf(probe, pageAddress);
    if (title.isEmpty() || isKnown(title))
        return;

    host_.setStatusText(title);
    // Named after the date-time number × 10000000.
    const QString shortcutPath = FreeShortcutPath(
        platform::tempFolder(),
        qint64(catalogue::DateTimeNumber(QDateTime::currentDateTime()) * 10000000.0));
    {
        const RemoveOnExit removeShortcut(shortcutPath);
        catalogue::WriteUrlFile(shortcutPath, pageAddress, hooks_.noteOwnChange);
        currentLink_.clear();
        try {
            fetcher_.FetchSiteInfo(platform::tempFolder(), QFileInfo(shortcutPath).fileName(), true,
                                   currentLink_);
        } catch (...) {
            // The entry keeps what the worker produced before the error.
        }
    }
    catalogue_.addHistoryLink(title.toUtf8(), currentLink_);
    knownTitles_.insert(caseFolded(title));
}

QString HistoryAnalyser::titleOf(catalogue::SiteProbe& probe, const QString& pageAddress) const {
    // While secure pages are not fetched their title cannot be read: they
    // are named after their host instead of being left out.
    if (!settings_.secureSites && pageAddress.left(8).toLower() == QLatin1String("https://"))
        return QUrl(pageAddress).host();
    return QString::fromUtf8(catalogue::trimmedTitle(probe.PageTitle(pageAddress)));
}

bool HistoryAnalyser::isKnown(const QString& title) const {
    return knownTitles_.contains(caseFolded(title));
}

} // namespace history
