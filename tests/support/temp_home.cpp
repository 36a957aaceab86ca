#include "support/temp_home.h"

#include "platform/ini_file.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace testsupport {

TempHome::TempHome() {
    oldHome_ = qgetenv("HOME");
    hadConfig_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    oldConfig_ = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(dir_.path()));
    hadCache_ = qEnvironmentVariableIsSet("XDG_CACHE_HOME");
    oldCache_ = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(dir_.path() + "/.cache"));
    hadRuntime_ = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
    oldRuntime_ = qgetenv("XDG_RUNTIME_DIR");
    qputenv("HOME", QFile::encodeName(dir_.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path() + "/.config"));
    QDir().mkpath(runtimeFolder());
    QFile::setPermissions(runtimeFolder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeFolder()));
    QDir().mkpath(dir_.path() + "/Favorites");
}

namespace {
void restore(const char* name, bool wasSet, const QByteArray& value) {
    if (wasSet)
        qputenv(name, value);
    else
        qunsetenv(name);
}
} // namespace

TempHome::~TempHome() {
    qputenv("HOME", oldHome_);
    restore("XDG_CONFIG_HOME", hadConfig_, oldConfig_);
    restore("XDG_RUNTIME_DIR", hadRuntime_, oldRuntime_);
    restore("XDG_CACHE_HOME", hadCache_, oldCache_);
}

QString TempHome::runtimeFolder() const {
    return dir_.path() + "/runtime";
}

QProcessEnvironment TempHome::programEnvironment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", path());
    env.insert("XDG_CONFIG_HOME", path() + "/.config");
    env.insert("XDG_RUNTIME_DIR", runtimeFolder());
    env.insert("XDG_CACHE_HOME", path() + "/.cache");
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(variable);
    return env;
}

QString TempHome::favorites() const {
    return dir_.path() + "/Favorites";
}

QString TempHome::dataFolder() const {
    return dir_.path() + "/Documents/pagorama/";
}

QStringList TempHome::stagedPictures() const {
    QStringList found;
    QDirIterator files(dir_.path() + "/.cache/pagorama/pictures-ahead", {"*.BMP"}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext())
        found << files.next();
    return found;
}

void TempHome::write(const QString& relativePath, const QByteArray& contents) const {
    const QString full = dir_.path() + "/" + relativePath;
    QDir().mkpath(QFileInfo(full).absolutePath());
    QFile file(full);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(full));
    file.write(contents);
}

QByteArray TempHome::read(const QString& relativePath) const {
    QFile file(dir_.path() + "/" + relativePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QString TempHome::setting(const QString& section, const QString& key) const {
    return platform::IniFile(dir_.path() + "/.config/pagorama/pagorama.ini")
        .readString(section, key);
}

} // namespace testsupport
