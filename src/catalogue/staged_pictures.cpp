#include "catalogue/staged_pictures.h"

#include "catalogue/picture_files.h"
#include "platform/paths.h"

#include <QDir>

#include <atomic>
#include <cerrno>

#include <signal.h>
#include <unistd.h>

namespace catalogue {

namespace {

bool processEnded(const QString& folderName) {
    bool ok = false;
    const qint64 pid = folderName.section(QLatin1Char('-'), 0, 0).toLongLong(&ok);
    return ok && pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

QString StagedPictures::root() {
    return platform::cacheFolder() + QStringLiteral("/pictures-ahead");
}

StagedPictures::StagedPictures() {
    static std::atomic<int> made{0};
    const QDir parent(root());
    for (const QString& name : parent.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (processEnded(name))
            QDir(parent.filePath(name)).removeRecursively();
    folder_ = root() + QStringLiteral("/%1-%2/").arg(::getpid()).arg(++made);
}

StagedPictures::~StagedPictures() {
    QDir(folder_).removeRecursively();
}

bool StagedPictures::publish(const QString& relative, const QString& dataFolder,
                             QString* error) const {
    const PictureFiles staged(folder_ + platform::fromBackslashForm(relative));
    if (!staged.exists())
        return true;
    return staged.moveTo(PictureFiles(dataFolder + platform::fromBackslashForm(relative)), error);
}

void StagedPictures::discard(const QString& relative) const {
    PictureFiles(folder_ + platform::fromBackslashForm(relative)).remove();
}

} // namespace catalogue
