// A bookmarks HTML file as browsers export it.
#include "bookmark_reading.h"
#include "bookmarks/html_bookmarks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::readBookmarks(data, size, bookmarks::ReadHtmlBookmarks);
    return 0;
}
