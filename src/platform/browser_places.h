#pragma once
// Where the user's browsers keep their profiles: the one list of places that
// the bookmarks import and the history reader both use. Two families:
//  - Firefox: a folder with profiles.ini (~/.mozilla/firefox,
//    $XDG_CONFIG_HOME/mozilla/firefox, the snap's and the flatpak's), every
//    [ProfileN] section naming a profile folder by Path (relative to that
//    folder when not absolute) and its display name by Name (without the
//    file, the folders holding a places.sqlite);
//  - the Chromium family (Chromium, Google Chrome, Brave, Vivaldi, Microsoft
//    Edge, each also as snap and flatpak): a user-data folder whose
//    "Local State" lists the profile folders in profile.info_cache with
//    their display names ("Default", "Profile 1", ...). Without such a list
//    the folders named Default and "Profile N" are the profiles.
#include <QList>
#include <QString>
#include <QStringList>

namespace platform {

enum class BrowserFamily { Firefox, Chromium };

struct BrowserProfile {
    BrowserFamily family = BrowserFamily::Firefox;
    QString browser; // "Firefox", "Google Chrome", "Brave (snap)", ...
    QString name;    // the profile's display name
    QString folder;  // the profile folder, symbolic links resolved
    // "Brave (snap), profile "Work"", for summaries.
    QString label() const;
};

struct BrowserProfiles {
    QList<BrowserProfile> profiles;
    // One line per place or profile that was passed over, naming it and why
    // (a profile folder that is missing, a Local State that is not JSON, a
    // symbolic link loop, ...).
    QStringList skipped;
};

// Every profile of the family in the current HOME and XDG_CONFIG_HOME, each
// folder once, in a stable order (places as listed above, then profiles as
// their lists give them).
BrowserProfiles findBrowserProfiles(BrowserFamily family);

// The folders searched for the family, for messages ("~/.mozilla/firefox, ...").
QString searchedPlaces(BrowserFamily family);

} // namespace platform
