#include "webserver/edit_actions.h"

#include "catalogue/encodings.h"
#include "catalogue/favourite_order.h"
#include "catalogue/shortcut_file.h"
#include "catalogue/site_probe.h"
#include "platform/file_ops.h"
#include "platform/message_service.h"
#include "platform/paths.h"
#include "webserver/edit_form.h"
#include "webserver/http_answer.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
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

bool isInside(const QString& path, const QString& folder) {
    return path.startsWith(folder + '/') && path.size() > folder.size() + 1;
}

bool hasControlCharacter(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() < 32 || c.unicode() == 127)
            return true;
    return false;
}

// Whether path names a regular file; a link is not followed.
bool isRegularFile(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

// Whether the entry at path may be edited: a shortcut file (".url" in any
// letter case), or none at all (the actions then say it is gone). A link
// is refused whatever it points to; a linked folder above it is not.
bool isShortcutOrGone(const QString& path) {
    struct stat info {};
    const bool gone = ::lstat(QFile::encodeName(path).constData(), &info) != 0 && errno == ENOENT;
    return path.endsWith(QLatin1String(".url"), Qt::CaseInsensitive) &&
           (gone || isRegularFile(path));
}

constexpr int UrlPropertyId = 2; // the address in a shortcut's first property set

} // namespace

EditActions::EditActions(const QString& favoritesFolder, platform::NoteOwnChange noteOwnChange,
                         TitleFetcher fetchTitle)
    : favorites_(QDir::cleanPath(favoritesFolder)), noteOwnChange_(std::move(noteOwnChange)),
      fetchTitle_(std::move(fetchTitle)) {
    if (!fetchTitle_)
        fetchTitle_ = [](const QString& url) { return catalogue::SiteProbe().PageTitle(url); };
}

void EditActions::ApplyEditFields(const QList<QByteArray>& fields) {
    carried_.clear();
    for (const QByteArray& field : fields) {
        if (!IsCarriedField(field))
            continue;
        const qsizetype equals = field.indexOf('=');
        if (equals > 0)
            carried_.insert(field.left(equals),
                            QString::fromUtf8(DecodeFormValue(field.mid(equals + 1))));
    }
    for (const QByteArray& field : fields)
        applyField(field);
    saveOrganiserPositions();
}

void EditActions::saveOrganiserPositions() {
    QStringList failed;
    if (organiser_.Save(&failed))
        return;
    for (const QString& location : failed)
        addResult(QStringLiteral("The sort orders of %1 folder could not be written<br>")
                      .arg(esc(location.isEmpty() ? QStringLiteral("\\")
                                                  : '\\' + location + '\\')));
}

std::optional<QString> EditActions::carried(const QByteArray& name) const {
    const auto found = carried_.constFind(name);
    if (found == carried_.constEnd())
        return std::nullopt;
    return found.value();
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
    // An earlier field of this form may have renamed or moved the favourite.
    fieldIdentity_ = path;
    fieldPath_ = currentPath_.value(path, path);
    editFolder_ = fieldPath_.left(fieldPath_.lastIndexOf('/') + 1);
    if (!isShortcutOrGone(fieldPath_)) {
        addResult(QStringLiteral("Refused %1: not a shortcut file<br>").arg(esc(fieldPath_)));
        return;
    }

    if (prefix == "Combo")
        applyMove(value, identity);
    else if (prefix == "Edit")
        applyRename(value, identity);
    else if (prefix == "OB")
        applySortOrder(value, identity);
    else
        applyDelete(value);
}

bool EditActions::changeWanted(const QByteArray& carriedName, const QString& wanted,
                               const QString& now, const QString& what) {
    if (const std::optional<QString> was = carried(carriedName)) {
        if (wanted == *was)
            return false; // not changed on the page
        if (!fieldFileExists() || now != *was) {
            skipped(what);
            return false;
        }
    } else if (wanted == now) {
        return false;
    }
    if (!fieldFileExists()) {
        notFound(what);
        return false;
    }
    return true;
}

