#include "webserver/edit_actions.h"

#include "catalogue/directory_scan.h"
#include "catalogue/encodings.h"
#include "catalogue/favourite_order.h"
#include "catalogue/shortcut_file.h"
#include "catalogue/site_probe.h"
#include "platform/file_ops.h"
#include "platform/message_service.h"
#include "platform/paths.h"
#include "webserver/edit_form.h"
#include "webserver/http_answer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <unistd.h>

namespace webserver {

namespace {

QString esc(const QString& text) {
    return QString::fromUtf8(htmlEscape(text.toUtf8()));
}

// The file name without its last extension.
QString withoutExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf('.');
    return dot > 0 ? name.left(dot) : name;
}

QString withUrlExtension(const QString& name) {
    return withoutExtension(name) + QStringLiteral(".URL");
}

bool isInside(const QString& path, const QString& folder) {
    return path.startsWith(folder + '/') && path.size() > folder.size() + 1;
}

bool hasControlCharacter(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() < 32 || c.unicode() == 127)
            return true;
    return false;
}

// Keeps events flowing while a scan walks the folders, as a long scan
// would otherwise stall the server.
void pumpEvents() {
    const QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread())
        QCoreApplication::processEvents();
}

} // namespace

EditActions::EditActions(const QString& favoritesFolder,
                         std::function<void()> markWritingFavourites, TitleFetcher fetchTitle)
    : favorites_(QDir::cleanPath(favoritesFolder)), markWriting_(std::move(markWritingFavourites)),
      fetchTitle_(std::move(fetchTitle)) {
    if (!fetchTitle_)
        fetchTitle_ = [](const QString& url) { return catalogue::SiteProbe().PageTitle(url); };
}

void EditActions::ApplyEditFields(const QList<QByteArray>& fields) {
    for (const QByteArray& field : fields)
        applyField(field);
}

void EditActions::applyField(const QByteArray& field) {
    static const QByteArray prefixes[] = {"Combo", "Edit", "OB", "CB"};
    QByteArray prefix;
    for (const QByteArray& candidate : prefixes) {
        if (field.startsWith(candidate)) {
            prefix = candidate;
            break;
        }
    }
    if (prefix.isEmpty())
        return;
    const qsizetype equals = field.indexOf('=', prefix.size());
    const QByteArray identity =
        equals < 0 ? field.mid(prefix.size()) : field.mid(prefix.size(), equals - prefix.size());
    const QString value =
        QString::fromUtf8(DecodeFormValue(equals < 0 ? QByteArray() : field.mid(equals + 1)));

    const std::optional<QByteArray> decoded = catalogue::HexDecodeChecked(identity);
    if (!decoded) {
        addResult(QStringLiteral("Refused %1: not a favourite's identity<br>")
                      .arg(esc(QString::fromUtf8(identity))));
        return;
    }
    QString path = QString::fromUtf8(*decoded);
    if (path.contains(QChar(0)) || QDir::cleanPath(path) != path || !isInside(path, favorites_)) {
        addResult(QStringLiteral("Refused %1: not a favourite in the Favorites folder<br>")
                      .arg(esc(path.replace(QChar(0), QChar(0xFFFD)))));
        return;
    }
    fieldIdentity_ = path;
    path = currentPath_.value(path, path);
    fieldPath_ = path;
    const qsizetype slash = path.lastIndexOf('/');
    const QString fileName = path.mid(slash + 1);
    const QString folder = path.left(slash + 1);

    if (prefix == "Combo") {
        targetFolder_ = '\\' + value + '\\';
        if (targetFolder_ == QLatin1String("\\Root\\"))
            targetFolder_ = QStringLiteral("\\");
        scanFor(fileName, &EditActions::MoveFavourite);
        return;
    }
    editFolder_ = folder;
    if (prefix == "Edit") {
        newName_ = value;
        scanFor(withUrlExtension(fileName), &EditActions::RenameFavourite);
    } else if (prefix == "OB") {
        sortOrderText_ = value;
        scanFor(withUrlExtension(fileName), &EditActions::SetSortOrder);
    } else if (value == QLatin1String("deleteme")) {
        scanFor(withUrlExtension(fileName), &EditActions::DeleteFavourite);
    }
}

