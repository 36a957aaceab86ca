#include "platform/autostart.h"

#include "platform/file_replace.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>

#include <climits>
#include <unistd.h>

namespace platform {

namespace {

// One argument of an Exec line: quoted, with the characters the desktop entry
// format reserves inside quotes escaped, then the value-level escaping of
// backslashes, and '%' doubled so it is not read as a field code.
QString execArgument(const QString& path) {
    QString quotedArg = QStringLiteral("\"");
    for (const QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            quotedArg += QLatin1Char('\\');
        quotedArg += c;
    }
    quotedArg += QLatin1Char('"');
    QString out;
    for (const QChar c : quotedArg) {
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('%'))
            out += QLatin1String("%%");
        else if (c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            out += QLatin1Char(' ');
        else
            out += c;
    }
    return out;
}

} // namespace

QString runningProgramPath() {
    char link[PATH_MAX];
    const ssize_t size = ::readlink("/proc/self/exe", link, sizeof link);
    QString path = size > 0 ? QFile::decodeName(QByteArray(link, int(size))) : QString();
    // The link of a binary replaced or removed since the start names it so.
    const QLatin1String deleted(" (deleted)");
    if (path.endsWith(deleted))
        path.chop(deleted.size());
    return path;
}

QString autostartFilePath() {
    return configHome() + "/autostart/pagorama.desktop";
}

bool writeAutostartEntry(const QString& executablePath, QString* error) {
    const QString path = autostartFilePath();
    QDir().mkpath(configHome() + "/autostart");
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Pagorama\n"
                                        "Comment=Picture pages of your favourites\n"
                                        "Exec=%1\n"
                                        "Terminal=false\n"
                                        "Hidden=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(execArgument(executablePath));
    return replaceFileWhole(path, text.toUtf8(), error);
}

bool removeAutostartEntry() {
    const QString path = autostartFilePath();
    return !QFile::exists(path) || QFile::remove(path);
}

} // namespace platform