bool EditActions::fieldFileExists() const {
    return isRegularFile(fieldPath_);
}

void EditActions::actOnFieldFile(Action action) {
    platform::DirEntry entry;
    entry.name = fieldPath_.mid(editFolder_.size());
    (this->*action)(editFolder_, entry);
}

void EditActions::applyMove(const QString& value, const QByteArray& identity) {
    const QString here = FolderLocation(editFolder_, favorites_);
    // "Root" names the Favorites folder itself and a top-level folder named
    // Root alike; the page's "Top" field tells them apart. Without it (an
    // older page), a favourite that sits in a folder named Root stays.
    QString location = value;
    if (value == QLatin1String("Root")) {
        if (const std::optional<QString> top = carried("Top" + identity))
            location = *top == QLatin1String("no") ? value : QString();
        else
            location = here == QLatin1String("Root") ? value : QString();
    }
    const QString name = withoutExtension(fieldPath_.mid(editFolder_.size()));
    const QString what = QStringLiteral("moving %1").arg(esc(name));
    if (!changeWanted("WasCombo" + identity, location, here, what))
        return;
    targetFolder_ = location.isEmpty() ? QStringLiteral("\\") : '\\' + location + '\\';
    actOnFieldFile(&EditActions::MoveFavourite);
}

void EditActions::applyRename(const QString& value, const QByteArray& identity) {
    newName_ = value;
    const QString name = withoutExtension(fieldPath_.mid(editFolder_.size()));
    const QString what = QStringLiteral("renaming %1").arg(esc(name));
    if (changeWanted("WasEdit" + identity, value, name, what))
        actOnFieldFile(&EditActions::RenameFavourite);
}

void EditActions::applySortOrder(const QString& value, const QByteArray& identity) {
    sortOrderText_ = value;
    const QString fileName = fieldPath_.mid(editFolder_.size());
    if (const std::optional<QString> was = carried("WasOB" + identity)) {
        if (value == *was)
            return;
        const QString what = QStringLiteral("the sort order of %1").arg(esc(fileName));
        if (!fieldFileExists())
            return skipped(what);
        // The page showed the position the favourite had before this form,
        // under the name and in the folder the page was made with: the
        // form's own earlier fields may have renamed it or given its folder
        // organiser data.
        const qsizetype slash = fieldIdentity_.lastIndexOf('/');
        const QString shownFolder = FolderLocation(fieldIdentity_.left(slash + 1), favorites_);
        if (ParseSortOrder(*was) !=
            organiser_.PositionBefore(shownFolder, fieldIdentity_.mid(slash + 1)))
            return skipped(what);
    }
    // An older page posts every position: one whose file is gone asked for
    // nothing that can be told.
    if (fieldFileExists())
        actOnFieldFile(&EditActions::SetSortOrder);
}

void EditActions::applyDelete(const QString& value) {
    if (value != QLatin1String("deleteme"))
        return;
    if (!fieldFileExists())
        return notFound(QStringLiteral("deleting %1").arg(esc(fieldPath_.mid(editFolder_.size()))));
    actOnFieldFile(&EditActions::DeleteFavourite);
}

void EditActions::followed(const QString& from, const QString& to) {
    if (from == fieldPath_)
        currentPath_.insert(fieldIdentity_, to);
}

void EditActions::refused(int errorCode, const QString& what) {
    addResult(QStringLiteral("Refused %1: %2 (error %3)<br>")
                  .arg(what, esc(QString::fromLocal8Bit(std::strerror(errorCode))))
                  .arg(errorCode));
    platform::showMessage(QString::number(errorCode));
}

void EditActions::skipped(const QString& what) {
    addResult(QStringLiteral("Skipped %1: the favourite has changed since this page was made; "
                             "reload the page to see it as it is now<br>")
                  .arg(what));
}