void EditActions::scanFor(const QString& fileName, Action action) {
    wantedName_ = fileName;
    // The name is used as the scan's mask; a name holding "*" or "?" must
    // still act on its own file only.
    catalogue::ScanDirectoryTree(
        favorites_, fileName,
        [this, action](const QString& folder, const platform::DirEntry& entry) {
            if (entry.name.compare(wantedName_, Qt::CaseInsensitive) != 0)
                return true;
            return (this->*action)(folder, entry);
        },
        pumpEvents);
}

void EditActions::followed(const QString& from, const QString& to) {
    if (from == fieldPath_)
        currentPath_.insert(fieldIdentity_, to);
}

void EditActions::refused(int errorCode) {
    platform::showMessage(QString::number(errorCode));
}

bool EditActions::MoveFavourite(const QString& folder, const platform::DirEntry& entry) {
    if (RelativeFolder(folder, favorites_) == targetFolder_)
        return false;
    const QString inner = targetFolder_.mid(1, targetFolder_.size() - 2);
    QString targetDir = favorites_;
    if (!inner.isEmpty()) {
        for (const QString& part : inner.split('\\')) {
            if (!IsSafeName(part)) {
                addResult(QStringLiteral("Refused moving %1: %2 is not a folder name<br>")
                              .arg(esc(withoutExtension(entry.name)), esc(targetFolder_)));
                return false;
            }
        }
        targetDir += '/' + platform::fromBackslashForm(inner);
    }
    // A folder reached through a link may lie elsewhere: the real folder
    // must be the Favorites folder or one below it.
    const QString realTarget = QFileInfo(targetDir).canonicalFilePath();
    const QString realFavorites = QFileInfo(favorites_).canonicalFilePath();
    if (realTarget.isEmpty()) {
        refused(ENOENT);
        return false;
    }
    if (realTarget != realFavorites && !isInside(realTarget, realFavorites)) {
        addResult(QStringLiteral("Refused moving %1: %2 is outside the Favorites folder<br>")
                      .arg(esc(withoutExtension(entry.name)), esc(targetFolder_)));
        return false;
    }
    int error = 0;
    if (!platform::renameNoReplace(folder + entry.name, targetDir + '/' + entry.name, &error)) {
        refused(error);
        return false;
    }
    followed(folder + entry.name, targetDir + '/' + entry.name);
    addResult(QStringLiteral("Moved Favourite %1 to %2<br>")
                  .arg(esc(withoutExtension(entry.name)), esc(targetFolder_)));
    return false;
}

bool EditActions::RenameFavourite(const QString& folder, const platform::DirEntry& entry) {
    if (folder != editFolder_)
        return false;
    const QString newFile = newName_ + QStringLiteral(".URL");
    if (withUrlExtension(entry.name).compare(newFile, Qt::CaseInsensitive) == 0)
        return false;
    if (!IsSafeName(newName_) || newFile.toUtf8().size() > 255) {
        addResult(QStringLiteral("Refused renaming %1: %2 is not a file name<br>")
                      .arg(esc(withoutExtension(entry.name)), esc(newName_)));
        return false;
    }
    int error = 0;
    if (!platform::renameNoReplace(folder + entry.name, folder + newFile, &error)) {
        refused(error);
        return false;
    }
    followed(folder + entry.name, folder + newFile);
    addResult(QStringLiteral("Renamed Favourite %1 to %2<br>")
                  .arg(esc(withoutExtension(entry.name)), esc(newName_)));
    return false;
}

