#include "support/temp_home.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace testsupport {

TempHome::TempHome() {
    oldHome_ = qgetenv("HOME");
    hadConfig_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    oldConfig_ = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(dir_.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path() + "/.config"));
    QDir().mkpath(dir_.path() + "/Favorites");
}

TempHome::~TempHome() {
    qputenv("HOME", oldHome_);
    if (hadConfig_)
        qputenv("XDG_CONFIG_HOME", oldConfig_);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

QString TempHome::favorites() const {
    return dir_.path() + "/Favorites";
}

QString TempHome::dataFolder() const {
    return dir_.path() + "/Documents/pagorama/";
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

} // namespace testsupport
