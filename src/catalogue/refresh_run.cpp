#include "catalogue/refresh_run.h"

#include "catalogue/date_number.h"
#include "catalogue/directory_scan.h"
#include "catalogue/encodings.h"
#include "catalogue/picture_files.h"
#include "catalogue/picture_sweep.h"
#include "catalogue/temporary_shortcut.h"
#include "platform/file_ops.h"
#include "platform/message_service.h"
#include "platform/offline.h"
#include "platform/paths.h"
#include "platform/registry.h"

#include <QDateTime>
#include <QFile>

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
    catalogueSaved_ = false;
    previousCounter_ = lastSavedCounter(settings_.evenFileName);
    try {
        cancelRequested_ = false;
        settings_.evenFileName = previousCounter_ + 1;
        runSteps();
    } catch (const std::exception& error) {
        reportFailure(QString::fromUtf8(error.what()));
    } catch (...) {
        reportFailure(QStringLiteral("unexpected error"));
    }
    // The counter names this run's pictures. It counts as used only once a
    // catalogue that shows them is saved; otherwise the next run takes the
    // same value again, so the pictures that the pages on disk show stay
    // those of the previous counter, which only a complete run removes.
    if (!catalogueSaved_)
        settings_.evenFileName = previousCounter_;
    try {
        host_.showStatus();
    } catch (...) {
    }
    runInProgress_ = false;
}

int RefreshRun::committedEvenFileName() const {
    return runInProgress_ && !catalogueSaved_ ? previousCounter_ : settings_.evenFileName;
}

void RefreshRun::reportFailure(const QString& reason) {
    try {
        host_.setStatusText(QStringLiteral("Refresh failed: ") + reason);
    } catch (...) {
    }
}

void RefreshRun::requestCancel() {
    cancelRequested_ = true;
    if (host_.statusLight() == RunLight::Running)
        host_.setStatusLight(RunLight::Cancelling);
    // Work on favourites ahead of the run goes at once, and so does the
    // favourite in progress: the cancelled run writes none of it.
    if (fetcher_) {
        fetcher_->abandonCurrent();
        fetcher_->dropAhead();
    }
    // fetchRunning turns false when the worker thread ends, so this wait
    // also ends when it sits above the run's own wait for the worker.
    while (fetchRunning_ && fetchRunning_())
        host_.waitForEvents();
}

void RefreshRun::runSteps() {
    const bool debuggerWasDisabled = ScriptDebuggerDisabled();
    if (!debuggerWasDisabled)
        SetScriptDebuggerDisabled(true);
    withFinally(
        [&] {
            if (cancelRequested_)
                return;
            // Only once this run's catalogue and pages are written do the
            // previous run's pictures go: until then the pages on disk show
            // them. An offline, cancelled or failed run removes nothing; a
            // good one also removes what such runs left.
            if (!BuildCatalogue())
                return;
            removePicturesNoCatalogueNames();
            // The analysis replaces its own pictures once its page is written.
            if (!cancelRequested_ && settings_.history)
                host_.runHistoryAnalysis();
        },
        [&] {
            clearWorkLists();
            if (!debuggerWasDisabled)
                SetScriptDebuggerDisabled(false);
        });
}

bool RefreshRun::BuildCatalogue() {
    bool written = false;
    host_.rememberCursor();
    host_.setTrayAnimated(true);
    withFinally(
        [&] {
            host_.setRefreshControlsEnabled(false);
            favouritesChanged_ = false;
            withFinally([&] { written = buildSteps(); },
                        [&] { host_.setRefreshControlsEnabled(true); });
        },
        [&] {
            host_.restoreCursor();
            host_.pumpEvents();
            host_.setStatusLight(RunLight::Idle);
            host_.setTrayAnimated(false);
        });
    return written;
}

