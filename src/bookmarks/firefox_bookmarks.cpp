#include "bookmarks/firefox_bookmarks.h"

#include "platform/browser_places.h"
#include "platform/sqlite_copy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <sqlite3.h>

#include <algorithm>

namespace bookmarks {

namespace {

constexpr int BookmarkType = 1;
constexpr int FolderType = 2;

struct Row {
    qint64 id = 0;
    int type = 0;
    QString title;
    QString url;
    qint64 addedMs = 0;
};

// The browser shows its top folders under these names whatever the
// database calls them.
QString topFolderName(const QString& guid, const QString& title) {
    if (guid == QLatin1String("menu________"))
        return QStringLiteral("Bookmarks Menu");
    if (guid == QLatin1String("toolbar_____"))
        return QStringLiteral("Bookmarks Toolbar");
    if (guid == QLatin1String("unfiled_____"))
        return QStringLiteral("Other Bookmarks");
    if (guid == QLatin1String("mobile______"))
        return QStringLiteral("Mobile Bookmarks");
    return title;
}

QString columnText(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(statement, column)) : QString();
}

class PlacesReader {
public:
    bool load(sqlite3* db, QString* error) {
        const char* query =
            "SELECT b.id, b.parent, b.type, b.title, p.url, b.guid, b.dateAdded FROM moz_bookmarks "
            "b "
            "LEFT JOIN moz_places p ON p.id = b.fk ORDER BY b.parent, b.position, b.id";
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, query, -1, &statement, nullptr) != SQLITE_OK) {
            *error = QStringLiteral("not a bookmarks database (%1)")
                         .arg(QString::fromUtf8(sqlite3_errmsg(db)));
            return false;
        }
        int status;
        while ((status = sqlite3_step(statement)) == SQLITE_ROW) {
            Row row;
            row.id = sqlite3_column_int64(statement, 0);
            const qint64 parent = sqlite3_column_int64(statement, 1);
            row.type = sqlite3_column_int(statement, 2);
            row.title = columnText(statement, 3).left(MaxKeptNameLength);
            if (row.type == BookmarkType)
                row.url = columnText(statement, 4);
            const QString guid = columnText(statement, 5);
            if (guid == QLatin1String("root________") || (parent == 0 && rootId_ == 0))
                rootId_ = row.id;
            // Microseconds since 1970.
            row.addedMs = std::max<qint64>(sqlite3_column_int64(statement, 6) / 1000, 0);
            guids_.insert(row.id, guid);
            children_[parent].append(std::move(row));
        }
        if (status != SQLITE_DONE)
            *error = QStringLiteral("cannot read the bookmarks (%1)")
                         .arg(QString::fromUtf8(sqlite3_errmsg(db)));
        sqlite3_finalize(statement);
        return status == SQLITE_DONE;
    }

    void addTo(TreeBuilder& builder) {
        for (const Row& top : children_.value(rootId_)) {
            const QString guid = guids_.value(top.id);
            if (top.type != FolderType || guid == QLatin1String("tags________") ||
                !children_.contains(top.id))
                continue;
            builder.openFolder(topFolderName(guid, top.title));
            addFolder(top.id, builder);
            builder.closeFolder();
        }
    }

private:
    // Walks a folder without recursion: a damaged database may nest
    // folders without end or in a circle.
    void addFolder(qint64 folderId, TreeBuilder& builder) {
        struct Open {
            qint64 id;
            qsizetype next;
        };
        QList<Open> open{{folderId, 0}};
        QSet<qint64> seen{folderId};
        while (!open.isEmpty()) {
            Open& current = open.back();
            const QList<Row>& rows = children_[current.id];
            if (current.next >= rows.size()) {
                open.removeLast();
                if (!open.isEmpty())
                    builder.closeFolder();
                continue;
            }
            const Row& row = rows[current.next++];
            if (row.type == BookmarkType) {
                builder.addBookmark(row.title, row.url, row.addedMs);
            } else if (row.type == FolderType && !seen.contains(row.id)) {
                seen.insert(row.id);
                builder.openFolder(row.title);
                open.append({row.id, 0});
            }
        }
    }

    qint64 rootId_ = 0;
    QHash<qint64, QList<Row>> children_; // parent id -> rows in position order
    QHash<qint64, QString> guids_;
};

} // namespace

bool ReadFirefoxBookmarks(const QString& path, TreeBuilder& builder, QString* error) {
    if (!QFileInfo(path).isFile()) {
        *error = QStringLiteral("%1: no such file").arg(path);
        return false;
    }
    const platform::SqliteCopy copy(path);
    if (!copy.isOpen()) {
        *error = QStringLiteral("%1: cannot be copied and opened as a database").arg(path);
        return false;
    }
    PlacesReader reader;
    QString reason;
    if (!reader.load(copy.handle(), &reason)) {
        *error = QStringLiteral("%1: %2").arg(path, reason);
        return false;
    }
    reader.addTo(builder);
    return true;
}

QStringList FirefoxPlacesFiles() {
    QStringList files;
    for (const platform::BrowserProfile& profile :
         platform::findBrowserProfiles(platform::BrowserFamily::Firefox).profiles) {
        const QString file = profile.folder + QStringLiteral("/places.sqlite");
        if (QFileInfo(file).isFile())
            files << file;
    }
    return files;
}

} // namespace bookmarks
