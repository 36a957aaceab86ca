#pragma once
// The seam between the refresh run and the site worker. For every favourite
// the run builds the first pieces of its Link element and hands the text to
// FetchSiteInfo, which runs the worker (shortcut properties, site probe,
// picture) and appends the remaining pieces before returning. The run waits
// inside this call while events keep flowing.
//
// A run that knows its favourites in advance may tell the fetcher with
// planAhead, so their waits overlap; FetchSiteInfo still hands each result
// over in the order the run asks for them.
#include <QByteArray>
#include <QList>
#include <QString>

namespace catalogue {

// A favourite the run will ask for later.
struct PlannedFetch {
    QString folderPath; // native, ending in "/"
    QString fileName;
};

class SiteFetcher {
public:
    virtual ~SiteFetcher() = default;
    // folderPath is the native folder of the shortcut ending in "/";
    // forHistory selects the history picture folder. Appends to currentLink.
    virtual void FetchSiteInfo(const QString& folderPath, const QString& fileName, bool forHistory,
                               QByteArray& currentLink) = 0;

    // The favourites the run will ask for, in the order it will ask; work on
    // them may start at once. Replaces an earlier plan.
    virtual void planAhead(const QList<PlannedFetch>& plan) { (void)plan; }
    // Drops every favourite planned but not yet handed over: its work is
    // cut short and leaves nothing behind. The favourite being handed over
    // right now (a cancel arriving while the run waits for it) is kept.
    // Returns once the dropped work has ended, handling events meanwhile.
    virtual void dropAhead() {}
    // Cuts short the favourite being handed over right now, as a close
    // does: its requests fail at once, nothing more is sent and no picture
    // is taken. A cancelled run writes nothing, so finishing it would only
    // make the user wait. Does not wait.
    virtual void abandonCurrent() {}

    // The first picture since the last clear that could not be stored
    // (empty: none).
    virtual QString pictureFailure() const { return {}; }
    virtual void clearPictureFailures() {}
};

} // namespace catalogue
