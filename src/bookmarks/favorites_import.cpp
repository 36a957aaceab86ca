#include "bookmarks/favorites_import.h"

#include "catalogue/favourite_order.h"
#include "catalogue/shortcut_file.h"
#include "platform/dir_enum.h"
#include "platform/file_create.h"
#include "platform/paths.h"
#include "webserver/edit_form.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <climits>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>

namespace bookmarks {

namespace {

constexpr int UrlPropertyId = 2; // the address in a shortcut's first property set
const QString Extension = QStringLiteral(".URL");
// A whole-file write first writes "." + name + ".XXXXXX" beside the file.
constexpr int TemporaryNameExtra = 8;

bool fitsFileSystem(const QString& path) {
    return QFile::encodeName(path).size() + TemporaryNameExtra < PATH_MAX;
}

// The address of every shortcut in the Favorites tree (folders reached by
// a symbolic link left out, as the refresh leaves them).
QSet<QString> addressesIn(const QString& root) {
    QSet<QString> addresses;
    QStringList folders{root};
    while (!folders.isEmpty()) {
        const QString folder = folders.takeLast();
        for (const platform::DirEntry& entry : platform::listDirectory(folder)) {
            const QString path = folder + '/' + entry.name;
            if (entry.isDirectory) {
                if (!entry.isSymLink)
                    folders << path;
            } else if (platform::matchesMask(entry.name, "*.url")) {
                catalogue::ShortcutFile shortcut;
                if (shortcut.load(path))
                    addresses.insert(
                        shortcut.value(catalogue::PropertySet::Shortcut, UrlPropertyId).text);
            }
        }
    }
    return addresses;
}

// What one Favorites folder already holds, kept up to date as the import
// writes into it, so each bookmark costs a lookup, not a folder listing.
class FolderState {
public:
    explicit FolderState(const QString& path) : path_(path) {
        for (const platform::DirEntry& entry : platform::listDirectory(path)) {
            const QString key = entry.name.toLower();
            taken_.insert(key);
            if (entry.isDirectory && !entry.isSymLink)
                folders_.insert(key, entry.name);
        }
    }

    const QString& path() const { return path_; }

    // The first of base, "base (2)", ... for which usable() holds, each
    // candidate cut so that it stays within a file name.
    template <typename Usable>
    QString numbered(const QString& base, const QString& extension, Usable usable) {
        int& number = nextNumber_[base.toLower() + extension.toLower()];
        if (number == 0) {
            if (usable(base))
                return base;
            number = 2;
        }
        for (;; ++number) {
            const QString suffix = QStringLiteral(" (%1)").arg(number);
            const QString cut =
                webserver::CutToUtf8Bytes(base, webserver::MaxNameBytes - int(suffix.size()));
            const QString candidate = cut.trimmed() + suffix;
            if (usable(candidate))
                return candidate;
        }
    }

    // A free shortcut name (without extension) for a bookmark.
    QString freeShortcutName(const QString& base) {
        return numbered(base, Extension, [&](const QString& name) {
            return !taken_.contains((name + Extension).toLower());
        });
    }

    // The folder of that name (without regard to case) that is already
    // there, or a free name for a new one: a file of the name is passed over.
    QString folderName(const QString& base, bool* exists) {
        const QString name = numbered(base, QString(), [&](const QString& candidate) {
            const QString key = candidate.toLower();
            return folders_.contains(key) || !taken_.contains(key);
        });
        *exists = folders_.contains(name.toLower());
        return *exists ? folders_.value(name.toLower()) : name;
    }

    void addedShortcut(const QString& fileName) { taken_.insert(fileName.toLower()); }
    void nameTaken(const QString& fileName) { taken_.insert(fileName.toLower()); }
    void addedFolder(const QString& name) {
        taken_.insert(name.toLower());
        folders_.insert(name.toLower(), name);
    }

private:
    QString path_;
    QSet<QString> taken_;             // every entry name, lower case
    QHash<QString, QString> folders_; // real folders: lower case -> name
    QHash<QString, int> nextNumber_;  // where the numbering of a base name goes on
};

int countBookmarks(const BookmarkFolder& folder) {
    int count = int(folder.bookmarks.size());
    for (const auto& child : folder.folders)
        count += countBookmarks(*child);
    return count;
}

// Dates a new shortcut by its bookmark; a date not known or in the future
// leaves the time of writing. A failure only costs the date.
void dateShortcut(const QString& file, qint64 addedMs) {
    if (addedMs <= 0 || addedMs > QDateTime::currentMSecsSinceEpoch())
        return;
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(addedMs / 1000);
    times[1].tv_nsec = long(addedMs % 1000) * 1000000;
    ::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, 0);
}

class Importer {
public:
    Importer(ImportSummary& summary, const QString& root, const NoteCreated& noteCreated)
        : summary_(summary), root_(root), noteCreated_(noteCreated) {}

