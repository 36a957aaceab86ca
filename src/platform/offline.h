#pragma once
// Whether the user has put the machine's web access offline: the value
// "GlobalUserOffline" under HKEY_CURRENT_USER
// "Software\Microsoft\Windows\CurrentVersion\Internet Settings". A non-zero
// number (or a non-empty text that is not a number) means offline; without
// the value the machine is online.
namespace platform {

bool isOffline();

} // namespace platform
