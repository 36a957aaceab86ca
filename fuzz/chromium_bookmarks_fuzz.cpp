// A Chromium-family browser's Bookmarks file (JSON).
#include "bookmark_reading.h"
#include "bookmarks/chromium_bookmarks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::readBookmarks(data, size, bookmarks::ReadChromiumBookmarks);
    return 0;
}