    // False once writing has failed.
    bool importFolder(const BookmarkFolder& folder, const QString& path) {
        FolderState state(path);
        QStringList written; // file names, in the browser's order
        for (const Bookmark& bookmark : folder.bookmarks) {
            if (!importBookmark(bookmark, state, &written)) {
                keepOrder(path, written);
                return false;
            }
        }
        keepOrder(path, written);
        if (!written.isEmpty())
            receivers_.insert(path);
        summary_.folders = int(receivers_.size());
        for (const auto& child : folder.folders) {
            const QString base = webserver::CleanFileName(child->name);
            bool exists = false;
            const QString name =
                state.folderName(base.isEmpty() ? QStringLiteral("Unnamed folder") : base, &exists);
            const QString childPath = path + '/' + name;
            if (!fitsFileSystem(childPath + '/' + Extension)) {
                summary_.pathTooLong += countBookmarks(*child);
                noteSkip(Bookmark{child->name + '/', {}}, QStringLiteral("folder path too long"));
                continue;
            }
            if (!exists) {
                if (noteCreated_)
                    noteCreated_(childPath);
                if (!QDir().mkdir(childPath)) {
                    summary_.error = QStringLiteral("Cannot create the folder %1").arg(childPath);
                    return false;
                }
                state.addedFolder(name);
            }
            if (!importFolder(*child, childPath))
                return false;
        }
        return true;
    }

    void noteSkip(const Bookmark& bookmark, const QString& reason) {
        if (summary_.firstSkipped.size() >= NamedSkips)
            return;
        constexpr int Shown = 80;
        const auto cut = [](const QString& text) {
            return text.size() > Shown ? text.left(Shown) + QStringLiteral("...") : text;
        };
        QString line = QStringLiteral("\"%1\"").arg(cut(bookmark.name));
        if (!bookmark.url.isEmpty())
            line += QStringLiteral(" <%1>").arg(cut(bookmark.url));
        summary_.firstSkipped << line + QStringLiteral(": ") + reason;
    }

private:
    // The folder's new shortcuts take the next organiser positions; every
    // folder's are written at the end, in one registry write.
    void keepOrder(const QString& path, const QStringList& written) {
        if (written.isEmpty())
            return;
        const QString location =
            path == root_ ? QString() : platform::toBackslashForm(path.mid(root_.size() + 1));
        orders_.append({location, written});
    }

