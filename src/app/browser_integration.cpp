#include "app/browser_integration.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

namespace app {

namespace {

using platform::RegistryHive;
namespace regerror = platform::regerror;

const QString RunKey = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString BrowserMainKey = QStringLiteral("\\Software\\Microsoft\\Internet Explorer\\Main");
const QString StartPageValue = QStringLiteral("Start Page");
const QString KeptStartPageFile = QStringLiteral("_Old Home Page.URL");
const QString LaunchFailure = QStringLiteral("Couldn't launch default browser");

// Any port's start page address of this program.
bool isProgramStartPage(const QString& address) {
    static const QRegularExpression own(QStringLiteral("^http://localhost:[0-9]+/$"),
                                        QRegularExpression::CaseInsensitiveOption);
    return own.match(address).hasMatch();
}

} // namespace

void UpdateAutostart(const QString& valueName, const QString& data, bool enabled) {
    platform::RegistryKey key;
    if (key.open(RegistryHive::LocalMachine, RunKey, true) != regerror::Success)
        return;
    // Housekeeping: a value that cannot be written or deleted is left as it is.
    if (enabled)
        key.writeString(valueName, data);
    else
        key.deleteValue(valueName);
}

RegistryText ReadRegDefault(RegistryHive root, const QString& keyPath) {
    platform::RegistryKey key;
    RegistryText read;
    read.result = key.open(root, keyPath, false);
    if (read.result != regerror::Success)
        return read;
    const std::optional<QString> text = key.readString(QString());
    key.close();
    if (!text) {
        read.result = regerror::NotFound;
        return read;
    }
    read.text = *text;
    return read;
}

QString programStartPageAddress(const QString& port) {
    return QStringLiteral("http://localhost:") + port + QLatin1Char('/');
}

StartPageTakeover TakeOverStartPage(
    const QString& port, const QString& favoritesFolder,
    const std::function<bool(const QString& fileName, const QString& url)>& writeUrlFile) {
    platform::RegistryKey key;
    if (key.open(RegistryHive::CurrentUser, BrowserMainKey, false) != regerror::Success)
        return StartPageTakeover::NoBrowserKey;
    const QString current = key.readString(StartPageValue).value_or(QString());
    const QString address = programStartPageAddress(port);
    if (current.toLower() == address.toLower())
        return StartPageTakeover::AlreadyProgram;

    // The kept favourite is written first, so a failure never loses the old
    // start page. After a port change the start page is the program's own
    // earlier address: the favourite kept before holds the user's real start
    // page and stays.
    const QString keptFile = favoritesFolder + QLatin1Char('/') + KeptStartPageFile;
    const bool replacingOwn = isProgramStartPage(current) && QFileInfo::exists(keptFile);
    if (!replacingOwn && !writeUrlFile(keptFile, current))
        throw IntegrationError(QStringLiteral("Unable to keep the browser's start page in %1")
                                   .arg(keptFile)
                                   .toStdString());
    if (key.writeString(StartPageValue, address) != regerror::Success)
        throw IntegrationError(QStringLiteral("Unable to set the browser's start page: %1")
                                   .arg(key.lastErrorText())
                                   .toStdString());
    return replacingOwn ? StartPageTakeover::ReplacedOwn : StartPageTakeover::TakenOver;
}

std::optional<QString> DefaultBrowserCommand() {
    const RegistryText type = ReadRegDefault(RegistryHive::ClassesRoot, QStringLiteral(".htm"));
    if (type.result != regerror::Success)
        return std::nullopt;
    const RegistryText command = ReadRegDefault(
        RegistryHive::ClassesRoot, type.text + QStringLiteral("\\shell\\open\\command"));
    if (command.result != regerror::Success)
        return std::nullopt;
    return command.text;
}

QString CutAtPlaceholder(const QString& command) {
    qsizetype at = command.indexOf(QStringLiteral("\"%1\""));
    if (at < 0)
        at = command.indexOf(QStringLiteral("%1"));
    return at < 0 ? command : command.left(at);
}

std::optional<QStringList> SplitCommandLine(const QString& commandLine) {
    QStringList words;
    QString word;
    bool inWord = false;
    for (qsizetype i = 0; i < commandLine.size(); ++i) {
        const QChar c = commandLine[i];
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == QLatin1Char('\'')) {
            const qsizetype end = commandLine.indexOf(QLatin1Char('\''), i + 1);
            if (end < 0)
                return std::nullopt;
            word += commandLine.mid(i + 1, end - i - 1);
            i = end;
        } else if (c == QLatin1Char('"')) {
            for (++i;; ++i) {
                if (i >= commandLine.size())
                    return std::nullopt;
                const QChar q = commandLine[i];
                if (q == QLatin1Char('"'))
                    break;
                // Inside double quotes a backslash only quotes these.
                if (q == QLatin1Char('\\') && i + 1 < commandLine.size() &&
                    QStringLiteral("\"\\$`\n").contains(commandLine[i + 1]))
                    ++i;
                word += commandLine[i];
            }
        } else if (c == QLatin1Char('\\')) {
            if (i + 1 < commandLine.size())
                word += commandLine[++i];
        } else {
            word += c;
        }
    }
    if (inWord)
        words << word;
    return words;
}

std::optional<QStringList> BrowserLaunchWords(const QString& command, const QString& address) {
    std::optional<QStringList> words = SplitCommandLine(CutAtPlaceholder(command));
    if (!words || words->isEmpty())
        return std::nullopt;
    *words << address;
    return words;
}

void OpenInDefaultBrowser(const QString& address) {
    const std::optional<QString> command = DefaultBrowserCommand();
    if (!command)
        return;
    const std::optional<QStringList> words = BrowserLaunchWords(*command, address);
    if (!words || address.isEmpty() || !QProcess::startDetached(words->first(), words->mid(1)))
        throw IntegrationError(LaunchFailure.toStdString());
}

} // namespace app
