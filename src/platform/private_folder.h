#pragma once
// A folder that only this user may enter, for files no other user may plant
// or read (the single-instance socket and its lock). It must be a real
// folder, not a link, owned by this user and closed to everyone else.
#include <QString>

namespace platform {

enum class PrivateFolder {
    Missing, // not there, and not to be made
    Ready,   // a folder of this user with mode 0700
    Refused, // a link, not a folder, another user's, or not reachable
};

enum class MakeMissing { No, Yes };

// Checks folder and makes it ready: a folder of this user that others may
// enter gets mode 0700, and with MakeMissing::Yes a missing one is made
// (with its missing parents) with mode 0700. Nothing of another user is
// changed; *error says why a folder is refused.
PrivateFolder preparePrivateFolder(const QString& folder, MakeMissing make, QString* error);

// Whether the entry at path, when there is one, is this user's: false with
// the reason in *error for an entry of another user (links not followed).
bool ownEntryOrNone(const QString& path, QString* error);

} // namespace platform