    bool importBookmark(const Bookmark& bookmark, FolderState& state, QStringList* written) {
        const QString url = bookmark.url.trimmed();
        if (url.isEmpty() || url.size() > MaxAddressLength ||
            std::any_of(url.cbegin(), url.cend(),
                        [](QChar c) { return c.unicode() < 32 || c.unicode() == 127; })) {
            ++summary_.unusable;
            noteSkip(bookmark, QStringLiteral("no usable address"));
            return true;
        }
        if (!IsWebAddress(url)) {
            ++summary_.notWeb;
            noteSkip(bookmark, QStringLiteral("not a web address"));
            return true;
        }
        // The tree is read once, when the first bookmark needs it: an
        // import with nothing new (every refresh's, often) reads nothing.
        if (!addresses_)
            addresses_ = addressesIn(root_);
        if (addresses_->contains(url)) {
            ++summary_.alreadyThere;
            return true;
        }
        const QString base = webserver::SafeNameFromTitle(bookmark.name, url);
        // A name taken since the folder was listed is passed over as well.
        for (;;) {
            const QString name = state.freeShortcutName(base);
            const QString file = state.path() + '/' + name + Extension;
            if (!fitsFileSystem(file)) {
                ++summary_.pathTooLong;
                noteSkip(bookmark, QStringLiteral("path too long"));
                return true;
            }
            if (noteCreated_)
                noteCreated_(file);
            QString error;
            switch (catalogue::CreateUrlFile(file, url, &error)) {
            case platform::CreateResult::Created:
                dateShortcut(file, bookmark.addedMs);
                state.addedShortcut(name + Extension);
                addresses_->insert(url);
                ++summary_.imported;
                if (url.startsWith(QLatin1String("https:"), Qt::CaseInsensitive))
                    ++summary_.secure;
                written->append(name + Extension);
                return true;
            case platform::CreateResult::NameTaken:
                state.nameTaken(name + Extension);
                continue;
            case platform::CreateResult::Failed:
                summary_.error = QStringLiteral("Cannot write the favourite %1").arg(error);
                return false;
            }
        }
    }

public:
    void saveOrders() {
        QString error;
        if (!catalogue::AppendOrganiserPositions(orders_, &error))
            summary_.orderError = error;
    }

private:
    ImportSummary& summary_;
    const QString root_;
    const NoteCreated& noteCreated_;
    std::optional<QSet<QString>> addresses_; // of every favourite, the new ones included
    QList<catalogue::AppendedOrder> orders_;
    QSet<QString> receivers_; // the folders that received a favourite
};

} // namespace

bool IsWebAddress(const QString& url) {
    const qsizetype colon = url.indexOf(':');
    if (colon <= 0)
        return false;
    const QString scheme = url.left(colon).toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
           scheme == QLatin1String("ftp") || scheme == QLatin1String("file");
}

QString ImportSummary::text() const {
    QString text =
        QStringLiteral("Imported %1 favourites into %2 folders; %3 already there; %4 skipped")
            .arg(imported)
            .arg(folders)
            .arg(alreadyThere)
            .arg(skipped());
    // Left unchecked by default, they would show only a padlock card.
    if (secure)
        text += QStringLiteral("\n%1 of them are https sites: Pagorama checks and pictures those "
                               "only with \"Picture secure (https) sites\" ticked "
                               "(SecureSites=1)")
                    .arg(secure);
    QStringList reasons;
    if (notWeb)
        reasons
            << QStringLiteral("%1 not web addresses (javascript:, place:, data:, ...)").arg(notWeb);
    if (unusable)
        reasons << QStringLiteral("%1 without a usable address").arg(unusable);
    if (tooDeep)
        reasons << QStringLiteral("%1 in folders nested deeper than %2 levels")
                       .arg(tooDeep)
                       .arg(MaxFolderDepth);
    if (pathTooLong)
        reasons << QStringLiteral("%1 whose path would be too long for the file system")
                       .arg(pathTooLong);
    if (!reasons.isEmpty())
        text += QStringLiteral("\nSkipped: ") + reasons.join(QStringLiteral(", "));
    for (const QString& line : firstSkipped)
        text += QStringLiteral("\n  ") + line;
    if (skipped() > firstSkipped.size() && !firstSkipped.isEmpty())
        text += QStringLiteral("\n  ... and %1 more").arg(skipped() - firstSkipped.size());
    if (!orderError.isEmpty())
        text += QStringLiteral("\nThe organiser order was not saved: ") + orderError;
    return text;
}

ImportSummary WriteIntoFavorites(const BookmarkTree& tree, const QString& favoritesFolder,
                                 const NoteCreated& noteCreated) {
    ImportSummary summary;
    summary.tooDeep = tree.tooDeep;
    const QString root = QDir::cleanPath(favoritesFolder);
    if (!QDir().mkpath(root)) {
        summary.error = QStringLiteral("Cannot create the Favorites folder %1").arg(root);
        return summary;
    }
    Importer importer(summary, root, noteCreated);
    for (const Bookmark& bookmark : tree.tooDeepFirst)
        importer.noteSkip(bookmark, QStringLiteral("folder nested too deep"));
    importer.importFolder(tree.root, root);
    importer.saveOrders();
    // The shortcuts are not flushed one by one: once for all of them.
    platform::syncFileSystem(root);
    return summary;
}

} // namespace bookmarks
