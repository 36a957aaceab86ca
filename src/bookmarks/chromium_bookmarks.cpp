#include "bookmarks/chromium_bookmarks.h"

#include "platform/browser_places.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace bookmarks {

namespace {

// The top folders in the order the browser shows them; any others follow.
const char* const KnownRoots[] = {"bookmark_bar", "other", "synced"};

// Chromium counts microseconds since 1601-01-01 UTC, as a decimal text.
qint64 addedMsOf(const QJsonObject& node) {
    constexpr qint64 MsFrom1601To1970 = 11644473600000LL;
    bool ok = false;
    const qint64 us = node.value(QLatin1String("date_added")).toString().toLongLong(&ok);
    return ok && us / 1000 > MsFrom1601To1970 ? us / 1000 - MsFrom1601To1970 : 0;
}

bool isFolder(const QJsonObject& node) {
    return node.value(QLatin1String("type")).toString() == QLatin1String("folder") ||
           (!node.contains(QLatin1String("type")) &&
            node.value(QLatin1String("children")).isArray());
}

void readChildren(const QJsonArray& children, TreeBuilder& builder) {
    for (const QJsonValue& value : children) {
        const QJsonObject node = value.toObject();
        const QString name = node.value(QLatin1String("name")).toString();
        if (isFolder(node)) {
            builder.openFolder(name);
            readChildren(node.value(QLatin1String("children")).toArray(), builder);
            builder.closeFolder();
        } else if (node.value(QLatin1String("type")).toString() == QLatin1String("url")) {
            builder.addBookmark(name, node.value(QLatin1String("url")).toString(), addedMsOf(node));
        }
    }
}

} // namespace

bool ReadChromiumBookmarks(const QByteArray& json, TreeBuilder& builder, QString* error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = QStringLiteral("not a valid bookmarks file (%1 at byte %2)")
                     .arg(parseError.errorString())
                     .arg(parseError.offset);
        return false;
    }
    const QJsonObject roots = document.object().value(QLatin1String("roots")).toObject();
    if (roots.isEmpty()) {
        *error = QStringLiteral("not a bookmarks file (it has no \"roots\")");
        return false;
    }
    QStringList keys;
    for (const char* known : KnownRoots)
        if (roots.contains(QLatin1String(known)))
            keys << QLatin1String(known);
    for (const QString& key : roots.keys())
        if (!keys.contains(key))
            keys << key;
    for (const QString& key : keys) {
        const QJsonObject root = roots.value(key).toObject();
        const QJsonArray children = root.value(QLatin1String("children")).toArray();
        if (children.isEmpty())
            continue;
        QString name = root.value(QLatin1String("name")).toString();
        if (name.isEmpty())
            name = key;
        builder.openFolder(name);
        readChildren(children, builder);
        builder.closeFolder();
    }
    return true;
}

QStringList ChromiumBookmarkFiles() {
    QStringList files;
    for (const platform::BrowserProfile& profile :
         platform::findBrowserProfiles(platform::BrowserFamily::Chromium).profiles) {
        const QString file = profile.folder + QStringLiteral("/Bookmarks");
        if (QFileInfo(file).isFile())
            files << file;
    }
    return files;
}

} // namespace bookmarks
