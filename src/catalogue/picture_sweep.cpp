#include "catalogue/picture_sweep.h"

#include "platform/dir_enum.h"

#include <QFile>
#include <QSet>

namespace catalogue {

namespace {

// The part of a picture's file name that its copies share.
QString stemOf(const QString& fileName) {
    return fileName.section(QLatin1Char('.'), 0, 0);
}

// A run's pictures start with the hexadecimal form of its counter (four
// characters, eight digits); anything else in the folder is not ours.
bool isPictureName(const QString& stem) {
    if (stem.size() < 8)
        return false;
    for (qsizetype i = 0; i < 8; ++i) {
        const QChar c = stem[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

// The stems of the pictures that the catalogues show, in either folder.
QSet<QString> namedStems(const QList<QByteArray>& catalogues) {
    static const QByteArray marker = "IMAGE =\"images\\";
    QSet<QString> stems;
    for (const QByteArray& text : catalogues)
        for (qsizetype at = text.indexOf(marker); at >= 0; at = text.indexOf(marker, at + 1)) {
            const qsizetype from = at + marker.size();
            const qsizetype end = text.indexOf('"', from);
            if (end <= from)
                continue;
            const QString relative = QString::fromUtf8(text.mid(from, end - from));
            stems.insert(stemOf(relative.section(QLatin1Char('\\'), -1)));
        }
    return stems;
}

} // namespace

bool RemovePicturesNotNamedBy(const QString& dataFolder, const QList<QByteArray>& catalogues) {
    const QSet<QString> shown = namedStems(catalogues);
    bool allGone = true;
    for (const char* subfolder : {"images/", "images/history/"}) {
        const QString folder = dataFolder + QLatin1String(subfolder);
        for (const char* mask : {"*.bmp", "*.png"})
            for (const platform::DirEntry& entry :
                 platform::listDirectory(folder, QLatin1String(mask))) {
                const QString stem = stemOf(entry.name);
                if (entry.isDirectory || !isPictureName(stem) || shown.contains(stem))
                    continue;
                allGone = QFile::remove(folder + entry.name) && allGone;
            }
    }
    return allGone;
}

} // namespace catalogue
