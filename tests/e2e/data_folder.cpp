#include "data_folder.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace e2e {

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<CatalogueFolder> savedCatalogue(const testsupport::TempHome& home) {
    QString error;
    const auto folders = readCatalogue(home.read("Documents/pagorama/listings.xml"), &error);
    EXPECT_TRUE(error.isEmpty()) << qPrintable(error);
    return folders;
}

QImage pictureOf(const testsupport::TempHome& home, const CatalogueLink& link) {
    QString relative = link.value("IMAGE");
    relative.replace('\\', '/');
    return QImage(home.dataFolder() + relative, "BMP");
}

QMap<QString, QByteArray> pictureFiles(const testsupport::TempHome& home) {
    QMap<QString, QByteArray> found;
    for (const QString& folder : {QStringLiteral("images"), QStringLiteral("images/history")}) {
        const QDir dir(home.dataFolder() + folder);
        for (const QString& name : dir.entryList({"*.BMP"}, QDir::Files))
            found.insert(folder + '/' + name, fileBytes(dir.filePath(name)));
    }
    return found;
}

QStringList picturesShownByPages(const testsupport::TempHome& home) {
    // The pages name a picture as images\NAME.BMP, the backslash possibly
    // percent-encoded.
    static const QRegularExpression image(
        R"(images(?:\\|/|%5C)((?:history(?:\\|/|%5C))?)([0-9A-F]+\.BMP))",
        QRegularExpression::CaseInsensitiveOption);
    QStringList shown;
    const QDir dir(home.dataFolder());
    for (const QString& name : dir.entryList({"*.htm"}, QDir::Files)) {
        const QString text = QString::fromUtf8(fileBytes(dir.filePath(name)));
        for (auto match = image.globalMatch(text); match.hasNext();) {
            const auto found = match.next();
            shown << "images/" + QString(found.captured(1).isEmpty() ? "" : "history/") +
                         found.captured(2);
        }
    }
    shown.removeDuplicates();
    return shown;
}

} // namespace e2e
