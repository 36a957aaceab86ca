#pragma once
// Where Pagorama keeps its files on Linux. Every path is computed from the
// environment at call time, so a process (or a test) with another HOME or
// XDG_CONFIG_HOME sees other folders.
#include <QString>

namespace platform {

QString homeFolder();
// $XDG_CONFIG_HOME when it is an absolute path (a relative one is ignored, as
// the XDG rules say), else ~/.config; no trailing separator. Every user
// folder below it (settings, autostart, browsers' data) is found from here.
QString configHome();
// The user's documents folder: XDG_DOCUMENTS_DIR from user-dirs.dirs, else ~/Documents.
QString documentsFolder();
// <documents>/pagorama/ with a trailing separator.
QString dataFolder();
// The web server's document folder: the data folder without its trailing separator.
QString documentFolder();
// ~/Favorites, no trailing separator.
QString favoritesFolder();
// $XDG_CONFIG_HOME/pagorama/ (default ~/.config/pagorama/), created when missing.
QString programFolder();

QString settingsFilePath();     // pagorama.ini
QString serverLogFilePath();    // pagorama.log
QString exceptionLogFilePath(); // PagoraERRORLOG.txt
QString runTraceFilePath();     // files.log
QString formRecordsFilePath();  // values.log
QString formCopyFilePath();     // CgiFrm1.txt
QString registryFilePath();     // registry.reg

// $XDG_CACHE_HOME/pagorama (normally ~/.cache/pagorama): files the program
// may lose without harm; no trailing separator, not created here.
QString cacheFolder();

// The folder of the single-instance socket and its lock, only this user's:
// $XDG_RUNTIME_DIR/pagorama, or without XDG_RUNTIME_DIR $XDG_CACHE_HOME/pagorama
// (normally ~/.cache/pagorama). Not created here (see private_folder.h).
QString controlFolder();

// The temporary folder with a trailing separator.
QString tempFolder();

// Relative paths shown in files, pages and answers keep the backslash form
// ("News\Tech"); native paths use "/". These two are the only conversions.
QString toBackslashForm(const QString& nativeRelative);
QString fromBackslashForm(const QString& backslashRelative);

} // namespace platform
