#pragma once
// The program's ties to the desktop and the browser, all through the
// registry: the autostart entry, the takeover of the browser's start page
// (so the browser opens on the program's own pages), and opening a page in
// the default browser found through the ".htm" file type.
#include "platform/registry.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <stdexcept>

namespace app {

// A failure the user is told about, with its fixed text.
class IntegrationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Writes (enabled) or deletes the HKEY_LOCAL_MACHINE Run value valueName
// with data, creating the key when needed. Failures are ignored.
void UpdateAutostart(const QString& valueName, const QString& data, bool enabled);

struct RegistryText {
    long result = platform::regerror::NotFound; // regerror::Success or the error
    QString text;
};

// The default (unnamed) text value of root\keyPath; the error result and no
// text when the key cannot be opened or has no text default value.
RegistryText ReadRegDefault(platform::RegistryHive root, const QString& keyPath);

// "http://localhost:" + port + "/": the address the browser's start page is set to.
QString programStartPageAddress(const QString& port);

enum class StartPageTakeover {
    NoBrowserKey,   // the browser's Main key does not exist: nothing done
    AlreadyProgram, // the start page is already this address
    TakenOver,      // the old start page was kept as a favourite, then replaced
    ReplacedOwn,    // an earlier address of the program was replaced; the kept favourite stays
};

// Points the browser's "Start Page" at programStartPageAddress(port). A
// foreign start page is first written to favoritesFolder/"_Old Home Page.URL"
// through writeUrlFile (the program's shortcut writer); the start page is
// only changed once that succeeded. A start page of an earlier port of the
// program does not replace a kept favourite. Throws IntegrationError when
// the favourite or the start page cannot be written.
StartPageTakeover TakeOverStartPage(
    const QString& port, const QString& favoritesFolder,
    const std::function<bool(const QString& fileName, const QString& url)>& writeUrlFile);

// The command line of the default browser: the ".htm" type's open command,
// or nothing when the registry has none.
std::optional<QString> DefaultBrowserCommand();

// The command line cut just before its "%1" placeholder ("\"%1\"" with its
// quotes when present); the whole line when it has none.
QString CutAtPlaceholder(const QString& command);

// Splits a command line into words as a POSIX shell does (blanks separate;
// single quotes, double quotes and backslashes quote), without expanding
// anything. Nothing when a quote is left open.
std::optional<QStringList> SplitCommandLine(const QString& commandLine);

// The words that start the browser on address: the cut command line, split,
// then the address as one more word (a blank and the address appended, with
// the address kept whole whatever it holds). Nothing when the command line
// cannot be split or holds no program.
std::optional<QStringList> BrowserLaunchWords(const QString& command, const QString& address);

// Opens address in the default browser: nothing when the registry names
// none; throws IntegrationError when the browser cannot be started.
void OpenInDefaultBrowser(const QString& address);

} // namespace app
