#pragma once
// What the two bookmark readers' fuzz targets share: read the input into a
// tree, then check that every folder it opened was closed and no folder is
// kept deeper than the Favorites tree takes.
#include "bookmarks/bookmark_tree.h"
#include "fuzz_input.h"

#include <algorithm>

namespace fuzz {

inline int keptDepth(const bookmarks::BookmarkFolder& folder) {
    int deepest = 0;
    for (const auto& child : folder.folders)
        deepest = std::max(deepest, 1 + keptDepth(*child));
    return deepest;
}

template <typename Reader>
void readBookmarks(const uint8_t* data, size_t size, Reader read) {
    bookmarks::BookmarkTree tree;
    bookmarks::TreeBuilder builder(tree);
    QString error;
    if (read(bytesOf(data, size), builder, &error))
        FUZZ_CHECK(builder.depth() == 0);
    else
        FUZZ_CHECK(!error.isEmpty());
    FUZZ_CHECK(keptDepth(tree.root) <= bookmarks::MaxFolderDepth);
}

} // namespace fuzz
