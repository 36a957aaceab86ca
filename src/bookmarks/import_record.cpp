#include "bookmarks/import_record.h"

#include "platform/file_replace.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace bookmarks {

namespace {

// Adds every address of folder and its subfolders to seen.
void collectAddresses(const BookmarkFolder& folder, QSet<QString>& seen) {
    for (const Bookmark& bookmark : folder.bookmarks)
        seen.insert(bookmark.url);
    for (const auto& child : folder.folders)
        collectAddresses(*child, seen);
}

// Drops the bookmarks already seen, then the folders left without any, so a
// folder the user removed is not made again for nothing.
void dropSeen(BookmarkFolder& folder, const QSet<QString>& seen) {
    folder.bookmarks.removeIf([&](const Bookmark& b) { return seen.contains(b.url); });
    for (const auto& child : folder.folders)
        dropSeen(*child, seen);
    folder.folders.removeIf([](const std::shared_ptr<BookmarkFolder>& child) {
        return child->bookmarks.isEmpty() && child->folders.isEmpty();
    });
}

enum class Only { Everything, NewAddresses };

// Imports the bookmarks of source (those the record has not seen, with
// Only::NewAddresses) and records every address of the source. Only a
// complete write counts the source as seen: after a failure the next
// import tries the rest again.
ImportResult importRecorded(const QString& source, const QString& favoritesFolder,
                            const QString& recordPath, const NoteCreated& noteCreated, Only only) {
    ImportResult result;
    BookmarkTree tree;
    if (!readBookmarks(source, tree, result))
        return result;
    QSet<QString> seen = readImportRecord(recordPath);
    const qsizetype before = seen.size();
    if (only == Only::NewAddresses)
        dropSeen(tree.root, seen);
    result.summary = WriteIntoFavorites(tree, favoritesFolder, noteCreated);
    result.error = result.summary.error;
    result.ok = result.error.isEmpty();
    if (!result.ok)
        return result;
    collectAddresses(tree.root, seen);
    if (seen.size() == before)
        return result;
    QStringList lines(seen.cbegin(), seen.cend());
    std::sort(lines.begin(), lines.end());
    QByteArray text;
    for (const QString& line : std::as_const(lines))
        if (!line.contains(QLatin1Char('\n')) && !line.contains(QLatin1Char('\r')))
            text += line.toUtf8() + '\n';
    QString error;
    QDir().mkpath(QFileInfo(recordPath).absolutePath());
    if (!platform::replaceFileWhole(recordPath, text, &error)) {
        result.ok = false;
        result.error = error;
    }
    return result;
}

} // namespace

QString importRecordPath() {
    return platform::programFolder() + QStringLiteral("bookmarks-imported.txt");
}

QSet<QString> readImportRecord(const QString& recordPath) {
    QSet<QString> addresses;
    QFile file(recordPath);
    if (!file.open(QIODevice::ReadOnly))
        return addresses;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        const QByteArray address = line.endsWith('\n') ? line.chopped(1) : line;
        if (!address.isEmpty())
            addresses.insert(QString::fromUtf8(address));
    }
    return addresses;
}

ImportResult importNewBookmarks(const QString& source, const QString& favoritesFolder,
                                const QString& recordPath, const NoteCreated& noteCreated) {
    return importRecorded(source, favoritesFolder, recordPath, noteCreated, Only::NewAddresses);
}

ImportResult importAndRecord(const QString& source, const QString& favoritesFolder,
                             const QString& recordPath, const NoteCreated& noteCreated) {
    return importRecorded(source, favoritesFolder, recordPath, noteCreated, Only::Everything);
}

} // namespace bookmarks
