#pragma once
// The bookmarks read from a browser or a bookmarks file, as one folder tree,
// before anything is written. Readers build it through TreeBuilder, which
// keeps folders no deeper than the Favorites tree takes and only counts what
// lies below, so a file of any nesting costs memory for what is kept alone.
#include <QList>
#include <QString>

#include <memory>

namespace bookmarks {

// Folders deeper than this below the Favorites folder are not imported.
inline constexpr int MaxFolderDepth = 32;
// Longer names are cut anyway when they become file names.
inline constexpr qsizetype MaxKeptNameLength = 1024;
// Longer addresses are no usable favourite.
inline constexpr qsizetype MaxAddressLength = 2 * 1024 * 1024;
// Bookmark files and databases above this size are not read.
inline constexpr qint64 MaxSourceBytes = 128LL * 1024 * 1024;

struct BookmarkFolder;

struct Bookmark {
    QString name;
    QString url;
    qint64 addedMs = 0; // when the browser added it, ms since 1970 UTC; 0: not known
};

struct BookmarkFolder {
    QString name;
    QList<Bookmark> bookmarks;
    QList<std::shared_ptr<BookmarkFolder>> folders;
};

// How many skipped bookmarks a summary names.
inline constexpr int NamedSkips = 10;

struct BookmarkTree {
    BookmarkFolder root;          // stands for the Favorites folder itself
    int tooDeep = 0;              // bookmarks in folders deeper than MaxFolderDepth
    QList<Bookmark> tooDeepFirst; // the first NamedSkips of them
};

class TreeBuilder {
public:
    explicit TreeBuilder(BookmarkTree& tree);

    // Opens a folder inside the current one; closeFolder() returns to it.
    void openFolder(const QString& name);
    void closeFolder();
    // addedMs as Bookmark::addedMs.
    void addBookmark(const QString& name, const QString& url, qint64 addedMs = 0);
    // The current nesting (0: the Favorites folder itself).
    int depth() const { return depth_; }
    // The bookmarks added so far, kept or not.
    qint64 added() const { return added_; }

private:
    BookmarkTree& tree_;
    QList<BookmarkFolder*> open_; // the kept folders from the root down
    int depth_ = 0;
    qint64 added_ = 0;
};

} // namespace bookmarks
