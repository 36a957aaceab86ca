#include "bookmarks/bookmark_tree.h"

namespace bookmarks {

TreeBuilder::TreeBuilder(BookmarkTree& tree) : tree_(tree) {
    open_.append(&tree_.root);
}

void TreeBuilder::openFolder(const QString& name) {
    ++depth_;
    if (depth_ > MaxFolderDepth)
        return;
    auto folder = std::make_shared<BookmarkFolder>();
    folder->name = name.left(MaxKeptNameLength);
    open_.back()->folders.append(folder);
    open_.append(folder.get());
}

void TreeBuilder::closeFolder() {
    if (depth_ == 0)
        return;
    if (depth_ <= MaxFolderDepth)
        open_.removeLast();
    --depth_;
}

void TreeBuilder::addBookmark(const QString& name, const QString& url, qint64 addedMs) {
    ++added_;
    if (depth_ > MaxFolderDepth) {
        ++tree_.tooDeep;
        if (tree_.tooDeepFirst.size() < NamedSkips)
            tree_.tooDeepFirst.append({name.left(MaxKeptNameLength), url.left(MaxKeptNameLength)});
        return;
    }
    // An address too long to use is kept as none, so it costs no memory.
    open_.back()->bookmarks.append(
        {name.left(MaxKeptNameLength), url.size() > MaxAddressLength ? QString() : url, addedMs});
}

} // namespace bookmarks
