#include "catalogue/refresh_run.h"

#include "catalogue/date_number.h"
#include "catalogue/directory_scan.h"
#include "catalogue/encodings.h"
#include "platform/file_ops.h"
#include "platform/message_service.h"
#include "platform/offline.h"
#include "platform/paths.h"
#include "platform/registry.h"

#include <QDateTime>

#include <exception>
#include <new>
#include <stdexcept>

namespace catalogue {

namespace {

const QString NoFolderYet = QStringLiteral("@@@@@@");
const QString ShortcutMask = QStringLiteral("*.url");
const QString ScriptDebuggerKey = QStringLiteral("Software\\Microsoft\\Internet Explorer\\Main");
const QString ScriptDebuggerValue = QStringLiteral("Disable Script Debugger");

// Runs body, then finally whether or not body threw; an error of body is
// passed on after finally has run.
template <typename Body, typename Finally> void withFinally(Body body, Finally finally) {
    try {
        body();
    } catch (...) {
        finally();
        throw;
    } finally();
}

} // namespace

bool ScriptDebuggerDisabled() {
    platform::RegistryKey key;
    if (key.open(platform::RegistryHive::CurrentUser, ScriptDebuggerKey, false) !=
        platform::regerror::Success)
        return false;
    const std::optional<QString> value = key.readString(ScriptDebuggerValue);
    return value && value->toLower() == QLatin1String("yes");
}

void SetScriptDebuggerDisabled(bool on) {
    platform::RegistryKey key;
    if (key.open(platform::RegistryHive::CurrentUser, ScriptDebuggerKey, false) !=
        platform::regerror::Success)
        return;
    key.writeString(ScriptDebuggerValue, on ? QStringLiteral("yes") : QStringLiteral("no"));
}

RefreshRun::RefreshRun(RefreshHost& host, platform::SettingsModel& settings)
    : RefreshRun(host, settings, platform::runTraceFilePath()) {}

RefreshRun::RefreshRun(RefreshHost& host, platform::SettingsModel& settings,
                       const QString& traceFilePath)
    : host_(host), settings_(settings), trace_(traceFilePath), lastFolderPath_(NoFolderYet) {}

void RefreshRun::setSiteFetcher(SiteFetcher* fetcher, std::function<bool()> fetchRunning) {
    fetcher_ = fetcher;
    fetchRunning_ = std::move(fetchRunning);
}

void RefreshRun::Button2Click() {
    if (runInProgress_)
        return;
    runInProgress_ = true;
    try {
        cancelRequested_ = false;
        const int previousCounter = settings_.evenFileName;
        settings_.evenFileName = previousCounter + 1;
        runSteps(previousCounter);
    } catch (...) {
        // A failed run is over; the next one starts afresh.
    }
    try {
        host_.showStatus();
    } catch (...) {
    }
    runInProgress_ = false;
}

void RefreshRun::requestCancel() {
    cancelRequested_ = true;
    if (host_.statusLight() == RunLight::Running)
        host_.setStatusLight(RunLight::Cancelling);
    while (fetchRunning_ && fetchRunning_())
        host_.waitForEvents();
}

void RefreshRun::runSteps(int previousCounter) {
    const bool debuggerWasDisabled = ScriptDebuggerDisabled();
    if (!debuggerWasDisabled)
        SetScriptDebuggerDisabled(true);
    withFinally(
        [&] {
            if (!cancelRequested_) {
                withFinally(
                    [&] { BuildCatalogue(); },
                    [&] { deletePreviousPictures(QStringLiteral("images"), previousCounter); });
            }
            if (!cancelRequested_ && settings_.history) {
                host_.runHistoryAnalysis();
                deletePreviousPictures(QStringLiteral("images/history"), previousCounter);
            }
        },
        [&] {
            clearWorkLists();
            if (!debuggerWasDisabled)
                SetScriptDebuggerDisabled(false);
        });
}

void RefreshRun::BuildCatalogue() {
    host_.rememberCursor();
    host_.setTrayAnimated(true);
    withFinally(
        [&] {
            host_.setRefreshControlsEnabled(false);
            favouritesChanged_ = false;
            withFinally([&] { buildSteps(); }, [&] { host_.setRefreshControlsEnabled(true); });
        },
        [&] {
            host_.restoreCursor();
            host_.pumpEvents();
            host_.setStatusLight(RunLight::Idle);
            host_.setTrayAnimated(false);
        });
}

void RefreshRun::buildSteps() {
    if (platform::isOffline())
        return;
    host_.setStatusText(QStringLiteral("Initializing..."));
    host_.setStatusLight(RunLight::Running);

    favoritesRoot_ = platform::favoritesFolder();
    if (!favoritesRoot_.endsWith('/'))
        favoritesRoot_ += '/';
    const auto pump = [this] { host_.pumpEvents(); };

    sitesTotal_ = 0;
    ScanDirectoryTree(
        favoritesRoot_, ShortcutMask,
        [this](const QString& folder, const platform::DirEntry& entry) {
            return CountFavourite(folder, entry);
        },
        pump);
    host_.setStatusText(QStringLiteral("Found %1 web favourites.").arg(sitesTotal_));

    sitesFetched_ = 0;
    runStartTime_ = DateTimeNumber(QDateTime::currentDateTime());
    progressPosition_ = 0;
    host_.setProgressRange(sitesTotal_);
    host_.setProgressPosition(0);

    lastFolderPath_ = NoFolderYet;
    folderLinks_.clear();
    catalogue_.startListings(CatalogueTimeValue(QDateTime::currentDateTime()), settings_.homePage);
    trace_.add({"My Documents = " + platform::documentsFolder() + '/'});

    ScanDirectoryTree(
        favoritesRoot_, ShortcutMask,
        [this](const QString& folder, const platform::DirEntry& entry) {
            return AddFavourite(folder, entry);
        },
        pump);

    completeFolder();
    catalogue_.finish();
    const QByteArray text = catalogue_.text();
    QString error;
    if (!SaveCatalogue(platform::dataFolder() + QStringLiteral("listings.xml"), text, &error))
        throw std::runtime_error(error.toStdString());
    host_.WriteSupportPages(text);
    host_.WriteCataloguePages(text);
    host_.setStatusText(QStringLiteral("All Done"));
}

bool RefreshRun::CountFavourite(const QString&, const platform::DirEntry&) {
    ++sitesTotal_;
    return true;
}

bool RefreshRun::AddFavourite(const QString& folderPath, const platform::DirEntry& entry) {
    if (cancelRequested_)
        return false;
    const QString& fileName = entry.name;
    trace_.add({"Path = " + folderPath, "File = " + fileName,
                "length of path = " + QString::number(folderPath.size()),
                "length of name = " + QString::number(fileName.size()),
                "total = " + QString::number(folderPath.size() + fileName.size()),
                QString(82, '#')});
    host_.pumpEvents();
    ++sitesFetched_;

    if (folderPath != lastFolderPath_) {
        if (lastFolderPath_ != NoFolderYet) {
            completeFolder();
            catalogue_.closeFolder();
        }
        const QString location = locationOf(folderPath);
        catalogue_.openFolder(location);
        lastFolderPath_ = folderPath;
        menuOrder_.ReadMenuOrder(location);
    }
    host_.setProgressPosition(++progressPosition_);

    const int position = menuOrder_.MenuOrderOf(fileName);
    const QString description = DescriptionOf(fileName);
    currentLink_ = LinkHeadPieces(folderPath + fileName, position, description);
    if (fetcher_)
        fetcher_->FetchSiteInfo(folderPath, fileName, false, currentLink_);
    host_.setStatusText(description);
    currentLink_ += LinkEnd();

    KeyedLink record;
    try {
        record.text = currentLink_;
        record.text.detach();
        record.key = SortKeyOf(settings_.sortBy, fileName, position, entry.lastWriteTime);
    } catch (const std::bad_alloc&) {
        platform::showMessage(QStringLiteral("no more ram"));
        return true;
    }
    folderLinks_.append(std::move(record));
    return true;
}

void RefreshRun::completeFolder() {
    SortFolderLinks(folderLinks_, settings_.sortBy);
    for (const KeyedLink& link : std::as_const(folderLinks_))
        catalogue_.addLine(link.text);
    folderLinks_.clear();
}

QString RefreshRun::locationOf(const QString& folderPath) const {
    QString relative =
        folderPath.startsWith(favoritesRoot_) ? folderPath.mid(favoritesRoot_.size()) : QString();
    if (relative.endsWith('/'))
        relative.chop(1);
    return platform::toBackslashForm(relative);
}

void RefreshRun::deletePreviousPictures(const QString& subfolder, int previousCounter) {
    // Every picture of a run starts with the hexadecimal form of its counter.
    const QByteArray prefix = HexEncode(QString::asprintf("%4d", previousCounter).toLatin1());
    const QString mask = QString::fromLatin1(prefix) + QStringLiteral("*.BMP");
    if (!platform::deleteMatchingFiles(platform::dataFolder() + subfolder, mask, false))
        platform::showMessage(QStringLiteral("Delete Failed"));
}

void RefreshRun::clearWorkLists() {
    trace_.clear();
    catalogue_.clear();
    folderLinks_.clear();
    host_.clearWorkLists();
}

} // namespace catalogue
