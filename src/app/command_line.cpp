#include "app/command_line.h"

#include "app/control_command.h"
#include "app/control_requests.h"
#include "app/single_instance.h"
#include "bookmarks/bookmarks.h"
#include "bookmarks/import_record.h"
#include "platform/paths.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdio>

namespace app {

namespace {

const char* const HelpText =
    "Usage: pagorama [OPTION]\n"
    "Without an option Pagorama starts: it turns the favourites in ~/Favorites into\n"
    "picture pages and serves them from its own web server. It starts with your\n"
    "desktop session unless \"Start Pagorama with Windows\" is unticked in its\n"
    "configuration window.\n"
    "\n"
    "Options:\n"
    "  --show                     open the configuration window: the running copy's,\n"
    "                             or start Pagorama with its window shown\n"
    "  --import-bookmarks SOURCE  bring a browser's bookmarks into ~/Favorites and end;\n"
    "                             SOURCE is chromium (every profile of Chromium, Google\n"
    "                             Chrome, Brave, Vivaldi and Edge), firefox (every\n"
    "                             Firefox profile), all (both) or the path of a\n"
    "                             bookmarks HTML file exported by a browser.\n"
    "                             Nothing in Favorites is replaced; running it again\n"
    "                             imports only what is new.\n"
    "  --export-bookmarks FILE    write ~/Favorites to FILE as a bookmarks HTML file\n"
    "                             that browsers import, and end; FILE - is standard\n"
    "                             output, and only a regular file is replaced\n"
    "\n"
    "Control of the running copy (they never start one):\n"
    "  --refresh                  start a refresh run, as \"Manually Refresh\" does\n"
    "  --cancel                   cancel the refresh run in progress\n"
    "  --quit                     end the program as \"Shutdown Pagorama\" does;\n"
    "                             the settings are saved\n"
    "  --status                   print the status line, the progress of the run\n"
    "                             and the address of the pages\n"
    "\n"
    "  --version                  print the version and end\n"
    "  -h, --help                 show this text and end\n"
    "\n"
    "Exit status: 0 done, 1 failed (the message says why), 2 wrong options or,\n"
    "for the control options, \"Pagorama is not running\".\n";

// The control options and the request each one sends.
struct ControlOption {
    const char* option;
    const char* request;
};
const ControlOption ControlOptions[] = {{"--refresh", RefreshRequest},
                                        {"--cancel", CancelRequest},
                                        {"--quit", QuitRequest},
                                        {"--status", StatusRequest},
                                        {"--show", ShowRequest}};

void print(FILE* stream, const QString& text) {
    std::fputs(text.toUtf8().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

int usageError(const QString& message) {
    print(stderr,
          QStringLiteral("pagorama: %1\nTry 'pagorama --help' for the options.").arg(message));
    return ExitUsage;
}

int runImport(const QString& source) {
    const bookmarks::ImportResult result = bookmarks::importAndRecord(
        source, platform::favoritesFolder(), bookmarks::importRecordPath());
    for (const QString& line : result.skipped)
        print(stderr, QStringLiteral("pagorama: ") + line);
    // A write that failed part way still says what was imported before it.
    if (result.ok || result.summary.imported > 0)
        print(stdout, result.text());
    if (!result.ok) {
        print(stderr, QStringLiteral("pagorama: cannot import bookmarks: %1").arg(result.error));
        return ExitFailed;
    }
    return ExitSucceeded;
}

int runExport(const QString& file) {
    const bookmarks::ExportResult result =
        bookmarks::exportBookmarks(platform::favoritesFolder(), file);
    if (!result.ok) {
        print(stderr, QStringLiteral("pagorama: cannot export bookmarks: %1").arg(result.error));
        return ExitFailed;
    }
    // With the bookmarks on standard output, the summary goes to stderr.
    const bool toOutput = file == QLatin1String(bookmarks::StandardOutputName);
    QString text = QStringLiteral("Exported %1 favourites in %2 folders to %3")
                       .arg(result.summary.bookmarks)
                       .arg(result.summary.folders)
                       .arg(toOutput ? QStringLiteral("standard output") : file);
    if (result.summary.withoutAddress)
        text += QStringLiteral("; %1 shortcuts without an address left out")
                    .arg(result.summary.withoutAddress);
    print(toOutput ? stderr : stdout, text);
    return ExitSucceeded;
}

} // namespace

bool showWindowAsked(int argc, char** argv) {
    return argc == 2 && qstrcmp(argv[1], "--show") == 0;
}

std::optional<int> runCommandLineOptions(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QFile::decodeName(argv[i]);
    if (args.isEmpty())
        return std::nullopt;

    const QString& option = args.first();
    if (option == QLatin1String("--help") || option == QLatin1String("-h")) {
        std::fputs(HelpText, stdout);
        return ExitSucceeded;
    }
    if (option == QLatin1String("--version")) {
        // PAGORAMA_VERSION is the project's version, set by the build.
        std::fputs("Pagorama " PAGORAMA_VERSION "\n", stdout);
        return ExitSucceeded;
    }
    const bool importing = option == QLatin1String("--import-bookmarks");
    const bool exporting = option == QLatin1String("--export-bookmarks");
    if (importing || exporting) {
        if (args.size() < 2 || args.at(1).isEmpty())
            return usageError(
                QStringLiteral("%1 needs %2").arg(option, importing ? "SOURCE" : "FILE"));
        if (args.size() > 2)
            return usageError(QStringLiteral("unexpected argument %1").arg(args.at(2)));
        return importing ? runImport(args.at(1)) : runExport(args.at(1));
    }
    const bool showing = option == QLatin1String("--show");
    for (const ControlOption& control : ControlOptions) {
        if (option != QLatin1String(control.option))
            continue;
        if (args.size() > 1)
            return usageError(QStringLiteral("unexpected argument %1").arg(args.at(1)));
        // With no copy running, --show starts the program with its window.
        if (showing && !SingleInstance::claimHeld(SingleInstance::serverName()))
            return std::nullopt;
        int applicationArgc = 1;
        QCoreApplication application(applicationArgc, argv);
        return sendControlRequest(control.request);
    }
    // Single-dash arguments stay for Qt (-platform, -style, ...).
    if (option.startsWith(QLatin1String("--")))
        return usageError(QStringLiteral("unknown option %1").arg(option));
    return std::nullopt;
}

} // namespace app