bool RefreshRun::buildSteps() {
    if (platform::isOffline())
        return false;
    host_.setStatusText(QStringLiteral("Initializing..."));
    host_.setStatusLight(RunLight::Running);
    removeUnusedPictures(settings_.evenFileName);
    if (fetcher_)
        fetcher_->clearPictureFailures();

    favoritesRoot_ = platform::favoritesFolder();
    if (!favoritesRoot_.endsWith('/'))
        favoritesRoot_ += '/';
    const auto pump = [this] { host_.pumpEvents(); };

    sitesTotal_ = 0;
    plannedFetches_.clear();
    ScanDirectoryTree(
        favoritesRoot_, ShortcutMask,
        [this](const QString& folder, const platform::DirEntry& entry) {
            return CountFavourite(folder, entry);
        },
        pump);
    if (fetcher_ && !cancelRequested_)
        fetcher_->planAhead(plannedFetches_);
    plannedFetches_.clear();
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

    withFinally(
        [&] {
            ScanDirectoryTree(
                favoritesRoot_, ShortcutMask,
                [this](const QString& folder, const platform::DirEntry& entry) {
                    return AddFavourite(folder, entry);
                },
                pump);
        },
        [&] {
            // Whatever ended the scan, no work on favourites ahead outlives it.
            if (fetcher_)
                fetcher_->dropAhead();
        });

    // A cancelled run has only some of the favourites: the catalogue and
    // the pages of the previous run stay as they are.
    if (cancelRequested_) {
        host_.setStatusText(QStringLiteral("Refresh cancelled"));
        return false;
    }
    // A catalogue without a picture that could not be stored would replace
    // pages that still show the previous one.
    if (fetcher_ && !fetcher_->pictureFailure().isEmpty())
        throw std::runtime_error(fetcher_->pictureFailure().toStdString());
    completeFolder();
    catalogue_.finish();
    const QByteArray text = catalogue_.text();
    QString error;
    if (!SaveCatalogue(platform::dataFolder() + QStringLiteral("listings.xml"), text, &error))
        throw std::runtime_error(error.toStdString());
    catalogueSaved_ = true;
    host_.WriteSupportPages(text);
    host_.WriteCataloguePages(text);
    host_.setStatusText(QStringLiteral("All Done"));
    return true;
}

bool RefreshRun::CountFavourite(const QString& folderPath, const platform::DirEntry& entry) {
    if (IsTemporaryShortcut(folderPath + entry.name))
        return true;
    ++sitesTotal_;
    plannedFetches_.append({folderPath, entry.name});
    return true;
}

bool RefreshRun::AddFavourite(const QString& folderPath, const platform::DirEntry& entry) {
    if (cancelRequested_)
        return false;
    // The program's own temporary shortcut of a redirected favourite, met
    // while another favourite's work has it in this folder.
    if (IsTemporaryShortcut(folderPath + entry.name))
        return true;
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

QStringList RefreshRun::pictureMasks(int counter) {
    // Every picture of a run starts with the hexadecimal form of its counter.
    const QString prefix =
        QString::fromLatin1(HexEncode(QString::asprintf("%4d", counter).toLatin1()));
    return PictureFiles::masksFor(prefix);
}

void RefreshRun::removePicturesNoCatalogueNames() {
    QList<QByteArray> saved;
    for (const QString& name : {QStringLiteral("listings.xml"), QStringLiteral("history.xml")}) {
        QFile file(platform::dataFolder() + name);
        if (file.open(QIODevice::ReadOnly))
            saved << file.readAll();
    }
    if (!RemovePicturesNotNamedBy(platform::dataFolder(), saved))
        platform::showMessage(QStringLiteral("Delete Failed"));
}

int RefreshRun::lastSavedCounter(int counter) {
    // The settings keep the counter only when the program closes normally:
    // after a crash the saved catalogues may already name pictures of later
    // counters, which must count as used.
    QByteArray saved;
    for (const QString& name : {QStringLiteral("listings.xml"), QStringLiteral("history.xml")}) {
        QFile file(platform::dataFolder() + name);
        if (file.open(QIODevice::ReadOnly))
            saved += file.readAll();
    }
    const auto names = [&saved](int candidate) {
        const QByteArray prefix = HexEncode(QString::asprintf("%4d", candidate).toLatin1());
        return saved.contains("IMAGE =\"images\\" + prefix) ||
               saved.contains("IMAGE =\"images\\history\\" + prefix);
    };
    while (names(counter + 1))
        ++counter;
    return counter;
}

void RefreshRun::removeUnusedPictures(int counter) {
    // No saved catalogue names pictures of a counter that is not yet used:
    // these are left over from a run that never finished (cancelled, failed
    // or killed), and must not pass for pictures made earlier in this run.
    for (const QString& subfolder : {QStringLiteral("images"), QStringLiteral("images/history")})
        for (const QString& mask : pictureMasks(counter))
            platform::deleteMatchingFiles(platform::dataFolder() + subfolder, mask, false);
}

void RefreshRun::clearWorkLists() {
    trace_.clear();
    catalogue_.clear();
    folderLinks_.clear();
    host_.clearWorkLists();
}

} // namespace catalogue
