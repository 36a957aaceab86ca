#pragma once
// A temporary HOME (and XDG_CONFIG_HOME) for the life of a test: every
// Pagorama folder resolves inside it and it is removed afterwards.
#include <QByteArray>
#include <QString>
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

    // Writes a file (creating its folders) below the home folder.
    void write(const QString& relativePath, const QByteArray& contents) const;
    QByteArray read(const QString& relativePath) const;

private:
    QTemporaryDir dir_;
    QByteArray oldHome_, oldConfig_;
    bool hadConfig_ = false;
};

} // namespace testsupport