void EditActions::notFound(const QString& what) {
    addResult(QStringLiteral("Refused %1: the favourite is no longer in %2 folder<br>")
                  .arg(what, esc(RelativeFolder(editFolder_, favorites_))));
}

bool EditActions::MoveFavourite(const QString& folder, const platform::DirEntry& entry) {
    if (RelativeFolder(folder, favorites_) == targetFolder_)
        return false;
    const QString what = QStringLiteral("moving %1 to %2")
                             .arg(esc(withoutExtension(entry.name)), esc(targetFolder_));
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
        refused(ENOENT, what);
        return false;
    }
    if (realTarget != realFavorites && !isInside(realTarget, realFavorites)) {
        addResult(QStringLiteral("Refused moving %1: %2 is outside the Favorites folder<br>")
                      .arg(esc(withoutExtension(entry.name)), esc(targetFolder_)));
        return false;
    }
    // Favourites are told apart without regard to letter case (the organiser
    // data does): a second one of the same name in another case is refused.
    const QString twin = folders_.caseTwinOf(targetDir, entry.name, QString());
    if (!twin.isEmpty()) {
        addResult(QStringLiteral("Refused %1: the folder holds %2, a name that differs only "
                                 "by letter case<br>")
                      .arg(what, esc(twin)));
        return false;
    }
    int error = 0;
    if (!platform::renameNoReplace(folder + entry.name, targetDir + '/' + entry.name, &error)) {
        refused(error, what);
        return false;
    }
    followed(folder + entry.name, targetDir + '/' + entry.name);
    folders_.removed(folder, entry.name);
    folders_.added(targetDir, entry.name);
    addResult(QStringLiteral("Moved Favourite %1 to %2<br>")
                  .arg(esc(withoutExtension(entry.name)), esc(targetFolder_)));
    return false;
}

bool EditActions::RenameFavourite(const QString& folder, const platform::DirEntry& entry) {
    if (folder != editFolder_)
        return false;
    const QString newFile = newName_ + QStringLiteral(".URL");
    // A rename that changes letter case only is a rename.
    if (withoutExtension(entry.name) == newName_)
        return false;
    const QString what = QStringLiteral("renaming %1").arg(esc(withoutExtension(entry.name)));
    if (newName_.trimmed().isEmpty()) {
        addResult(QStringLiteral("Refused %1: the new name is blank<br>").arg(what));
        return false;
    }
    if (!IsSafeName(newName_) || newFile.toUtf8().size() > 255) {
        addResult(QStringLiteral("Refused renaming %1: %2 is not a file name<br>")
                      .arg(esc(withoutExtension(entry.name)), esc(newName_)));
        return false;
    }
    const QString twin = folders_.caseTwinOf(folder, newFile, entry.name);
    if (!twin.isEmpty()) {
        addResult(QStringLiteral("Refused %1 to %2: the folder holds %3, a name that differs "
                                 "only by letter case<br>")
                      .arg(what, esc(newName_), esc(twin)));
        return false;
    }
    int error = 0;
    if (!platform::renameNoReplace(folder + entry.name, folder + newFile, &error)) {
        refused(error, QStringLiteral("%1 to %2").arg(what, esc(newName_)));
        return false;
    }
    followed(folder + entry.name, folder + newFile);
    folders_.removed(folder, entry.name);
    folders_.added(folder, newFile);
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
    const QString name = esc(entry.name), typed = esc(sortOrderText_);
    const std::optional<qint64> requested = ParseSortOrder(sortOrderText_);
    if (!requested) {
        addResult(QStringLiteral("Favourite %1 sort order is Invalid. %2 is not a number<br>")
                      .arg(name, typed));
        return false;
    }
    const int current = organiser_.PositionOf(location, entry.name);
    if (*requested == current)
        return false;
    if (*requested > 255) {
        addResult(QStringLiteral("Favourite %1 sort order is too big. %2 is greater than 255<br>")
                      .arg(name, typed));
        return false;
    }
    if (*requested < 0) {
        addResult(QStringLiteral("Favourite %1 sort order is too small. %2 is less than 0<br>")
                      .arg(name, typed));
        return false;
    }
    if (entry.name.toUtf8().size() > catalogue::MaxOrderNameBytes) {
        addResult(QStringLiteral("Favourite %1 sort order cannot be kept: the name is too long "
                                 "for the organiser<br>")
                      .arg(name));
        return false;
    }
    // The program is the organiser data's only writer: a folder without it
    // gets it, listing its favourites in their present order.
    const bool caseTwin = !folders_.caseTwinOf(folder, entry.name, QString()).isEmpty();
    if (organiser_.SetPosition(
            location, entry.name, int(*requested), [&] { return folders_.shortcutsIn(folder); },
            caseTwin)) {
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
        const int error = errno;
        refused(error, QStringLiteral("deleting %1").arg(esc(entry.name)));
        return false;
    }
    folders_.removed(folder, entry.name);
    addResult(QStringLiteral("Deleted Favourite %1 from %2 folder<br>")
                  .arg(esc(entry.name), esc(RelativeFolder(folder, favorites_))));
    return false;
}

