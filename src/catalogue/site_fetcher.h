#pragma once
// The seam between the refresh run and the site worker. For every favourite
// the run builds the first pieces of its Link element and hands the text to
// FetchSiteInfo, which runs the worker (shortcut properties, site probe,
// picture) and appends the remaining pieces before returning. The run waits
// inside this call while events keep flowing.
#include <QByteArray>
#include <QString>

namespace catalogue {

class SiteFetcher {
public:
    virtual ~SiteFetcher() = default;
    // folderPath is the native folder of the shortcut ending in "/";
    // forHistory selects the history picture folder. Appends to currentLink.
    virtual void FetchSiteInfo(const QString& folderPath, const QString& fileName, bool forHistory,
                               QByteArray& currentLink) = 0;
};

} // namespace catalogue
