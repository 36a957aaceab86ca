#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTextStream>

namespace platform {

namespace {

QString withSlash(QString path) {
    if (!path.endsWith('/'))
        path += '/';
    return path;
}

// A folder named by an environment variable; empty when it is unset or,
// against the rule for XDG variables, not an absolute path.
QString absoluteVariable(const char* name) {
    const QString value = qEnvironmentVariable(name);
    return !value.isEmpty() && QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : QString();
}

// Reads XDG_DOCUMENTS_DIR="$HOME/Docs" from user-dirs.dirs; empty when absent.
QString xdgDocumentsDir() {
    QFile file(configHome() + "/user-dirs.dirs");
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    static const QRegularExpression line(R"re(^\s*XDG_DOCUMENTS_DIR\s*=\s*"(.*)"\s*$)re");
    QTextStream in(&file);
    while (!in.atEnd()) {
        const auto match = line.match(in.readLine());
        if (!match.hasMatch())
            continue;
        QString value = match.captured(1);
        value.replace("$HOME", homeFolder());
        if (QDir::isAbsolutePath(value) && QDir::cleanPath(value) != QDir::cleanPath(homeFolder()))
            return QDir::cleanPath(value);
    }
    return {};
}

QString programFile(const char* name) {
    return programFolder() + QString::fromLatin1(name);
}

} // namespace

QString homeFolder() {
    const QString home = qEnvironmentVariable("HOME");
    return home.isEmpty() ? QDir::homePath() : QDir::cleanPath(home);
}

QString configHome() {
    const QString xdg = absoluteVariable("XDG_CONFIG_HOME");
    return xdg.isEmpty() ? homeFolder() + "/.config" : xdg;
}

QString documentsFolder() {
    const QString xdg = xdgDocumentsDir();
    return xdg.isEmpty() ? homeFolder() + "/Documents" : xdg;
}

QString dataFolder() {
    return withSlash(documentsFolder()) + "pagorama/";
}

QString documentFolder() {
    QString folder = dataFolder();
    folder.chop(1);
    return folder;
}

QString favoritesFolder() {
    return homeFolder() + "/Favorites";
}

QString cacheFolder() {
    const QString cache = absoluteVariable("XDG_CACHE_HOME");
    return (cache.isEmpty() ? homeFolder() + "/.cache" : cache) + "/pagorama";
}

QString controlFolder() {
    const QString runtime = absoluteVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime + "/pagorama";
    return cacheFolder();
}

QString programFolder() {
    const QString folder = configHome() + "/pagorama/";
    QDir().mkpath(folder);
    return folder;
}

QString settingsFilePath() {
    return programFile("pagorama.ini");
}
QString serverLogFilePath() {
    return programFile("pagorama.log");
}
QString exceptionLogFilePath() {
    return programFile("PagoraERRORLOG.txt");
}
QString runTraceFilePath() {
    return programFile("files.log");
}
QString formRecordsFilePath() {
    return programFile("values.log");
}
QString formCopyFilePath() {
    return programFile("CgiFrm1.txt");
}
QString registryFilePath() {
    return programFile("registry.reg");
}

QString tempFolder() {
    return withSlash(QDir::tempPath());
}

QString toBackslashForm(const QString& nativeRelative) {
    QString out = nativeRelative;
    out.replace('/', '\\');
    return out;
}

QString fromBackslashForm(const QString& backslashRelative) {
    QString out = backslashRelative;
    out.replace('\\', '/');
    return out;
}

} // namespace platform
