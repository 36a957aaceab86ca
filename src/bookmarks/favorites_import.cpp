#include "bookmarks/favorites_import.h"

#include "catalogue/shortcut_file.h"
#include "platform/dir_enum.h"
#include "platform/file_create.h"
#include "webserver/edit_form.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <climits>
#include <memory>

namespace bookmarks {

namespace {

constexpr int UrlPropertyId = 2; // the address in a shortcut's first property set
const QString Extension = QStringLiteral(".URL");
// A whole-file write first writes "." + name + ".XXXXXX" beside the file.
constexpr int TemporaryNameExtra = 8;

bool fitsFileSystem(const QString& path) {
    return QFile::encodeName(path).size() + TemporaryNameExtra < PATH_MAX;
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
            else if (!entry.isDirectory && platform::matchesMask(entry.name, "*.url")) {
                catalogue::ShortcutFile shortcut;
                if (shortcut.load(path + '/' + entry.name))
                    addresses_.insert(
                        shortcut.value(catalogue::PropertySet::Shortcut, UrlPropertyId).text);
            }
        }
    }

    const QString& path() const { return path_; }
    bool holdsAddress(const QString& url) const { return addresses_.contains(url); }

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

    void addedShortcut(const QString& fileName, const QString& url) {
        taken_.insert(fileName.toLower());
        addresses_.insert(url);
    }
    void nameTaken(const QString& fileName) { taken_.insert(fileName.toLower()); }
    void addedFolder(const QString& name) {
        taken_.insert(name.toLower());
        folders_.insert(name.toLower(), name);
    }

private:
    QString path_;
    QSet<QString> taken_;             // every entry name, lower case
    QHash<QString, QString> folders_; // real folders: lower case -> name
    QSet<QString> addresses_;
    QHash<QString, int> nextNumber_; // where the numbering of a base name goes on
};

int countBookmarks(const BookmarkFolder& folder) {
    int count = int(folder.bookmarks.size());
    for (const auto& child : folder.folders)
        count += countBookmarks(*child);
    return count;
}

class Importer {
public:
    Importer(ImportSummary& summary, const NoteCreated& noteCreated)
        : summary_(summary), noteCreated_(noteCreated) {}

    // False once writing has failed.
    bool importFolder(const BookmarkFolder& folder, const QString& path) {
        FolderState state(path);
        bool receivedAny = false;
        for (const Bookmark& bookmark : folder.bookmarks) {
            if (!importBookmark(bookmark, state, &receivedAny))
                return false;
        }
        if (receivedAny)
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

private:
    bool importBookmark(const Bookmark& bookmark, FolderState& state, bool* receivedAny) {
        const QString url = bookmark.url.trimmed();
        if (url.isEmpty() || url.size() > MaxAddressLength ||
            std::any_of(url.cbegin(), url.cend(),
                        [](QChar c) { return c.unicode() < 32 || c.unicode() == 127; })) {
            ++summary_.unusable;
            return true;
        }
        if (!IsWebAddress(url)) {
            ++summary_.notWeb;
            return true;
        }
        if (state.holdsAddress(url)) {
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
                return true;
            }
            if (noteCreated_)
                noteCreated_(file);
            QString error;
            switch (catalogue::CreateUrlFile(file, url, &error)) {
            case platform::CreateResult::Created:
                state.addedShortcut(name + Extension, url);
                ++summary_.imported;
                *receivedAny = true;
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

    ImportSummary& summary_;
    const NoteCreated& noteCreated_;
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
    Importer(summary, noteCreated).importFolder(tree.root, root);
    // The shortcuts are not flushed one by one: once for all of them.
    platform::syncFileSystem(root);
    return summary;
}

} // namespace bookmarks