QString EditActions::shortcutNameFor(const QString& baseName, const QString& address,
                                     bool* alreadyThere) const {
    // Another favourite of the same name is never overwritten: the new one
    // gets a number. One of those names that already holds the address is
    // the favourite asked for, added before.
    const QStringList existing =
        QDir(favorites_)
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    auto taken = [&](const QString& name) {
        bool found = false;
        for (const QString& entry : existing) {
            if (entry.compare(name + QStringLiteral(".URL"), Qt::CaseInsensitive) != 0)
                continue;
            found = true;
            // Only a shortcut file itself can hold the address; a link's
            // target is never read.
            catalogue::ShortcutFile shortcut;
            const QString path = favorites_ + '/' + entry;
            if (isRegularFile(path) && shortcut.load(path) &&
                shortcut.value(catalogue::PropertySet::Shortcut, UrlPropertyId).text == address)
                *alreadyThere = true;
        }
        return found;
    };
    *alreadyThere = false;
    QString name = baseName;
    for (int number = 2; taken(name) && !*alreadyThere; ++number)
        name = QStringLiteral("%1 (%2)").arg(baseName).arg(number);
    return name;
}

void EditActions::AddFavouriteFromHistory(const QByteArray& name) {
    // The field name is the visited address as the browser encodes a form
    // field: decoded once, it is that address exactly, its query included.
    const QString address = QString::fromUtf8(DecodeFormValue(name));
    // The address becomes a line of the shortcut file: a line break in it
    // would add keys of its own.
    if (address.isEmpty() || hasControlCharacter(address)) {
        addResult(QStringLiteral("Refused adding %1: not a web address<br>").arg(esc(address)));
        return;
    }
    const QByteArray rawTitle = fetchTitle_(address).trimmed();
    const QString title = QString::fromUtf8(catalogue::UnescapeText(rawTitle));
    bool alreadyThere = false;
    const QString baseName =
        shortcutNameFor(SafeNameFromTitle(title, address), address, &alreadyThere);
    if (alreadyThere) {
        addResult(
            QStringLiteral("Favourite %1 already holds %2 <br>").arg(esc(baseName), esc(address)));
        return;
    }
    const QString file = favorites_ + '/' + baseName + QStringLiteral(".URL");
    if (!catalogue::WriteUrlFile(file, address, noteOwnChange_)) {
        addResult(QStringLiteral("Favourite %1 could not be written<br>").arg(esc(baseName)));
        return;
    }
    addResult(QStringLiteral("Added Favourite %1 <br>").arg(esc(baseName)));
}

} // namespace webserver
