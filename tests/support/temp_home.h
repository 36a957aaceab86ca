#pragma once
// A temporary HOME (and XDG_CONFIG_HOME, XDG_CACHE_HOME, and XDG_RUNTIME_DIR as a private
// folder inside it) for the life of a test: every Pagorama folder resolves
// inside it and it is removed afterwards.
#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testsupport {

class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    QString path() const { return dir_.path(); }
    QString favorites() const;  // <home>/Favorites, created
    QString dataFolder() const; // <home>/Documents/pagorama/ (not created)
    // The pictures that work ahead of a run keeps until the run takes them
    // (".BMP" files below the cache's staging folders).
    QStringList stagedPictures() const;
    QString runtimeFolder() const; // <home>/runtime, mode 0700: XDG_RUNTIME_DIR

    // The environment of a program started in this home: this process's
    // with HOME, XDG_CONFIG_HOME and XDG_RUNTIME_DIR inside it and no display.
    QProcessEnvironment programEnvironment() const;

    // Writes a file (creating its folders) below the home folder.
    void write(const QString& relativePath, const QByteArray& contents) const;
    QByteArray read(const QString& relativePath) const;
    // A value of the settings file as the program reads it (section and key
    // without regard to case); empty when the file or the key is missing.
    QString setting(const QString& section, const QString& key) const;

private:
    QTemporaryDir dir_;
    QByteArray oldHome_, oldConfig_, oldRuntime_, oldCache_;
    bool hadConfig_ = false, hadRuntime_ = false, hadCache_ = false;
};

} // namespace testsupport
