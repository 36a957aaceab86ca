#pragma once
// The headless browser as a child process: started with its DevTools pipe
// on descriptors 3 and 4, in a process group of its own, with a profile
// folder of its own in the temporary folder; ended with everything it
// started, its profile removed.
#include <QString>

#include <sys/types.h>

#include <optional>

namespace catalogue {

struct BrowserProcess {
    pid_t pid = 0;
    int toBrowser = -1;   // our end of its descriptor 3, non-blocking
    int fromBrowser = -1; // our end of its descriptor 4, non-blocking
    QString profileDir;
    int profileLock = -1; // held while the profile is in use
    bool reaped = false;  // the process has been waited for
};

// The installed Chromium, empty when there is none.
QString findInstalledBrowser();

// Starts the browser program; nothing when it could not be started. It is
// killed when the calling thread ends (also by kill -9 of the program), so
// call it from the program's main thread, which also gives it normal
// scheduling. With sharedRenderers > 0 the pages it loads share at most that
// many renderer processes instead of one new process for each site: its
// throwaway profile holds no cookie, login or data of the user's that
// keeping sites apart would protect. With a trustDatabase (see
// TrustDatabaseFor), the browser trusts the certificates in it beside its own.
std::optional<BrowserProcess> launchBrowser(const QString& program, int sharedRenderers = 0,
                                            const QString& trustDatabase = {});

// True while the process has not exited; reaps it (and notes that) once it has.
bool browserStillRuns(BrowserProcess& browser);

// Asks the whole group to end without waiting (wakes whatever waits on the pipe).
void askBrowserToEnd(const BrowserProcess& browser);

// Ends the whole group (SIGTERM, SIGKILL after a grace time), closes the
// pipe ends the browser struct still holds, and removes the profile.
void endBrowser(BrowserProcess& browser);

// Removes the profiles that copies of the program which have ended left in
// the temporary folder; those of running copies stay.
void removeStaleBrowserProfiles();

} // namespace catalogue