bool EditActions::SetSortOrder(const QString& folder, const platform::DirEntry& entry) {
    // Only the favourite the field names: another of the same file name in
    // another folder keeps its position.
    if (folder != editFolder_)
        return false;
    const QString location = FolderLocation(folder, favorites_);
    catalogue::MenuOrder order;
    order.ReadMenuOrder(location);
    const QString name = esc(entry.name), typed = esc(sortOrderText_);
    const std::optional<qint64> requested = ParseSortOrder(sortOrderText_);
    if (!requested) {
        addResult(QStringLiteral("Favourite %1 sort order is Invalid. %2 is not a number<br>")
                      .arg(name, typed));
        return false;
    }
    const QString lower = entry.name.toLower();
    const int current = order.MenuOrderOf(lower);
    if (*requested == current)
        return false;
    if (*requested > 255) {
        addResult(QStringLiteral("Favourite %1 sort order is too big. %2 is greater than 255<br>")
                      .arg(name, typed));
    } else if (*requested < 0) {
        addResult(QStringLiteral("Favourite %1 sort order is too small. %2 is less than 0<br>")
                      .arg(name, typed));
    } else if (current < 0) {
        // The organiser has no record of this favourite: there is nothing
        // to change, and saying it changed would be untrue.
        addResult(QStringLiteral("Favourite %1 has no sort order to change in %2 folder<br>")
                      .arg(name, esc(RelativeFolder(folder, favorites_))));
    } else if (catalogue::WriteMenuOrder(location, lower, int(*requested))) {
        addResult(QStringLiteral("Changed Favourite %1 sort order to %2. I.E. will show changes "
                                 "after it has been restarted <br>")
                      .arg(name, typed));
    } else {
        addResult(QStringLiteral("Favourite %1 sort order could not be written<br>").arg(name));
    }
    return false;
}

bool EditActions::DeleteFavourite(const QString& folder, const platform::DirEntry& entry) {
    if (folder != editFolder_)
        return false;
    if (::unlink(QFile::encodeName(folder + entry.name).constData()) != 0) {
        refused(errno);
        return false;
    }
    addResult(QStringLiteral("Deleted Favourite %1 from %2 folder<br>")
                  .arg(esc(entry.name), esc(RelativeFolder(folder, favorites_))));
    return false;
}

QString EditActions::freeShortcutName(const QString& baseName) const {
    // Another favourite of the same name is never overwritten: the new one
    // gets a number.
    const QStringList existing =
        QDir(favorites_)
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    auto taken = [&](const QString& name) {
        for (const QString& entry : existing)
            if (entry.compare(name + QStringLiteral(".URL"), Qt::CaseInsensitive) == 0)
                return true;
        return false;
    };
    QString name = baseName;
    for (int number = 2; taken(name); ++number)
        name = QStringLiteral("%1 (%2)").arg(baseName).arg(number);
    return name;
}

void EditActions::AddFavouriteFromHistory(const QByteArray& name) {
    const QString address = QString::fromUtf8(catalogue::UnescapeText(name));
    // The address becomes a line of the shortcut file: a line break in it
    // would add keys of its own.
    if (address.isEmpty() || hasControlCharacter(address)) {
        addResult(QStringLiteral("Refused adding %1: not a web address<br>").arg(esc(address)));
        return;
    }
    const QByteArray rawTitle = fetchTitle_(address).trimmed();
    const QString title = QString::fromUtf8(catalogue::UnescapeText(rawTitle));
    const QString baseName = freeShortcutName(SafeNameFromTitle(title, address));
    const QString file = favorites_ + '/' + baseName + QStringLiteral(".URL");
    if (!catalogue::WriteUrlFile(file, address, markWriting_)) {
        addResult(QStringLiteral("Favourite %1 could not be written<br>").arg(esc(baseName)));
        return;
    }
    addResult(QStringLiteral("Added Favourite %1 <br>").arg(esc(baseName)));
}

} // namespace webserver
